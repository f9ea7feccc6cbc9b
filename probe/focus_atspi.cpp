#include "focus_atspi.h"

#include "focus_choice.h"
#include "focus_walk_atspi.h"
#include "names_atspi.h"
#include "replies_atspi.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

namespace {

constexpr guint32 kSortCanonical = 1;
constexpr gint32 kMatchAll = 1;
constexpr gint32 kMatchLimit = 1;
constexpr int kNestedSearches = 8;

// States of each object, asked in parallel; absent where it did not answer.
std::vector<std::optional<std::uint64_t>> statesOfAll(GDBusConnection* bus, const Objects& objects,
                                                      const Deadline& deadline) {
    std::vector<PendingCall> calls;
    for (const AtspiObject& object : objects)
        calls.push_back(accessibleCall(object, "GetState", nullptr, "(au)"));
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, kSearchCallCapMs);
    std::vector<std::optional<std::uint64_t>> states;
    for (VariantPtr& reply : replies) {
        states.push_back(reply ? std::optional(statesIn(reply.get())) : std::nullopt);
    }
    return states;
}

// The frames of each application and the first of them that is active, asked in parallel.
struct FrameFacts {
    bool answered = false;
    Objects frames;
    std::optional<AtspiObject> active;
};

// Frames asked per application in each round, and frames asked in one batch, between which
// the clock is read: an application with thousands of top-level children costs its first few,
// and the other applications are asked before its later ones.
constexpr std::size_t kFramesPerRound = 16;
constexpr std::size_t kFrameBatch = 256;
// Frames are no longer asked once less than this is left for the focus search itself.
constexpr int kFocusSearchReserveMs = 400;

// Asks the states of one round's frames, batch by batch; true when an active frame was found.
bool askFrameRound(GDBusConnection* bus,
                   const std::vector<std::pair<std::size_t, AtspiObject>>& round,
                   std::vector<FrameFacts>& facts, const Deadline& deadline) {
    bool found = false;
    for (std::size_t first = 0; first < round.size(); first += kFrameBatch) {
        if (deadline.remainingMs() <= kFocusSearchReserveMs) return found;
        const std::size_t last = std::min(round.size(), first + kFrameBatch);
        Objects batch;
        for (std::size_t k = first; k < last; ++k)
            batch.push_back(round[k].second);
        std::vector<std::optional<std::uint64_t>> states = statesOfAll(bus, batch, deadline);
        for (std::size_t k = first; k < last; ++k) {
            FrameFacts& app = facts[round[k].first];
            const auto& state = states[k - first];
            if (!app.active && state && hasState(*state, atspi::kStateActive)) {
                app.active = round[k].second;
                found = true;
            }
        }
    }
    return found;
}

// An application with more top-level children than can be asked for at once is asked for its
// first ones one by one, in one batch.
constexpr gint32 kFramesOfCrowdedApplication = 64;

// The top-level children of each application, each marked whether the application answered.
// Their number is asked first: an application with thousands of them is never asked for their
// list, whose decoding would hold up the replies of every other application behind it.
std::vector<Objects> topLevelOf(GDBusConnection* bus, const Objects& apps, const Deadline& deadline,
                                std::vector<bool>& answered) {
    std::vector<PendingCall> counts;
    for (const AtspiObject& app : apps)
        counts.push_back(childCountCall(app));
    std::vector<VariantPtr> counted = callAll(bus, counts, deadline, kSearchCallCapMs);
    // The lists and the children asked by index, in one batch: (application, by index).
    std::vector<PendingCall> calls;
    std::vector<std::pair<std::size_t, bool>> askedOf;
    for (std::size_t app = 0; app < apps.size(); ++app) {
        if (!tooManyChildren(childCountIn(counted[app].get()))) {
            calls.push_back(accessibleCall(apps[app], "GetChildren", nullptr, "(a(so))"));
            askedOf.emplace_back(app, false);
            continue;
        }
        for (gint32 index = 0; index < kFramesOfCrowdedApplication; ++index) {
            calls.push_back(accessibleCall(apps[app], "GetChildAtIndex",
                                           g_variant_new("(i)", index), "((so))"));
            askedOf.emplace_back(app, true);
        }
    }
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, kSearchCallCapMs);
    std::vector<Objects> children(apps.size());
    answered.assign(apps.size(), false);
    for (std::size_t k = 0; k < replies.size(); ++k) {
        const auto [app, byIndex] = askedOf[k];
        if (!replies[k]) continue;
        answered[app] = true;
        if (!byIndex) {
            children[app] = objectsIn(replies[k].get());
        } else if (std::optional<AtspiObject> child = objectIn(replies[k].get())) {
            children[app].push_back(std::move(*child));
        }
    }
    return children;
}

