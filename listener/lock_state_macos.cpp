// Caps Lock through the "IOHIDSystem" parameter connection; session flags from Quartz.

#include "lock_state.h"

#include <ApplicationServices/ApplicationServices.h>
#include <IOKit/IOKitLib.h>
#include <IOKit/hidsystem/IOHIDLib.h>
#include <IOKit/hidsystem/IOHIDParameter.h>
#include <mach/mach.h>

namespace {

class HidLockState final : public LockState {
  public:
    explicit HidLockState(io_connect_t connection) : connection_(connection) {}

    std::optional<bool> capsLocked() override {
        bool state = false;
        if (IOHIDGetModifierLockState(connection_, kIOHIDCapsLockState, &state) != KERN_SUCCESS)
            return std::nullopt;
        return state;
    }

    bool setCapsLocked(bool on) override {
        return IOHIDSetModifierLockState(connection_, kIOHIDCapsLockState, on) == KERN_SUCCESS;
    }

  private:
    // Held for the life of the process; never closed.
    io_connect_t connection_;
};

} // namespace

std::unique_ptr<LockState> openLockState() {
    io_service_t service =
        IOServiceGetMatchingService(kIOMainPortDefault, IOServiceMatching(kIOHIDSystemClass));
    if (service == IO_OBJECT_NULL) return nullptr;
    io_connect_t connection = 0;
    // The result of the open is not looked at: a failed open leaves the handle 0.
    (void)IOServiceOpen(service, mach_task_self(), kIOHIDParamConnectType, &connection);
    IOObjectRelease(service);
    if (connection == 0) return nullptr;
    return std::make_unique<HidLockState>(connection);
}

uint64_t sessionFlags() {
    return static_cast<uint64_t>(CGEventSourceFlagsState(kCGEventSourceStateCombinedSessionState));
}
