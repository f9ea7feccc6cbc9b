#include "bus_glib.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>

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

// Replies of one batch, filled in by the router in GDBus's worker thread.
struct Batch {
    std::vector<GDBusMessage*> messages;
    std::size_t pending = 0;
};

// Routes the replies of batched calls, by serial, to the batch that waits for them. It runs
// in GDBus's worker thread as a message filter, so that a batch of many calls costs neither
// a task nor a timer nor a wake-up of the caller per call: the caller wakes once, when the
// last reply is in or its time is up.
struct ReplyRouter {
    GMutex lock;
    GCond arrived;
    std::unordered_map<guint32, std::pair<Batch*, std::size_t>> waiting;
};

GDBusMessage* routeReply(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                         gpointer data) {
    GDBusMessageType type = g_dbus_message_get_message_type(message);
    if (!incoming ||
        (type != G_DBUS_MESSAGE_TYPE_METHOD_RETURN && type != G_DBUS_MESSAGE_TYPE_ERROR)) {
        return message;
    }
    auto* router = static_cast<ReplyRouter*>(data);
    g_mutex_lock(&router->lock);
    auto found = router->waiting.find(g_dbus_message_get_reply_serial(message));
    if (found == router->waiting.end()) {
        g_mutex_unlock(&router->lock);
        return message;
    }
    auto [batch, index] = found->second;
    router->waiting.erase(found);
    batch->messages[index] = message; // the filter owns the message and hands it on
    if (--batch->pending == 0) g_cond_broadcast(&router->arrived);
    g_mutex_unlock(&router->lock);
    return nullptr;
}

void freeRouter(gpointer data) {
    auto* router = static_cast<ReplyRouter*>(data);
    g_mutex_clear(&router->lock);
    g_cond_clear(&router->arrived);
    delete router;
}

// The connection's router, installed once; it lives as long as the connection, since a
// filter may still run in the worker thread after it is removed.
ReplyRouter* routerOf(GDBusConnection* bus) {
    static const char* const kKey = "selection-probe-reply-router";
    auto* router = static_cast<ReplyRouter*>(g_object_get_data(G_OBJECT(bus), kKey));
    if (router) return router;
    router = new ReplyRouter;
    g_mutex_init(&router->lock);
    g_cond_init(&router->arrived);
    g_dbus_connection_add_filter(bus, routeReply, router, freeRouter);
    g_object_set_data(G_OBJECT(bus), kKey, router);
    return router;
}

// The body of a method return of the expected type; null for errors and other types.
VariantPtr replyBody(GDBusMessage* message, const char* replyType) {
    if (!message || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_RETURN)
        return nullptr;
    GVariant* body = g_dbus_message_get_body(message);
    if (!body || (replyType && !g_variant_is_of_type(body, G_VARIANT_TYPE(replyType))))
        return nullptr;
    return VariantPtr(g_variant_ref(body));
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

namespace {

// A call whose names an application gave may be malformed ("" for a bus name, say): GDBus
// would only complain on standard error, so such a call is never made.
bool wellFormed(const Call& call) {
    return call.destination && g_dbus_is_name(call.destination) && call.path &&
           g_variant_is_object_path(call.path) && g_dbus_is_interface_name(call.interface) &&
           g_dbus_is_member_name(call.method);
}

} // namespace

VariantPtr callMethod(GDBusConnection* bus, const Call& call, GVariant* arguments,
                      const char* replyType, const Deadline& deadline, int capMs,
                      bool mayActivate) {
    if (arguments) g_variant_ref_sink(arguments);
    VariantPtr ownedArguments(arguments);
    int timeout = std::min(deadline.remainingMs(), capMs);
    if (!bus || timeout <= 0 || !wellFormed(call)) return nullptr;
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
    std::vector<VariantPtr> replies(calls.size());
    int timeout = std::min(deadline.remainingMs(), capMs);
    if (!bus || timeout <= 0) {
        for (const PendingCall& pending : calls) {
            if (pending.arguments) g_variant_unref(g_variant_ref_sink(pending.arguments));
        }
        return replies;
    }
    ReplyRouter* router = routerOf(bus);
    Batch batch;
    batch.messages.resize(calls.size(), nullptr);
    gint64 endUs = g_get_monotonic_time() + gint64{timeout} * 1000;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const Call& call = calls[i].call;
        if (!wellFormed(call)) {
            if (calls[i].arguments) g_variant_unref(g_variant_ref_sink(calls[i].arguments));
            continue;
        }
        GDBusMessage* message = g_dbus_message_new_method_call(call.destination, call.path,
                                                               call.interface, call.method);
        if (calls[i].arguments) g_dbus_message_set_body(message, calls[i].arguments);
        g_dbus_message_set_flags(message, G_DBUS_MESSAGE_FLAGS_NO_AUTO_START);
        guint32 serial = 0;
        // Held from the send until the serial is known, so that no reply is routed before;
        // only that long, since the worker thread that writes the next calls waits for it
        // while it routes a reply.
        g_mutex_lock(&router->lock);
        if (g_dbus_connection_send_message(bus, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE, &serial,
                                           nullptr)) {
            router->waiting[serial] = {&batch, i};
            ++batch.pending;
        }
        g_mutex_unlock(&router->lock);
        g_object_unref(message);
    }
    g_mutex_lock(&router->lock);
    while (batch.pending > 0 && g_cond_wait_until(&router->arrived, &router->lock, endUs)) {
    }
    // Calls still unanswered are given up; their late replies pass the router untouched.
    std::erase_if(router->waiting, [&](const auto& entry) { return entry.second.first == &batch; });
    g_mutex_unlock(&router->lock);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        replies[i] = replyBody(batch.messages[i], calls[i].replyType);
        if (batch.messages[i]) g_object_unref(batch.messages[i]);
    }
    return replies;
}
