#include "wake_atspi.h"

#include "focus_walk_atspi.h"
#include "names_atspi.h"
#include "replies_atspi.h"

#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kApplicationLimit = 64;
constexpr std::size_t kWindowLimit = 64;
// Each call waits at most this long: a frozen application costs no more than that.
constexpr int kWakeCallCapMs = 100;

bool isChromium(GVariant* reply) {
    if (!reply) return false;
    GVariant* inner = nullptr;
    g_variant_get(reply, "(v)", &inner);
    VariantPtr value(inner);
    return g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING) &&
           std::strcmp(g_variant_get_string(value.get(), nullptr), "Chromium") == 0;
}

// The applications of the active window's process, when it is known; the bus daemon answers,
// so a frozen application costs nothing here.
Objects ofActiveProcess(GDBusConnection* bus, const Objects& apps, const Deadline& deadline,
                        std::optional<std::uint32_t> activeWindowPid) {
    if (!activeWindowPid) return apps;
    std::vector<std::optional<std::uint32_t>> pids = pidsOf(bus, apps, deadline, kWakeCallCapMs);
    Objects found;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        if (pids[i] == activeWindowPid) found.push_back(apps[i]);
    }
    return found;
}

// The applications whose toolkit is Chromium.
Objects chromiumApplications(GDBusConnection* bus, const Objects& apps, const Deadline& deadline) {
    std::vector<PendingCall> calls;
    for (const AtspiObject& app : apps) {
        calls.push_back({{app.bus.c_str(), atspi::kRootPath, atspi::kPropertiesInterface, "Get"},
                         g_variant_new("(ss)", atspi::kApplicationInterface, "ToolkitName"),
                         "(v)"});
    }
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, kWakeCallCapMs);
    Objects found;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        if (isChromium(replies[i].get())) found.push_back(apps[i]);
    }
    return found;
}

// The windows whose tree is off: their child is the null object, as long as Chromium's
// accessibility is off. A window woken once is not asked again.
Objects asleep(GDBusConnection* bus, const Objects& windows, const Deadline& deadline) {
    std::vector<PendingCall> calls;
    for (const AtspiObject& window : windows) {
        calls.push_back(
            {{window.bus.c_str(), window.path.c_str(), atspi::kAccessibleInterface, "GetChildren"},
             nullptr,
             "(a(so))"});
    }
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, kWakeCallCapMs);
    Objects found;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        Objects children = objectsIn(replies[i].get(), 1);
        if (!children.empty() && children.front().path == atspi::kNullPath)
            found.push_back(windows[i]);
    }
    return found;
}

} // namespace

bool wakeChromium(GDBusConnection* bus, const Deadline& deadline,
                  std::optional<std::uint32_t> activeWindowPid) {
    const char* accessible = atspi::kAccessibleInterface;
    VariantPtr registry =
        callMethod(bus, {atspi::kRegistryBus, atspi::kRootPath, accessible, "GetChildren"}, nullptr,
                   "(a(so))", deadline, kWakeCallCapMs);
    Objects apps = objectsIn(registry.get(), kApplicationLimit);
    Objects chromium =
        chromiumApplications(bus, ofActiveProcess(bus, apps, deadline, activeWindowPid), deadline);
    std::vector<PendingCall> calls;
    for (const AtspiObject& app : chromium) {
        calls.push_back(
            {{app.bus.c_str(), app.path.c_str(), accessible, "GetChildren"}, nullptr, "(a(so))"});
    }
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, kWakeCallCapMs);
    Objects windows;
    for (const VariantPtr& reply : replies) {
        for (const AtspiObject& window : objectsIn(reply.get(), kWindowLimit))
            windows.push_back(window);
    }
    Objects asked = asleep(bus, windows, deadline);
    calls.clear();
    for (const AtspiObject& window : asked) {
        calls.push_back({{window.bus.c_str(), window.path.c_str(), accessible, "GetAttributes"},
                         nullptr,
                         "(a{ss})"});
    }
    callAll(bus, calls, deadline, kWakeCallCapMs);
    return !asked.empty();
}
