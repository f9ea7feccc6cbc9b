#include "focus_atspi.h"

#include "focus_choice.h"
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
// One unresponsive application must not use up the whole budget of the search.
constexpr int kSearchCallCapMs = 250;
constexpr std::size_t kWalkLimit = 3000;
constexpr int kDepthLimit = 64;

using Objects = std::vector<AtspiObject>;

PendingCall accessibleCall(const AtspiObject& object, const char* method, GVariant* arguments,
                           const char* replyType) {
    return {{object.bus.c_str(), object.path.c_str(), atspi::kAccessibleInterface, method},
            arguments,
            replyType};
}

// Children of each object, asked in parallel; an object that did not answer has none.
std::vector<Objects> childrenOfAll(GDBusConnection* bus, const Objects& parents,
                                   const Deadline& deadline,
                                   std::vector<bool>* answered = nullptr) {
    std::vector<PendingCall> calls;
    for (const AtspiObject& parent : parents)
        calls.push_back(accessibleCall(parent, "GetChildren", nullptr, "(a(so))"));
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, kSearchCallCapMs);
    std::vector<Objects> children;
    for (VariantPtr& reply : replies) {
        children.push_back(objectsIn(reply.get()));
        if (answered) answered->push_back(reply != nullptr);
    }
    return children;
}

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

std::vector<std::optional<std::uint32_t>> pidsOf(GDBusConnection* bus, const Objects& apps,
                                                 const Deadline& deadline) {
    std::vector<PendingCall> calls;
    for (const AtspiObject& app : apps) {
        calls.push_back({{atspi::kDBusBus, atspi::kDBusPath, atspi::kDBusInterface,
                          "GetConnectionUnixProcessID"},
                         g_variant_new("(s)", app.bus.c_str()),
                         "(u)"});
    }
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, kSearchCallCapMs);
    std::vector<std::optional<std::uint32_t>> pids;
    for (VariantPtr& reply : replies) {
        std::optional<std::uint32_t> pid;
        if (reply) {
            guint32 value = 0;
            g_variant_get(reply.get(), "(u)", &value);
            pid = value;
        }
        pids.push_back(pid);
    }
    return pids;
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

std::vector<FrameFacts> framesOf(GDBusConnection* bus, const Objects& apps,
                                 const Deadline& deadline) {
    std::vector<bool> answered;
    std::vector<Objects> children = childrenOfAll(bus, apps, deadline, &answered);
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

bool anyActive(const std::vector<std::optional<std::uint64_t>>& states) {
    for (const auto& state : states) {
        if (state && hasState(*state, atspi::kStateActive)) return true;
    }
    return false;
}

// What one level of the walk learns: the focused objects (each marked whether it has Text)
// and the children of the objects below which the focus may lie, those of focused objects
// apart from the others.
struct LevelFacts {
    std::vector<FocusCandidate> focused;
    Objects belowFocused;
    Objects beside;
};

// The level's states in one batch, then in a second batch the children of the objects that
// may hold the focus and the interfaces of the focused ones. Asking children only where the
// state allows them saves a call for each hidden object, which toolkits without Collection
// (Qt) hold in numbers (closed menus, hidden panels). Below an application, only its active
// frames hold the focus, when it marks any.
LevelFacts askLevel(GDBusConnection* bus, const Objects& level, int depth, bool belowApplication,
                    const Deadline& deadline) {
    std::vector<std::optional<std::uint64_t>> states = statesOfAll(bus, level, deadline);
    bool onlyActive = belowApplication && anyActive(states);
    std::vector<PendingCall> calls; // interfaces of the focused objects, then children
    std::vector<PendingCall> childCalls;
    std::vector<bool> childrenOfFocused;
    LevelFacts facts;
    for (std::size_t i = 0; i < level.size(); ++i) {
        const auto& state = states[i];
        if (!state || hasState(*state, atspi::kStateDefunct)) continue;
        if (onlyActive && !hasState(*state, atspi::kStateActive)) continue;
        const bool focused = hasState(*state, atspi::kStateFocused);
        if (focused) {
            facts.focused.push_back({level[i], depth, false});
            calls.push_back(accessibleCall(level[i], "GetInterfaces", nullptr, "(as)"));
        }
        // Hidden subtrees (closed menus, other pages) are not walked.
        if (!mayHoldFocusBelow(*state)) continue;
        childCalls.push_back(accessibleCall(level[i], "GetChildren", nullptr, "(a(so))"));
        childrenOfFocused.push_back(focused);
    }
    calls.insert(calls.end(), childCalls.begin(), childCalls.end());
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, kSearchCallCapMs);
    std::size_t reply = 0;
    for (FocusCandidate& candidate : facts.focused)
        candidate.hasText = hasTextInterface(replies[reply++].get());
    for (std::size_t k = 0; reply < replies.size(); ++reply, ++k) {
        Objects children = objectsIn(replies[reply].get());
        Objects& into = childrenOfFocused[k] ? facts.belowFocused : facts.beside;
        into.insert(into.end(), children.begin(), children.end());
    }
    return facts;
}

