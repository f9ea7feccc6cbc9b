#pragma once
// Key labels on X11: the text a key-down carries, made from the key's keysym so that it shows
// what macOS's characters-ignoring-modifiers shows for the same key.

#include <cstdint>
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
