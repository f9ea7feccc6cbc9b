#include "focus_walk_atspi.h"

#include "names_atspi.h"
#include "replies_atspi.h"

#include <algorithm>
#include <vector>

PendingCall accessibleCall(const AtspiObject& object, const char* method, GVariant* arguments,
                           const char* replyType) {
    return {{object.bus.c_str(), object.path.c_str(), atspi::kAccessibleInterface, method},
            arguments,
            replyType};
}

// Children of each object, asked in parallel; an object that did not answer has none.
std::vector<Objects> childrenOfAll(GDBusConnection* bus, const Objects& parents,
                                   const Deadline& deadline, std::vector<bool>* answered) {
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

std::vector<std::optional<std::uint32_t>> pidsOf(GDBusConnection* bus, const Objects& apps,
                                                 const Deadline& deadline, int capMs) {
    std::vector<PendingCall> calls;
    for (const AtspiObject& app : apps) {
        calls.push_back({{atspi::kDBusBus, atspi::kDBusPath, atspi::kDBusInterface,
                          "GetConnectionUnixProcessID"},
                         g_variant_new("(s)", app.bus.c_str()),
                         "(u)"});
    }
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline, capMs);
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

namespace {

constexpr std::size_t kWalkLimit = 3000;
constexpr int kDepthLimit = 64;

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

} // namespace

// Focused objects below `root` (itself excluded), each marked whether it has Text, level by
// level, at most kWalkLimit objects. Depths count from `root`. The walk ends with the level
// where a focused object with Text is found: toolkits mark focused containers above the
// focused text, never text below it. Below a level's focused objects the walk goes on first,
// and comes back to the objects beside them only where that finds no focused text: a browser
// built on Qt marks its web view focused around the page's focused text, and its toolbars, tabs
// and menus then cost no calls; a focused status bar (kwrite) costs no more than before.
std::vector<FocusCandidate> walkForFocus(GDBusConnection* bus, const AtspiObject& root,
                                         const Deadline& deadline, LevelRules given,
                                         Objects* plugs) {
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