std::vector<FrameFacts> framesOf(GDBusConnection* bus, const Objects& apps,
                                 const Deadline& deadline) {
    std::vector<bool> answered;
    std::vector<Objects> children = topLevelOf(bus, apps, deadline, answered);
    std::vector<FrameFacts> facts(apps.size());
    for (std::size_t app = 0; app < apps.size(); ++app) {
        facts[app].answered = answered[app];
        facts[app].frames = children[app];
    }
    for (std::size_t start = 0;; start += kFramesPerRound) {
        std::vector<std::pair<std::size_t, AtspiObject>> round;
        for (std::size_t app = 0; app < apps.size(); ++app) {
            const Objects& frames = children[app];
            for (std::size_t i = start; i < std::min(frames.size(), start + kFramesPerRound); ++i)
                round.emplace_back(app, frames[i]);
        }
        if (round.empty() || askFrameRound(bus, round, facts, deadline)) break;
        if (deadline.remainingMs() <= kFocusSearchReserveMs) break;
    }
    return facts;
}

GVariant* focusedRule() {
    GVariantBuilder states;
    g_variant_builder_init(&states, G_VARIANT_TYPE("ai"));
    g_variant_builder_add(&states, "i", gint32{1} << atspi::kStateFocused);
    g_variant_builder_add(&states, "i", gint32{0});
    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    GVariantBuilder roles;
    g_variant_builder_init(&roles, G_VARIANT_TYPE("ai"));
    GVariantBuilder interfaces;
    g_variant_builder_init(&interfaces, G_VARIANT_TYPE("as"));
    return g_variant_new("((aiia{ss}iaiiasib)uib)", &states, kMatchAll, &attributes, kMatchAll,
                         &roles, kMatchAll, &interfaces, kMatchAll, FALSE, kSortCanonical,
                         kMatchLimit, TRUE);
}

// Every focused object below `root`, or absent when it has no Collection or did not answer.
// The application does the search itself, which takes a while in a large one, so the call
// may use the rest of the budget.
std::optional<Objects> matchFocused(GDBusConnection* bus, const AtspiObject& root,
                                    const Deadline& deadline) {
    VariantPtr reply = callMethod(
        bus, {root.bus.c_str(), root.path.c_str(), atspi::kCollectionInterface, "GetMatches"},
        focusedRule(), "(a(so))", deadline);
    if (!reply) return std::nullopt;
    return objectsIn(reply.get());
}

// The focused objects below `root` from the application's own object cache (GTK 4 keeps
// one and answers it in one call, where a walk costs two calls per object). Absent when the
// application keeps no cache (Qt answers an empty one) or names no focused object below
// `root` in it: the tree is walked then.
std::optional<std::vector<FocusCandidate>>
focusedFromCache(GDBusConnection* bus, const AtspiObject& root, const Deadline& deadline) {
    VariantPtr reply =
        callMethod(bus, {root.bus.c_str(), atspi::kCachePath, atspi::kCacheInterface, "GetItems"},
                   nullptr, nullptr, deadline, kSearchCallCapMs);
    if (!reply || !g_str_has_prefix(g_variant_get_type_string(reply.get()), "(a(")) {
        return std::nullopt;
    }
    VariantPtr items(g_variant_get_child_value(reply.get(), 0));
    std::vector<CachedObject> cache;
    GVariantIter iter;
    g_variant_iter_init(&iter, items.get());
    while (GVariant* item = g_variant_iter_next_value(&iter)) {
        VariantPtr owned(item);
        if (std::optional<CachedObject> object = cachedObjectIn(item))
            cache.push_back(std::move(*object));
    }
    std::vector<FocusCandidate> focused = focusedInCache(cache, root.bus, root.path);
    if (focused.empty()) return std::nullopt;
    return focused;
}

// Whether an object has Text and how many children it says it has, asked together.
struct ObjectFacts {
    bool hasText = false;
    std::optional<std::int64_t> children;
};

