#pragma once
// Which application and which focused object the AT-SPI layer reads, decided from what the
// bus answered: the application of the active window, the deepest focused object with text,
// and the focused objects of an application's own object cache. Nothing here touches a bus.

#include "object_model.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// True when the focus may lie below an object with these states: it is showing or visible.
// GTK 4 containers lack `showing` but are visible; hidden menus and pages are neither.
inline bool mayHoldFocusBelow(std::uint64_t states) {
    return hasState(states, atspi::kStateShowing) || hasState(states, atspi::kStateVisible);
}

// True when a walk goes below an object with these states: where the focus may lie, and below
// an object with no state at all, which is what the socket embedding another connection's tree
// (a web view's page) and the plug at the top of that tree answer, whatever they show.
inline bool walkBelow(std::uint64_t states) {
    return states == 0 || mayHoldFocusBelow(states);
}

// Objects with more children than this are not asked for them: a spreadsheet's table answers
// 2^31, and listing or searching them would keep the application busy for minutes.
inline constexpr std::int64_t kMostChildrenAsked = 4096;

// An application on the registry, as far as it has been asked.
struct AppCandidate {
    std::optional<std::uint32_t> pid;   // the process owning its bus connection
    std::optional<bool> hasActiveFrame; // absent until its frames were asked
};

// The application to search: the one whose process owns the active window; among several
// such, or without an active window, the one that marks a frame active. Absent when neither
// signal names one.
std::optional<std::size_t> chooseApplication(const std::vector<AppCandidate>& apps,
                                             std::optional<std::uint32_t> activeWindowPid);

// Indices of the applications whose frames must still be asked before choosing: the matches
// of the active window's process when there are several, every application when none matches.
std::vector<std::size_t> appsToAskForFrames(const std::vector<AppCandidate>& apps,
                                            std::optional<std::uint32_t> activeWindowPid);

// A focused object found in the application, with its depth below the application's root.
struct FocusCandidate {
    AtspiObject object;
    int depth = 0;
    bool hasText = false;
};

// The deepest candidate with a Text interface, else the deepest one; among equals the first.
std::optional<FocusCandidate> chooseFocused(const std::vector<FocusCandidate>& candidates);

// One object of an application's own object cache: its path, its parent's path, its states
// and whether it has a Text interface.
struct CachedObject {
    std::string path;
    std::string parent;
    std::uint64_t states = 0;
    bool hasText = false;
};

// The focused objects of a cached tree that lie below the object at `rootPath` (itself
// excluded), with their depth below it. Defunct objects, objects under a hidden ancestor
// (neither showing nor visible) and objects whose chain of parents does not reach the root
// within the cache are left out, as a walk of the tree from the root would leave them.
std::vector<FocusCandidate> focusedInCache(const std::vector<CachedObject>& cache,
                                           const std::string& bus, const std::string& rootPath);
