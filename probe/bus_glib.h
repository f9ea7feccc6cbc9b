#pragma once
// Bounded D-Bus calls through GIO. Every call of one run shares one deadline, so a frozen
// peer costs at most the remaining budget; no call ever starts a bus of its own.

#include <gio/gio.h>

#include <climits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct GObjectUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct VariantUnref {
    void operator()(GVariant* value) const {
        if (value) g_variant_unref(value);
    }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

// A point on the monotonic clock after which no call is made any more.
class Deadline {
  public:
    explicit Deadline(int budgetMs) : endUs_(g_get_monotonic_time() + gint64{budgetMs} * 1000) {}
    // Milliseconds left, at least 1 while time remains, 0 once it is over.
    int remainingMs() const;

  private:
    gint64 endUs_;
};

// The session bus named by DBUS_SESSION_BUS_ADDRESS, else the socket $XDG_RUNTIME_DIR/bus.
// Autolaunch addresses are dropped: with none of these there is no session bus to use.
std::optional<std::string> sessionBusAddress();

// A message-bus connection to the first usable of `addresses` (autolaunch entries are never
// used), authenticated and registered, or null once the deadline passes or the peer refuses.
GObjectPtr<GDBusConnection> connectToBus(const std::string& addresses, const Deadline& deadline);

struct Call {
    const char* destination;
    const char* path;
    const char* interface;
    const char* method;
};

// A method call that waits at most min(remaining budget, capMs). `arguments` may be floating
// and is always consumed. Null on any error, time-out or a reply not of `replyType`.
VariantPtr callMethod(GDBusConnection* bus, const Call& call, GVariant* arguments,
                      const char* replyType, const Deadline& deadline, int capMs = INT_MAX,
                      bool mayActivate = false);

// One call of a batch; `arguments` may be floating and is always consumed.
struct PendingCall {
    Call call;
    GVariant* arguments = nullptr;
    const char* replyType = nullptr;
};

// Sends every call at once and waits until each has its reply or its time-out of
// min(remaining budget, capMs), so a frozen peer costs only its own call's time. The replies
// come in the order of the calls; null where that call failed.
std::vector<VariantPtr> callAll(GDBusConnection* bus, const std::vector<PendingCall>& calls,
                                const Deadline& deadline, int capMs = INT_MAX);