ObjectFacts factsOf(GDBusConnection* bus, const AtspiObject& object, const Deadline& deadline) {
    std::vector<VariantPtr> replies = callAll(
        bus, {accessibleCall(object, "GetInterfaces", nullptr, "(as)"), childCountCall(object)},
        deadline, kSearchCallCapMs);
    return {hasTextInterface(replies[0].get()), childCountIn(replies[1].get())};
}

// Sockets in another connection's tree are searched at most this deep, and at most this many
// sockets of one frame are followed.
constexpr int kEmbeddingDepth = 3;
constexpr std::size_t kSocketsAsked = 4;

// The roots of the trees that sockets below `root` embed from other connections (a web view's
// page, served by its web process, which is not registered with the registry), from the first
// level of a walk that holds any. A search by the application itself for objects with no state
// would be one call, but would visit every cell of a spreadsheet's table.
Objects embeddedRoots(GDBusConnection* bus, const AtspiObject& root, const Deadline& deadline) {
    Objects plugs;
    walkForFocus(bus, root, deadline, {.followSockets = true}, &plugs);
    if (plugs.size() > kSocketsAsked) plugs.resize(kSocketsAsked);
    return plugs;
}

std::optional<AtspiObject> focusedIn(GDBusConnection* bus, const AtspiObject& root,
                                     const Deadline& deadline, int embedding);

// The focused object with Text inside the trees that sockets below `root` embed. A plug has
// no Collection of its own (WebKit's), its children do: each is searched as a root.
std::optional<AtspiObject> focusedInEmbedded(GDBusConnection* bus, const AtspiObject& root,
                                             const Deadline& deadline, int embedding) {
    if (embedding >= kEmbeddingDepth) return std::nullopt;
    for (const AtspiObject& plug : embeddedRoots(bus, root, deadline)) {
        Objects tops = childrenOfAll(bus, {plug}, deadline).front();
        if (tops.size() > kSocketsAsked) tops.resize(kSocketsAsked);
        tops.push_back(plug);
        for (const AtspiObject& top : tops) {
            std::optional<AtspiObject> found = focusedIn(bus, top, deadline, embedding + 1);
            if (found && factsOf(bus, *found, deadline).hasText) return found;
        }
    }
    return std::nullopt;
}

// The parent of an object in the same connection; absent when it names none or another one.
std::optional<AtspiObject> parentOf(GDBusConnection* bus, const AtspiObject& object,
                                    const Deadline& deadline) {
    VariantPtr reply = callMethod(
        bus, {object.bus.c_str(), object.path.c_str(), atspi::kPropertiesInterface, "Get"},
        g_variant_new("(ss)", atspi::kAccessibleInterface, "Parent"), "(v)", deadline,
        kSearchCallCapMs);
    if (!reply) return std::nullopt;
    VariantPtr boxed(g_variant_get_child_value(reply.get(), 0));
    VariantPtr value(g_variant_get_variant(boxed.get()));
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE("(so)"))) return std::nullopt;
    const gchar* name = nullptr;
    const gchar* path = nullptr;
    g_variant_get(value.get(), "(&s&o)", &name, &path);
    if (object.bus != name || std::string_view(path) == atspi::kNullPath) return std::nullopt;
    return AtspiObject{name, path};
}

// Ancestors of a focused object without text whose subtrees are walked for the focused text.
constexpr int kAncestorsWalked = 3;

// The focused object with Text beside `focused`, nearest first: the subtree of its parent is
// walked, then its grandparent's, up to `root` (the active frame), without asking for the
// children of an object that has too many (the sheet beside the cell editor).
std::optional<AtspiObject> focusedBeside(GDBusConnection* bus, const AtspiObject& root,
                                         const AtspiObject& focused, const Deadline& deadline) {
    AtspiObject at = focused;
    for (int climbed = 0; climbed < kAncestorsWalked && !(at == root); ++climbed) {
        std::optional<AtspiObject> parent = parentOf(bus, at, deadline);
        at = parent ? std::move(*parent) : root;
        std::optional<FocusCandidate> found =
            chooseFocused(walkForFocus(bus, at, deadline, {.countChildren = true}));
        if (found && found->hasText) return found->object;
    }
    return std::nullopt;
}