// One level still to walk, and its depth.
struct PendingLevel {
    Objects objects;
    int depth = 0;
};

bool holdsText(const std::vector<FocusCandidate>& candidates) {
    return std::any_of(candidates.begin(), candidates.end(),
                       [](const FocusCandidate& candidate) { return candidate.hasText; });
}

// Focused objects below `root` (itself excluded), each marked whether it has Text, level by
// level, at most kWalkLimit objects. Depths count from `root`. The walk ends with the level
// where a focused object with Text is found: toolkits mark focused containers above the
// focused text, never text below it. Below a level's focused objects the walk goes on first,
// and comes back to the objects beside them only where that finds no focused text: a browser
// built on Qt marks its web view focused around the page's focused text, and its toolbars, tabs
// and menus then cost no calls; a focused status bar (kwrite) costs no more than before.
std::vector<FocusCandidate> walkForFocus(GDBusConnection* bus, const AtspiObject& root,
                                         const Deadline& deadline) {
    std::vector<FocusCandidate> found;
    std::vector<PendingLevel> deferred; // resumed last first: the innermost focus first
    PendingLevel level{childrenOfAll(bus, {root}, deadline).front(), 1};
    std::size_t visited = 0;
    while (deadline.remainingMs() > 0) {
        if (level.objects.empty()) {
            if (deferred.empty()) break;
            level = std::move(deferred.back());
            deferred.pop_back();
            continue;
        }
        if (visited >= kWalkLimit) break;
        if (level.depth > kDepthLimit) {
            level.objects.clear();
            continue;
        }
        if (level.objects.size() > kWalkLimit - visited) level.objects.resize(kWalkLimit - visited);
        visited += level.objects.size();
        LevelFacts facts = askLevel(bus, level.objects, level.depth,
                                    level.depth == 1 && root.path == atspi::kRootPath, deadline);
        found.insert(found.end(), facts.focused.begin(), facts.focused.end());
        if (holdsText(facts.focused)) break;
        const int next = level.depth + 1;
        if (facts.belowFocused.empty()) {
            level = {std::move(facts.beside), next};
            continue;
        }
        if (!facts.beside.empty()) deferred.push_back({std::move(facts.beside), next});
        level = {std::move(facts.belowFocused), next};
    }
    return found;
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

bool hasText(GDBusConnection* bus, const AtspiObject& object, const Deadline& deadline) {
    VariantPtr reply =
        callMethod(bus, accessibleCall(object, "GetInterfaces", nullptr, "(as)").call, nullptr,
                   "(as)", deadline, kSearchCallCapMs);
    return hasTextInterface(reply.get());
}

// The focused object below `root` with a Text interface. Where the application searches
// itself (Collection), the first focused object in tree order is taken, and where it has no
// text (a document panel around the focused paragraph) the search goes on below it; asking
// for more than the first would make the application visit its whole tree. Elsewhere the
// tree is walked and the deepest focused object with text wins.
std::optional<AtspiObject> focusedIn(GDBusConnection* bus, const AtspiObject& root,
                                     const Deadline& deadline) {
    std::optional<Objects> matched = matchFocused(bus, root, deadline);
    std::optional<AtspiObject> chosen;
    if (matched) {
        if (matched->empty()) return std::nullopt;
        chosen = matched->front();
        for (int level = 0; level < kNestedSearches; ++level) {
            if (hasText(bus, *chosen, deadline)) return chosen;
            std::optional<Objects> inner = matchFocused(bus, *chosen, deadline);
            if (!inner || inner->empty()) break;
            chosen = inner->front();
        }
    } else {
        std::optional<std::vector<FocusCandidate>> cached = focusedFromCache(bus, root, deadline);
        std::vector<FocusCandidate> walked =
            cached ? std::move(*cached) : walkForFocus(bus, root, deadline);
        std::optional<FocusCandidate> best = chooseFocused(walked);
        if (!best) return std::nullopt;
        if (best->hasText) return best->object;
        chosen = best->object;
    }
    // A focused container may hold the focused text without marking it for a search.
    std::vector<FocusCandidate> below = walkForFocus(bus, *chosen, deadline);
    std::optional<FocusCandidate> inner = chooseFocused(below);
    if (inner && inner->hasText) return inner->object;
    return chosen;
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
    search.focused = focusedIn(bus, searchRoot(apps[*chosen], frames[*chosen]), deadline);
    return search;
}
