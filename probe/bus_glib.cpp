#include "bus_glib.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>

namespace {

// The state of one asynchronous connection attempt; the callback runs on our own context.
struct Attempt {
    GDBusConnection* connection = nullptr;
    GCancellable* cancellable = g_cancellable_new();
    bool done = false;
    bool abandoned = false;
};

void onConnected(GObject*, GAsyncResult* result, gpointer data) {
    auto* attempt = static_cast<Attempt*>(data);
    attempt->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
    attempt->done = true;
}

gboolean cancelAttempt(gpointer data) {
    g_cancellable_cancel(static_cast<Attempt*>(data)->cancellable);
    return G_SOURCE_REMOVE;
}

gboolean abandonAttempt(gpointer data) {
    static_cast<Attempt*>(data)->abandoned = true;
    return G_SOURCE_REMOVE;
}

GSource* addTimer(GMainContext* context, int ms, GSourceFunc callback, Attempt* attempt) {
    GSource* timer = g_timeout_source_new(static_cast<guint>(ms));
    g_source_set_callback(timer, callback, attempt, nullptr);
    g_source_attach(timer, context);
    return timer;
}

void removeTimer(GSource* timer) {
    g_source_destroy(timer);
    g_source_unref(timer);
}

std::string withoutAutolaunch(std::string_view addresses) {
    std::string kept;
    while (!addresses.empty()) {
        std::size_t end = std::min(addresses.find(';'), addresses.size());
        std::string_view entry = addresses.substr(0, end);
        addresses.remove_prefix(std::min(end + 1, addresses.size()));
        if (entry.empty() || entry.starts_with("autolaunch:")) continue;
        if (!kept.empty()) kept.push_back(';');
        kept += entry;
    }
    return kept;
}

// Replies of one batch; each callback fills its slot and counts down.
struct Batch {
    std::vector<VariantPtr> replies;
    std::size_t pending = 0;
};

struct Slot {
    Batch* batch;
    std::size_t index;
};

void onReply(GObject* source, GAsyncResult* result, gpointer data) {
    auto* slot = static_cast<Slot*>(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    g_clear_error(&error);
    slot->batch->replies[slot->index].reset(reply);
    --slot->batch->pending;
    delete slot;
}

} // namespace

int Deadline::remainingMs() const {
    gint64 leftUs = endUs_ - g_get_monotonic_time();
    if (leftUs <= 0) return 0;
    return static_cast<int>(std::max<gint64>(1, leftUs / 1000));
}

std::optional<std::string> sessionBusAddress() {
    const char* fromEnvironment = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (fromEnvironment && *fromEnvironment) {
        std::string kept = withoutAutolaunch(fromEnvironment);
        if (kept.empty()) return std::nullopt;
        return kept;
    }
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (!runtimeDir || !*runtimeDir) return std::nullopt;
    std::string socket = std::string(runtimeDir) + "/bus";
    struct stat info {};
    if (stat(socket.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return std::nullopt;
    gchar* escaped = g_dbus_address_escape_value(socket.c_str());
    std::string address = std::string("unix:path=") + escaped;
    g_free(escaped);
    return address;
}

GObjectPtr<GDBusConnection> connectToBus(const std::string& addresses, const Deadline& deadline) {
    // An autolaunch entry would start a bus of its own; such a bus is not the session's.
    const std::string address = withoutAutolaunch(addresses);
    int budget = deadline.remainingMs();
    if (budget == 0 || address.empty() || !g_dbus_is_supported_address(address.c_str(), nullptr)) {
        return nullptr;
    }
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    // Heap state: an attempt that ignores its cancellation may still report after we leave.
    auto* attempt = new Attempt;
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    g_dbus_connection_new_for_address(address.c_str(), flags, nullptr, attempt->cancellable,
                                      onConnected, attempt);
    GSource* cancelTimer = addTimer(context, budget, cancelAttempt, attempt);
    GSource* abandonTimer = addTimer(context, budget + 200, abandonAttempt, attempt);
    while (!attempt->done && !attempt->abandoned)
        g_main_context_iteration(context, TRUE);
    removeTimer(cancelTimer);
    removeTimer(abandonTimer);
    g_main_context_pop_thread_default(context);
    if (!attempt->done) return nullptr; // its context and state stay alive for its callback
    GObjectPtr<GDBusConnection> connection(attempt->connection);
    g_object_unref(attempt->cancellable);
    delete attempt;
    g_main_context_unref(context);
    return connection;
}

VariantPtr callMethod(GDBusConnection* bus, const Call& call, GVariant* arguments,
                      const char* replyType, const Deadline& deadline, int capMs,
                      bool mayActivate) {
    if (arguments) g_variant_ref_sink(arguments);
    VariantPtr ownedArguments(arguments);
    int timeout = std::min(deadline.remainingMs(), capMs);
    if (!bus || timeout <= 0) return nullptr;
    GError* error = nullptr;
    GDBusCallFlags flags = mayActivate ? G_DBUS_CALL_FLAGS_NONE : G_DBUS_CALL_FLAGS_NO_AUTO_START;
    GVariant* reply = g_dbus_connection_call_sync(
        bus, call.destination, call.path, call.interface, call.method, ownedArguments.get(),
        replyType ? G_VARIANT_TYPE(replyType) : nullptr, flags, timeout, nullptr, &error);
    g_clear_error(&error);
    return VariantPtr(reply);
}

std::vector<VariantPtr> callAll(GDBusConnection* bus, const std::vector<PendingCall>& calls,
                                const Deadline& deadline, int capMs) {
    Batch batch;
    batch.replies.resize(calls.size());
    int timeout = std::min(deadline.remainingMs(), capMs);
    if (!bus || timeout <= 0) {
        for (const PendingCall& pending : calls) {
            if (pending.arguments) g_variant_unref(g_variant_ref_sink(pending.arguments));
        }
        return std::move(batch.replies);
    }
    // Replies are dispatched to this context only, so nothing else runs while we wait.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const PendingCall& pending = calls[i];
        ++batch.pending;
        g_dbus_connection_call(bus, pending.call.destination, pending.call.path,
                               pending.call.interface, pending.call.method, pending.arguments,
                               pending.replyType ? G_VARIANT_TYPE(pending.replyType) : nullptr,
                               G_DBUS_CALL_FLAGS_NO_AUTO_START, timeout, nullptr, onReply,
                               new Slot{&batch, i});
    }
    // Every call ends by its reply or its own time-out, so this loop ends.
    while (batch.pending > 0)
        g_main_context_iteration(context, TRUE);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return std::move(batch.replies);
}
