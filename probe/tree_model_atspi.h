#pragma once
// The AT-SPI layer's decisions, free of any bus: which application and which focused object
// to read, how an element's characters map to UTF-16 units, how a selection that spans
// embedded objects is read as text, and which elements keep their text to themselves.

#include "accessibility.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An accessible object: the bus name of its application and its object path.
struct AtspiObject {
    std::string bus;
    std::string path;
    bool operator==(const AtspiObject&) const = default;
};

// State and role numbers of the AT-SPI interfaces.
inline constexpr int kStateActive = 1;
inline constexpr int kStateDefunct = 6;
inline constexpr int kStateFocused = 12;
inline constexpr int kStateShowing = 25;
inline constexpr int kStateVisible = 30;
inline constexpr std::uint32_t kRoleListItem = 32;
inline constexpr std::uint32_t kRolePasswordText = 40;

inline bool hasState(std::uint64_t states, int state) {
    return (states >> state) & 1u;
}

// True when the focus may lie below an object with these states: it is showing or visible.
// GTK 4 containers lack `showing` but are visible; hidden menus and pages are neither.
inline bool mayHoldFocusBelow(std::uint64_t states) {
    return hasState(states, kStateShowing) || hasState(states, kStateVisible);
}

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

// The box of a long range from the boxes of its first and last characters and of its
// element. On one line it is the union of the two characters; over several lines it reaches
// from the first line's top to the last line's bottom across the element's width, which the
// lines between fill. Absent when either character has no height (a box not laid out yet):
// the range is then measured whole.
std::optional<AxRect> boxFromEnds(const std::optional<AxRect>& first,
                                  const std::optional<AxRect>& last,
                                  const std::optional<AxRect>& element);

// True when the element must not give its text or selection length (a password field).
bool keepsTextPrivate(std::uint32_t role);

// The number of characters (code points) at the start of `text` that `units` UTF-16 code
// units cover; a character cut in half by `units` counts as covered. The U+FEFF padding after
// a character outside the BMP takes a character but no unit, so that a prefix of the text
// without its padding covers the padding too.
std::int64_t charactersCoveringUnits(std::string_view text, std::int64_t units);

// Text with the invisible U+FEFF that some toolkits put after every character outside the
// Basic Multilingual Plane (to keep their offsets in UTF-16 units) taken out.
std::string withoutSupplementaryPadding(std::string_view text);

inline constexpr char32_t kEmbeddedObject = 0xFFFC;

// One read of characters [start, end) of an object's text; end -1 is the end of its text.
struct TextRequest {
    AtspiObject object;
    std::int64_t start = 0;
    std::int64_t end = -1;
    bool listItem = false; // its text starts with the list's marker ("• ", "1. ")
};

// `text` without the list marker at its start (a bullet and a space, or a short number or
// letter with "." or ")" and a space), and in `characters` how many characters it took. A
// page's own selection never holds the marker that a list item shows in its text.
std::string_view withoutListMarker(std::string_view text, std::int64_t& characters);

// What the text of a hypertext element and of its embedded children is read through. Each
// operation takes a batch and answers in the same order, so that a page's children are asked
// together, one level of nesting at a time.
class HypertextSource {
  public:
    virtual ~HypertextSource() = default;
    // The requested text as UTF-8; absent where the object's text cannot be read.
    virtual std::vector<std::optional<std::string>>
    texts(const std::vector<TextRequest>& requests) = 0;
    // The child that the embedded-object character at each (object, offset) stands for.
    virtual std::vector<std::optional<AtspiObject>>
    embeddedAt(const std::vector<std::pair<AtspiObject, std::int64_t>>& characters) = 0;
    // Each object's own first selection in characters, absent when it has none.
    virtual std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>>
    selectionsIn(const std::vector<AtspiObject>& objects) = 0;
    // Each object's role; 0 where it is not known.
    virtual std::vector<std::uint32_t> rolesOf(const std::vector<AtspiObject>& objects) {
        return std::vector<std::uint32_t>(objects.size(), 0);
    }
};

// Bounds on reading the children of a selection: nesting depth, total UTF-16 units of the
// result, and the number of embedded children asked.
struct AssemblyLimits {
    int depth = 16;
    std::int64_t units = 200000;
    std::size_t children = 5000;
};

// The text of characters [start, end) of `object`, with each embedded-object character
// replaced by the text of the child it stands for: a child inside the range whole, a child
// at either end by its own selection where it has one, else whole; a list item read from its
// start without its marker. Children side by side
// (blocks such as paragraphs) are separated by a line break. A child that cannot be read
// contributes nothing. Absent only when the object's own text cannot be read.
std::optional<std::string> assembleText(HypertextSource& source, const AtspiObject& object,
                                        std::int64_t start, std::int64_t end,
                                        const AssemblyLimits& limits = {});

// Owns values by small integer handles; 0 is never a handle.
template <class T>
class HandleTable {
  public:
    std::uintptr_t add(T value) {
        values_.emplace(next_, std::move(value));
        return next_++;
    }
    T* find(std::uintptr_t handle) {
        auto found = values_.find(handle);
        return found == values_.end() ? nullptr : &found->second;
    }
    void erase(std::uintptr_t handle) { values_.erase(handle); }
    std::size_t size() const { return values_.size(); }

  private:
    std::map<std::uintptr_t, T> values_;
    std::uintptr_t next_ = 1;
};
