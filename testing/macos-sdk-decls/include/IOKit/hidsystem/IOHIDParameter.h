// HID system parameter keys.
#pragma once
#include <IOKit/hidsystem/IOHIDShared.h>

#define kIOHIDKeyboardCapsLockDelayOverride "HIDKeyboardCapsLockDelayOverride"
#define kIOHIDFKeyModeKey "HIDFKeyMode"
