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

PendingCall childCountCall(const AtspiObject& object) {
    return {{object.bus.c_str(), object.path.c_str(), atspi::kPropertiesInterface, "Get"},
            g_variant_new("(ss)", atspi::kAccessibleInterface, "ChildCount"),
            "(v)"};
}

// The child count a `(v)` reply holds; absent when there is none or it is not a number.
std::optional<std::int64_t> childCountIn(GVariant* reply) {
    if (!reply) return std::nullopt;
    VariantPtr boxed(g_variant_get_child_value(reply, 0));
    VariantPtr value(g_variant_get_variant(boxed.get()));
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32)) return std::nullopt;
    return g_variant_get_int32(value.get());
}

bool tooManyChildren(std::optional<std::int64_t> count) {
    return count && *count > kMostChildrenAsked;
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

// What one level of the walk learns: the focused objects (each marked whether it has Text),
// the children of the objects below which the focus may lie, those of focused objects apart
// from the others, and the roots of the trees that sockets of the level embed from other
// connections.
struct LevelFacts {
    std::vector<FocusCandidate> focused;
    Objects belowFocused;
    Objects beside;
    Objects plugs;
};

// How a walk treats a level. Below an application, only its active frames hold the focus, when
// it marks any. With `countChildren`, each object's child count is asked beside its state, and
// an object with too many children is not asked for them. With `followSockets`, an object with
// no state at all (a socket) is asked for its child at index 0 (its plug), since it lists none,
// and an object that manages its descendants (a spreadsheet's table) is not asked for them.
struct LevelRules {
    bool belowApplication = false;
    bool countChildren = false;
    bool followSockets = false;
};

// Objects whose children are transient and may be countless mark themselves so.
constexpr int kStateManagesDescendants = 31;

// A question of the level's second batch: an object's children, or its plug (a socket's child
// at index 0), and whether the object is focused.
struct Asked {
    enum Kind { children, plug } kind;
    std::size_t index;
    bool ofFocused;
};

// The level's states (and child counts) in one batch, then in a second batch the children of
// the objects that may hold the focus and the interfaces of the focused ones. Asking children
// only where the state allows them saves a call for each hidden object, which toolkits without
// Collection (Qt) hold in numbers (closed menus, hidden panels).
LevelFacts askLevel(GDBusConnection* bus, const Objects& level, int depth, LevelRules rules,
                    const Deadline& deadline) {
    std::vector<PendingCall> first;
    for (const AtspiObject& object : level)
        first.push_back(accessibleCall(object, "GetState", nullptr, "(au)"));
    if (rules.countChildren) {
        for (const AtspiObject& object : level)
            first.push_back(childCountCall(object));
    }
    std::vector<VariantPtr> answers = callAll(bus, first, deadline, kSearchCallCapMs);
    std::vector<std::optional<std::uint64_t>> states;
    for (std::size_t i = 0; i < level.size(); ++i)
        states.push_back(answers[i] ? std::optional(statesIn(answers[i].get())) : std::nullopt);
    bool onlyActive = rules.belowApplication && anyActive(states);
    std::vector<PendingCall> calls; // interfaces of the focused objects, then children
    std::vector<PendingCall> childCalls;
    std::vector<Asked> asked;
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
        if (!walkBelow(*state)) continue;
        if (rules.countChildren && tooManyChildren(childCountIn(answers[level.size() + i].get())))
            continue;
        if (rules.followSockets && *state == 0) {
            childCalls.push_back(
                accessibleCall(level[i], "GetChildAtIndex", g_variant_new("(i)", 0), "((so))"));
            asked.push_back({Asked::plug, i, focused});
            continue;
        }
        if (rules.followSockets && hasState(*state, kStateManagesDescendants)) continue;
        childCalls.push_back(accessibleCall(level[i], "GetChildren", nullptr, "(a(so))"));
        asked.push_back({Asked::children, i, focused});
    }
    calls.insert(calls.end(), childCalls.begin(), childCalls.end());
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, kSearchCallCapMs);
    std::size_t reply = 0;
    for (FocusCandidate& candidate : facts.focused)
        candidate.hasText = hasTextInterface(replies[reply++].get());
    for (const Asked& question : asked) {
        GVariant* answer = replies[reply++].get();
        Objects& into = question.ofFocused ? facts.belowFocused : facts.beside;
        if (question.kind == Asked::plug) {
            std::optional<AtspiObject> child = objectIn(answer);
            if (!child) continue;
            (child->bus == level[question.index].bus ? into : facts.plugs).push_back(*child);
            continue;
        }
        Objects children = objectsIn(answer);
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
                                         const Deadline& deadline, LevelRules given = {},
                                         Objects* plugs = nullptr) {
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
        LevelRules rules = given;
        rules.belowApplication = level.depth == 1 && root.path == atspi::kRootPath;
        LevelFacts facts = askLevel(bus, level.objects, level.depth, rules, deadline);
        found.insert(found.end(), facts.focused.begin(), facts.focused.end());
        if (plugs) {
            plugs->insert(plugs->end(), facts.plugs.begin(), facts.plugs.end());
            if (!plugs->empty()) break;
        }
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
