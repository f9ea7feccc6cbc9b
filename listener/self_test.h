#pragma once
// The built-in check of the shortcut state machine, run with "--self-test".

// Drives both recognizers through fixed scenarios; true when every check held.
// Replaces the listener state's bindings, Caps Lock state and observations as it goes.
bool selfTestPasses();

// The line written on success.
inline constexpr const char* kSelfTestPassLine =
    "native shortcut state-machine PASS; default, replacement, remapped and Caps Lock "
    "preservation\n";
