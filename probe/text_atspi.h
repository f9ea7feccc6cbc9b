#pragma once
// The AT-SPI Text, Hypertext and Component reads of one run: the selection's offsets, its
// text and extents, and the text of embedded children. Every call shares the run's deadline.

#include "accessibility.h"
#include "bus_glib.h"
#include "object_model.h"
#include "text_assembly.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

using Offsets = std::pair<std::int64_t, std::int64_t>;

// A (start, end) reply in ascending order; absent for a missing reply or a negative offset.
std::optional<Offsets> offsetsIn(GVariant* reply);
// A (x, y, width, height) reply, normalised; absent for a missing reply.
std::optional<AxRect> rectIn(GVariant* reply);

// The most characters kept of a text asked for whole (a child of a page, end -1).
inline constexpr std::size_t kWholeTextCharacters = 200000;

// The text of a GetText reply for characters [start, end): never more characters than the
// range holds (nor than kWholeTextCharacters when end is -1), whatever the application sent,
// so that no later step works on, or writes, more than was asked.
std::string rangeTextIn(GVariant* reply, std::int64_t start, std::int64_t end);
// Arguments of GetRangeExtents for [start, end) in screen coordinates.
GVariant* extentsArguments(std::int64_t start, std::int64_t end);

// What the first read of an element's selection answered.
struct SelectionOffsets {
    std::optional<Offsets> offsets; // the first selection, else the caret as an empty range
    bool rangeMissing = false;      // a selection was counted but its range not given
    bool secret = false;            // a password field
    bool windowRelative = false;    // a toolkit that answers screen positions per window
    bool steadyZeroBox = false;     // a toolkit whose zero box for a range is its final answer
};

// The role, the count of selections, the first selection, the caret and the application's
// toolkit, asked together. GTK 4 gives window-relative positions when asked for the screen.
SelectionOffsets readSelectionOffsets(GDBusConnection* bus, const AtspiObject& object,
                                      const Deadline& deadline);

struct TextAndExtents {
    std::optional<std::string> text;
    std::optional<AxRect> extents; // asked only for a non-empty range
    std::optional<AxRect> element; // the element's box, asked with the range's
};

// A range's box and the element's box, as measured together.
struct MeasuredBox {
    std::optional<AxRect> box;
    std::optional<AxRect> element;
};

// The text of [start, end) and its box, asked together. The box is made from the range's
// extents, its ends' and the element's box (see rangeBox).
// `windowRelative`: the toolkit's positions are relative to its window (GTK 4).
TextAndExtents readTextAndExtents(GDBusConnection* bus, const AtspiObject& object,
                                  std::int64_t start, std::int64_t end, const Deadline& deadline,
                                  bool windowRelative = false);

// The box of the non-empty range [start, end), in screen coordinates.
std::optional<AxRect> readRangeBox(GDBusConnection* bus, const AtspiObject& object,
                                   std::int64_t start, std::int64_t end, const Deadline& deadline,
                                   bool windowRelative = false);

// The union of the boxes of ranges of several objects (an assembled selection's pieces), asked
// together; absent when none has a box with an extent.
std::optional<AxRect> readRangesBox(GDBusConnection* bus, const std::vector<TextRequest>& ranges,
                                    const Deadline& deadline);

// Text and hypertext reads of any object on the bus, for assembling embedded children.
class BusText final : public HypertextSource {
  public:
    BusText(GDBusConnection* bus, const Deadline& deadline) : bus_(bus), deadline_(&deadline) {}

    VariantPtr call(const AtspiObject& object, const char* interface, const char* method,
                    GVariant* arguments, const char* replyType);
    std::optional<std::string> text(const AtspiObject& object, std::int64_t start,
                                    std::int64_t end);

    std::vector<std::optional<std::string>>
    texts(const std::vector<TextRequest>& requests) override;
    // Link index, link and its object: three batches whatever the number of children.
    std::vector<std::optional<AtspiObject>>
    embeddedAt(const std::vector<std::pair<AtspiObject, std::int64_t>>& characters) override;
    std::vector<std::optional<Offsets>>
    selectionsIn(const std::vector<AtspiObject>& objects) override;
    std::vector<std::uint32_t> rolesOf(const std::vector<AtspiObject>& objects) override;
    // GetCharacterAtOffset, asked together.
    std::vector<std::optional<std::int64_t>>
    charactersAt(const AtspiObject& object, const std::vector<std::int64_t>& offsets) override;

  private:
    GDBusConnection* bus_;
    const Deadline* deadline_;
};
