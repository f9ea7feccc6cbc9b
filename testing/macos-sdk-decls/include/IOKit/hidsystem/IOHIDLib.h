// The HID system's parameter calls: modifier lock state.
#pragma once
#include <IOKit/hidsystem/IOHIDShared.h>

__BEGIN_DECLS
kern_return_t IOHIDGetModifierLockState(io_connect_t handle, int selector, bool* state);
kern_return_t IOHIDSetModifierLockState(io_connect_t handle, int selector, bool state);
kern_return_t IOHIDGetStateForSelector(io_connect_t handle, int selector, uint32_t* state);
kern_return_t IOHIDSetStateForSelector(io_connect_t handle, int selector, uint32_t state);
__END_DECLS
