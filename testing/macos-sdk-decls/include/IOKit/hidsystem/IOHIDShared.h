// The HID system's class name, connection types and lock-state selectors.
#pragma once
#include <IOKit/IOKitLib.h>

#define kIOHIDSystemClass "IOHIDSystem"

enum {
    kIOHIDCapsLockState = 0x00000001,
    kIOHIDNumLockState = 0x00000002,
    kIOHIDActivityUserIdle = 0x00000003,
    kIOHIDActivityDisplayOn = 0x00000004,
};

enum {
    kIOHIDServerConnectType = 0,
    kIOHIDParamConnectType = 1,
    kIOHIDEventSystemConnectType = 3,
};
