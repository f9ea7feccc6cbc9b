#pragma once
// The text of a selection that spans embedded objects (a web page's paragraphs and links),
// assembled from the text of each object, and which objects keep their text to themselves.
// The one place where the text of the answer is put together from objects; nothing here
// touches a bus.

#include "object_model.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The character that stands for an embedded child in its parent's text.
inline constexpr char32_t kEmbeddedObject = 0xFFFC;

// True when an object of this role must not give its text or selection length (a password
// field).
bool keepsTextPrivate(std::uint32_t role);

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
    // The character at each offset of `object`: a code point, or one UTF-16 unit where the
    // toolkit's offsets count units (Java); absent where it cannot be read.
    virtual std::vector<std::optional<std::int64_t>>
    charactersAt(const AtspiObject& object, const std::vector<std::int64_t>& offsets) {
        (void)object;
        return std::vector<std::optional<std::int64_t>>(offsets.size());
    }
};

// Bounds on reading the children of a selection: nesting depth, total UTF-16 units of the
// result, and the number of embedded children asked.
struct AssemblyLimits {
    int depth = 16;
    std::int64_t units = 200000;
    std::size_t children = 5000;
};

// An assembled text. A password field among the children whose text would go into it keeps
// the whole range's text and length private, as a focused password field does: its text is
// never read.
struct AssembledText {
    std::optional<std::string> text; // absent when private or when the object is unreadable
    bool holdsPassword = false;
    // The ranges read that gave characters of their own (not only embedded children), each
    // with its end, at most kMeasuredReads of them; empty when there were more. Their boxes
    // make the selection's.
    std::vector<TextRequest> textReads;
};

inline constexpr std::size_t kMeasuredReads = 64;

// The text of characters [start, end) of `object`, with each embedded-object character
// replaced by the text of the child it stands for: a child inside the range whole, a child
// at either end by its own selection where it has one, else whole; a list item read from its
// start without its marker. Children side by side (blocks such as paragraphs) are separated
// by a line break. A child that cannot be read contributes nothing. The limits apply before
// the work: past `children` embedded characters, the rest stand for nothing. Absent only when
// the object's own text cannot be read, or when it holds a password.
AssembledText assembleText(HypertextSource& source, const AtspiObject& object, std::int64_t start,
                           std::int64_t end, const AssemblyLimits& limits = {});

// Bounds on reading a range in pieces: the characters of one piece, and how many characters
// are asked one by one in all.
struct PieceLimits {
    std::int64_t piece = 32;
    std::int64_t characters = 256;
};

// The text of the non-empty range [start, end) of `object`, for a toolkit that answers "" for
// a range it cannot give whole (Java's bridge, for any range holding a character outside the
// BMP): read in pieces asked together, and each piece answered "" character by character, its
// UTF-16 units paired again. A lone surrogate, or a code that is no character, becomes U+FFFD.
// Absent when a piece or a character cannot be read, when a character reads as 0 (past the
// text), or when more characters than the limit would be asked one by one.
std::optional<std::string> textInPieces(HypertextSource& source, const AtspiObject& object,
                                        std::int64_t start, std::int64_t end,
                                        const PieceLimits& limits = {});
