#pragma once
// The listener's one key vocabulary: event types, key codes and flag bits in the numbering of
// Quartz event services, on every system. The recognizers, the self-test and both systems'
// event sources speak it; no other file spells these numbers.

#include <cstdint>

// Event types.
inline constexpr int32_t kKeyDown = 10;
inline constexpr int32_t kKeyUp = 11;
inline constexpr int32_t kFlagsChanged = 12;
// What a tap is given when the system has disabled it: by a callback time-out, or by user input.
inline constexpr uint32_t kTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr uint32_t kTapDisabledByUserInput = 0xFFFFFFFF;

// Key down, key up and flags changed.
inline constexpr uint64_t mask = (1ull << kKeyDown) | (1ull << kKeyUp) | (1ull << kFlagsChanged);

// Flag bits.
inline constexpr uint64_t kFlagCapsLock = 0x10000;
inline constexpr uint64_t kFlagShift = 0x20000;
inline constexpr uint64_t kFlagControl = 0x40000;
inline constexpr uint64_t kFlagOption = 0x80000;
inline constexpr uint64_t kFlagCommand = 0x100000;
inline constexpr uint64_t kFlagFn = 0x800000;
// The six modifier bits that AppKit and Quartz share, and the only ones the listener reads.
inline constexpr uint64_t kModifierFlags =
    kFlagCapsLock | kFlagShift | kFlagControl | kFlagOption | kFlagCommand | kFlagFn;

// Key codes: virtual key codes, which name a key by its place on a Mac keyboard (the letters by
// their place on a US one), whatever the layout. They run from 0 to kKeyCodeLimit - 1.
inline constexpr int64_t kKeyCodeLimit = 128;

// Letters, digits and punctuation.
inline constexpr int64_t kKeyA = 0;
inline constexpr int64_t kKeyS = 1;
inline constexpr int64_t kKeyD = 2;
inline constexpr int64_t kKeyF = 3;
inline constexpr int64_t kKeyH = 4;
inline constexpr int64_t kKeyG = 5;
inline constexpr int64_t kKeyZ = 6;
inline constexpr int64_t kKeyX = 7;
inline constexpr int64_t kKeyC = 8;
inline constexpr int64_t kKeyV = 9;
inline constexpr int64_t kKeyIsoSection = 10;
inline constexpr int64_t kKeyB = 11;
inline constexpr int64_t kKeyQ = 12;
inline constexpr int64_t kKeyW = 13;
inline constexpr int64_t kKeyE = 14;
inline constexpr int64_t kKeyR = 15;
inline constexpr int64_t kKeyY = 16;
inline constexpr int64_t kKeyT = 17;
inline constexpr int64_t kKey1 = 18;
inline constexpr int64_t kKey2 = 19;
inline constexpr int64_t kKey3 = 20;
inline constexpr int64_t kKey4 = 21;
inline constexpr int64_t kKey6 = 22;
inline constexpr int64_t kKey5 = 23;
inline constexpr int64_t kKeyEqual = 24;
inline constexpr int64_t kKey9 = 25;
inline constexpr int64_t kKey7 = 26;
inline constexpr int64_t kKeyMinus = 27;
inline constexpr int64_t kKey8 = 28;
inline constexpr int64_t kKey0 = 29;
inline constexpr int64_t kKeyRightBracket = 30;
inline constexpr int64_t kKeyO = 31;
inline constexpr int64_t kKeyU = 32;
inline constexpr int64_t kKeyLeftBracket = 33;
inline constexpr int64_t kKeyI = 34;
inline constexpr int64_t kKeyP = 35;
inline constexpr int64_t kKeyL = 37;
inline constexpr int64_t kKeyJ = 38;
inline constexpr int64_t kKeyQuote = 39;
inline constexpr int64_t kKeyK = 40;
inline constexpr int64_t kKeySemicolon = 41;
inline constexpr int64_t kKeyBackslash = 42;
inline constexpr int64_t kKeyComma = 43;
inline constexpr int64_t kKeySlash = 44;
inline constexpr int64_t kKeyN = 45;
inline constexpr int64_t kKeyM = 46;
inline constexpr int64_t kKeyPeriod = 47;
inline constexpr int64_t kKeyGrave = 50;