// From the first focused object that the application's own search gave: where it has no text
// (a document panel around the focused paragraph) the search goes on below it, unless it has
// too many children to search (a spreadsheet's table); then its ancestors' subtrees are walked
// for a focused object with text beside it (the cell editor beside the sheet). Asking the search
// for more than the first would make the application visit its whole tree.
std::optional<AtspiObject> focusedFromMatch(GDBusConnection* bus, const AtspiObject& root,
                                            AtspiObject chosen, const Deadline& deadline) {
    ObjectFacts facts = factsOf(bus, chosen, deadline);
    for (int level = 0; !facts.hasText && level < kNestedSearches; ++level) {
        if (tooManyChildren(facts.children)) break;
        std::optional<Objects> inner = matchFocused(bus, chosen, deadline);
        if (!inner || inner->empty()) break;
        chosen = inner->front();
        facts = factsOf(bus, chosen, deadline);
    }
    if (facts.hasText) return chosen;
    // A focused container may hold the focused text without marking it for a search.
    if (!tooManyChildren(facts.children)) {
        std::optional<FocusCandidate> inner =
            chooseFocused(walkForFocus(bus, chosen, deadline, {.countChildren = true}));
        if (inner && inner->hasText) return inner->object;
    }
    if (std::optional<AtspiObject> beside = focusedBeside(bus, root, chosen, deadline))
        return beside;
    return chosen;
}

// The focused object below `root` with a Text interface. Where the application searches
// itself (Collection), the first focused object in tree order is taken (see focusedFromMatch);
// where it names none, the trees embedded from other connections are searched. Elsewhere the
// tree is walked and the deepest focused object with text wins.
std::optional<AtspiObject> focusedIn(GDBusConnection* bus, const AtspiObject& root,
                                     const Deadline& deadline, int embedding) {
    std::optional<Objects> matched = matchFocused(bus, root, deadline);
    if (matched) {
        if (matched->empty()) return focusedInEmbedded(bus, root, deadline, embedding);
        return focusedFromMatch(bus, root, matched->front(), deadline);
    }
    std::optional<std::vector<FocusCandidate>> cached = focusedFromCache(bus, root, deadline);
    std::vector<FocusCandidate> walked =
        cached ? std::move(*cached) : walkForFocus(bus, root, deadline);
    std::optional<FocusCandidate> best = chooseFocused(walked);
    if (!best) return std::nullopt;
    if (best->hasText) return best->object;
    // A focused container may hold the focused text without marking it for a search.
    std::optional<FocusCandidate> inner = chooseFocused(walkForFocus(bus, best->object, deadline));
    if (inner && inner->hasText) return inner->object;
    return best->object;
}

// The frame to search in: the active one, the only one, or the whole application.
AtspiObject searchRoot(const AtspiObject& app, const FrameFacts& frames) {
    if (frames.active) return *frames.active;
    if (frames.frames.size() == 1) return frames.frames.front();
    return app;
}

} // namespace

FocusSearch findFocusedObject(GDBusConnection* bus, const Deadline& deadline,
                              std::optional<std::uint32_t> activeWindowPid) {
    const AtspiObject registry{atspi::kRegistryBus, atspi::kRootPath};
    VariantPtr listed = callMethod(
        bus,
        {registry.bus.c_str(), registry.path.c_str(), atspi::kAccessibleInterface, "GetChildren"},
        nullptr, "(a(so))", deadline, kSearchCallCapMs);
    if (!listed) return {};
    FocusSearch search{true, std::nullopt};
    Objects apps = objectsIn(listed.get());
    std::vector<AppCandidate> candidates(apps.size());
    std::vector<std::optional<std::uint32_t>> pids = pidsOf(bus, apps, deadline);
    for (std::size_t i = 0; i < apps.size(); ++i)
        candidates[i].pid = pids[i];
    std::vector<FrameFacts> frames(apps.size());
    std::vector<std::size_t> toAsk = appsToAskForFrames(candidates, activeWindowPid);
    Objects asked;
    for (std::size_t i : toAsk)
        asked.push_back(apps[i]);
    std::vector<FrameFacts> answers = framesOf(bus, asked, deadline);
    for (std::size_t k = 0; k < toAsk.size(); ++k) {
        candidates[toAsk[k]].hasActiveFrame = answers[k].active.has_value();
        frames[toAsk[k]] = std::move(answers[k]);
    }
    std::optional<std::size_t> chosen = chooseApplication(candidates, activeWindowPid);
    if (!chosen) return search;
    // Chosen by its process alone: its own search covers all its frames, and a frozen
    // application fails that search within the budget.
    if (candidates[*chosen].hasActiveFrame && !frames[*chosen].answered) return search;
    search.focused = focusedIn(bus, searchRoot(apps[*chosen], frames[*chosen]), deadline, 0);
    return search;
}
