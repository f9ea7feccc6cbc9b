#pragma once
// Key labels and key codes on X11: the text a key-down carries, made from the key's keysym so
// that it shows what macOS's characters-ignoring-modifiers shows for the same key, and the
// macOS key code of each key of the XKB keymap.

#include "intake_keys.h"

#include <cstdint>
#include <optional>
#include <string>

// The label of one keysym, as UTF-8:
// - keysyms with characters give those characters (libxkbcommon's conversion);
// - function keys, arrows and the editing keys give the private-use characters that AppKit
//   uses for them (F1 U+F704, up arrow U+F700, forward delete U+F728, ...);
// - BackSpace gives U+007F and the keypad's Enter U+0003, as the Mac keys in their places do;
// - dead keys give their accent as a spacing character (dead_acute: U+00B4);
// - everything else (modifiers, keypad keys without Num Lock, unknown keysyms) gives "".
std::string keysymLabel(uint32_t keysym);

// Whether the keysym belongs to the keypad (KP_Space to KP_9).
bool isKeypadKeysym(uint32_t keysym);

// Look-ups in an XKB keymap. They are declared without the X headers, whose macros (None, Bool,
// Status) break other headers: `_XkbDesc` is XKBlib's XkbDescRec, the key code an X KeyCode
// and the keysym an X KeySym.
struct _XkbDesc;

// The key's labels in each of the keymap's groups, without and with Shift (see KeyLabels).
KeyLabels labelsOf(_XkbDesc* keyboard, unsigned char code);

// The macOS key code of an X key whose level-0 keysym is given: XF86Fn is fn, Caps_Lock Caps
// Lock and Escape Escape wherever the layout puts them; every other key goes by its position,
// except that a key is Caps Lock only by its keysym: the Caps Lock position with a modifier
// keysym is that modifier (ctrl:nocaps: kKeyControl), with any other keysym none.
std::optional<int64_t> macKeyOf(unsigned code, unsigned long keysym);
