#include "focus_atspi.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace {

constexpr int kStateActive = 1;
constexpr int kStateFocused = 12;
constexpr int kStateShowing = 25;
constexpr guint32 kSortCanonical = 1;
constexpr gint32 kMatchAll = 1;
// One unresponsive application must not use up the whole budget of the search.
constexpr int kSearchCallCapMs = 250;
constexpr std::size_t kWalkLimit = 3000;

const char* const kAccessible = "org.a11y.atspi.Accessible";

bool hasState(std::uint64_t states, int state) {
    return (states >> state) & 1u;
}

std::optional<std::vector<AtspiObject>> childrenOf(GDBusConnection* bus, const AtspiObject& parent,
                                                   const Deadline& deadline) {
    VariantPtr reply =
        callMethod(bus, {parent.bus.c_str(), parent.path.c_str(), kAccessible, "GetChildren"},
                   nullptr, "(a(so))", deadline, kSearchCallCapMs);
    if (!reply) return std::nullopt;
    std::vector<AtspiObject> children;
    GVariantIter* iter = nullptr;
    g_variant_get(reply.get(), "(a(so))", &iter);
    const gchar* name = nullptr;
    const gchar* path = nullptr;
    while (g_variant_iter_next(iter, "(&s&o)", &name, &path))
        children.push_back({name, path});
    g_variant_iter_free(iter);
    return children;
}

std::optional<std::uint64_t> statesOf(GDBusConnection* bus, const AtspiObject& object,
                                      const Deadline& deadline) {
    VariantPtr reply =
        callMethod(bus, {object.bus.c_str(), object.path.c_str(), kAccessible, "GetState"}, nullptr,
                   "(au)", deadline, kSearchCallCapMs);
    if (!reply) return std::nullopt;
    GVariantIter* iter = nullptr;
    g_variant_get(reply.get(), "(au)", &iter);
    std::uint64_t states = 0;
    guint32 word = 0;
    for (int shift = 0; shift < 64 && g_variant_iter_next(iter, "u", &word); shift += 32) {
        states |= std::uint64_t{word} << shift;
    }
    g_variant_iter_free(iter);
    return states;
}

std::optional<AtspiObject> activeFrame(GDBusConnection* bus, const std::vector<AtspiObject>& apps,
                                       const Deadline& deadline) {
    for (const AtspiObject& app : apps) {
        std::optional<std::vector<AtspiObject>> frames = childrenOf(bus, app, deadline);
        if (!frames) continue;
        for (const AtspiObject& frame : *frames) {
            std::optional<std::uint64_t> states = statesOf(bus, frame, deadline);
            if (states && hasState(*states, kStateActive)) return frame;
        }
    }
    return std::nullopt;
}

GVariant* focusedRule() {
    GVariantBuilder states;
    g_variant_builder_init(&states, G_VARIANT_TYPE("ai"));
    g_variant_builder_add(&states, "i", gint32{1} << kStateFocused);
    g_variant_builder_add(&states, "i", gint32{0});
    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    GVariantBuilder roles;
    g_variant_builder_init(&roles, G_VARIANT_TYPE("ai"));
    GVariantBuilder interfaces;
    g_variant_builder_init(&interfaces, G_VARIANT_TYPE("as"));
    return g_variant_new("((aiia{ss}iaiiasib)uib)", &states, kMatchAll, &attributes, kMatchAll,
                         &roles, kMatchAll, &interfaces, kMatchAll, FALSE, kSortCanonical,
                         gint32{1}, TRUE);
}

// Outer absent: the frame has no Collection or did not answer. Inner absent: nothing focused.
std::optional<std::optional<AtspiObject>>
matchFocused(GDBusConnection* bus, const AtspiObject& frame, const Deadline& deadline) {
    VariantPtr reply = callMethod(
        bus, {frame.bus.c_str(), frame.path.c_str(), "org.a11y.atspi.Collection", "GetMatches"},
        focusedRule(), "(a(so))", deadline);
    if (!reply) return std::nullopt;
    GVariantIter* iter = nullptr;
    g_variant_get(reply.get(), "(a(so))", &iter);
    const gchar* name = nullptr;
    const gchar* path = nullptr;
    std::optional<AtspiObject> focused;
    if (g_variant_iter_next(iter, "(&s&o)", &name, &path)) focused = AtspiObject{name, path};
    g_variant_iter_free(iter);
    return focused;
}

// Breadth first through showing objects, at most kWalkLimit of them.
std::optional<AtspiObject> walkForFocus(GDBusConnection* bus, const AtspiObject& frame,
                                        const Deadline& deadline) {
    std::deque<AtspiObject> queue{frame};
    for (std::size_t visited = 0; !queue.empty() && visited < kWalkLimit; ++visited) {
        AtspiObject object = std::move(queue.front());
        queue.pop_front();
        std::optional<std::uint64_t> states = statesOf(bus, object, deadline);
        if (!states) continue;
        if (hasState(*states, kStateFocused)) return object;
        if (visited > 0 && !hasState(*states, kStateShowing)) continue;
        if (auto children = childrenOf(bus, object, deadline)) {
            for (AtspiObject& child : *children)
                queue.push_back(std::move(child));
        }
    }
    return std::nullopt;
}

} // namespace

FocusSearch findFocusedObject(GDBusConnection* bus, const Deadline& deadline) {
    const AtspiObject registry{"org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"};
    std::optional<std::vector<AtspiObject>> apps = childrenOf(bus, registry, deadline);
    if (!apps) return {};
    FocusSearch search{true, std::nullopt};
    std::optional<AtspiObject> frame = activeFrame(bus, *apps, deadline);
    if (!frame) return search;
    if (auto matched = matchFocused(bus, *frame, deadline)) {
        search.focused = std::move(*matched);
    } else {
        search.focused = walkForFocus(bus, *frame, deadline);
    }
    return search;
}
