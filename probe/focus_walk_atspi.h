#pragma once
// The focus search's walk through a tree level by level, and the calls of the search that it
// shares with the rest of the search.

#include "bus_glib.h"
#include "focus_choice.h"
#include "object_model.h"

#include <cstdint>
#include <optional>
#include <vector>

using Objects = std::vector<AtspiObject>;

// One unresponsive application must not use up the whole budget of the search.
inline constexpr int kSearchCallCapMs = 250;

PendingCall accessibleCall(const AtspiObject& object, const char* method, GVariant* arguments,
                           const char* replyType);
// Children of each object, asked in parallel; an object that did not answer has none.
std::vector<Objects> childrenOfAll(GDBusConnection* bus, const Objects& parents,
                                   const Deadline& deadline, std::vector<bool>* answered = nullptr);

// The process of each application's bus connection, answered by the bus daemon itself (a
// frozen application costs nothing here); absent where it did not answer.
std::vector<std::optional<std::uint32_t>> pidsOf(GDBusConnection* bus, const Objects& apps,
                                                 const Deadline& deadline,
                                                 int capMs = kSearchCallCapMs);

PendingCall childCountCall(const AtspiObject& object);
// The child count a `(v)` reply holds; absent when there is none or it is not a number.
std::optional<std::int64_t> childCountIn(GVariant* reply);
bool tooManyChildren(std::optional<std::int64_t> count);

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

// Focused objects below `root` (itself excluded), each marked whether it has Text, level by
// level (see the definition). With `plugs`, the walk collects the roots that sockets embed
// from other connections and ends with the first level that has any.
std::vector<FocusCandidate> walkForFocus(GDBusConnection* bus, const AtspiObject& root,
                                         const Deadline& deadline, LevelRules given = {},
                                         Objects* plugs = nullptr);