// Keys that type no character of a layout.
inline constexpr int64_t kKeyReturn = 36;
inline constexpr int64_t kKeyTab = 48;
inline constexpr int64_t kKeySpace = 49;
inline constexpr int64_t kKeyDelete = 51; // backspace
inline constexpr int64_t kKeyEscape = 53;
inline constexpr int64_t kKeyForwardDelete = 117;
inline constexpr int64_t kKeyHelp = 114; // Insert on a PC keyboard
inline constexpr int64_t kKeyHome = 115;
inline constexpr int64_t kKeyEnd = 119;
inline constexpr int64_t kKeyPageUp = 116;
inline constexpr int64_t kKeyPageDown = 121;
inline constexpr int64_t kKeyLeftArrow = 123;
inline constexpr int64_t kKeyRightArrow = 124;
inline constexpr int64_t kKeyDownArrow = 125;
inline constexpr int64_t kKeyUpArrow = 126;
inline constexpr int64_t kKeyContextMenu = 110;
inline constexpr int64_t kKeyVolumeUp = 72;
inline constexpr int64_t kKeyVolumeDown = 73;
inline constexpr int64_t kKeyMute = 74;

// The modifier keys: their changes come as flags-changed events.
inline constexpr int64_t kKeyRightCommand = 54;
inline constexpr int64_t kKeyCommand = 55;
inline constexpr int64_t kKeyShift = 56;
inline constexpr int64_t kKeyCapsLock = 57;
inline constexpr int64_t kKeyOption = 58;
inline constexpr int64_t kKeyControl = 59;
inline constexpr int64_t kKeyRightShift = 60;
inline constexpr int64_t kKeyRightOption = 61;
inline constexpr int64_t kKeyRightControl = 62;
inline constexpr int64_t kKeyFn = 63;

constexpr bool isModifier(int64_t keyCode) {
    return keyCode >= kKeyRightCommand && keyCode <= kKeyFn;
}

// Function keys.
inline constexpr int64_t kKeyF1 = 122;
inline constexpr int64_t kKeyF2 = 120;
inline constexpr int64_t kKeyF3 = 99;
inline constexpr int64_t kKeyF4 = 118;
inline constexpr int64_t kKeyF5 = 96;
inline constexpr int64_t kKeyF6 = 97;
inline constexpr int64_t kKeyF7 = 98;
inline constexpr int64_t kKeyF8 = 100;
inline constexpr int64_t kKeyF9 = 101;
inline constexpr int64_t kKeyF10 = 109;
inline constexpr int64_t kKeyF11 = 103;
inline constexpr int64_t kKeyF12 = 111;
inline constexpr int64_t kKeyF13 = 105;
inline constexpr int64_t kKeyF14 = 107;
inline constexpr int64_t kKeyF15 = 113;
inline constexpr int64_t kKeyF16 = 106;
inline constexpr int64_t kKeyF17 = 64;
inline constexpr int64_t kKeyF18 = 79;
inline constexpr int64_t kKeyF19 = 80;
inline constexpr int64_t kKeyF20 = 90;

// The keypad.
inline constexpr int64_t kKeyKeypadDecimal = 65;
inline constexpr int64_t kKeyKeypadMultiply = 67;
inline constexpr int64_t kKeyKeypadPlus = 69;
inline constexpr int64_t kKeyKeypadClear = 71; // Num Lock on a PC keyboard
inline constexpr int64_t kKeyKeypadDivide = 75;
inline constexpr int64_t kKeyKeypadEnter = 76;
inline constexpr int64_t kKeyKeypadMinus = 78;
inline constexpr int64_t kKeyKeypadEquals = 81;
inline constexpr int64_t kKeyKeypad0 = 82;
inline constexpr int64_t kKeyKeypad1 = 83;
inline constexpr int64_t kKeyKeypad2 = 84;
inline constexpr int64_t kKeyKeypad3 = 85;
inline constexpr int64_t kKeyKeypad4 = 86;
inline constexpr int64_t kKeyKeypad5 = 87;
inline constexpr int64_t kKeyKeypad6 = 88;
inline constexpr int64_t kKeyKeypad7 = 89;
inline constexpr int64_t kKeyKeypad8 = 91;
inline constexpr int64_t kKeyKeypad9 = 92;

// Keys of Japanese keyboards.
inline constexpr int64_t kKeyJisYen = 93;
inline constexpr int64_t kKeyJisUnderscore = 94;
inline constexpr int64_t kKeyJisKeypadComma = 95;
inline constexpr int64_t kKeyJisEisu = 102;
inline constexpr int64_t kKeyJisKana = 104;
