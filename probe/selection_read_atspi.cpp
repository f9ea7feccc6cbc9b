#include "selection_read_atspi.h"

#include "focus_atspi.h"
#include "names_atspi.h"
#include "selection.h"
#include "text_atspi.h"
#include "utf.h"

#include <algorithm>
#include <vector>

namespace {

// A long selection is read whole up to this many characters, in chunks asked in parallel, so
// that its length counts UTF-16 units exactly; beyond it the length is in the toolkit's offsets.
constexpr std::int64_t kExactLengthLimit = 200000;
constexpr std::int64_t kChunkCharacters = 8192;
// A first answer with an empty text or a zero box for a non-empty range is asked again, 10 and
// then 40 ms later: some toolkits (Firefox) complete a selection's details only after the
// first question.
constexpr int kRereads = 2;
constexpr int kRereadPauseMs = 10;
constexpr int kRereadReserveMs = 200;
// A page not built yet is asked again at this interval while this much of the budget remains:
// Firefox built its page within about 150 ms of the first question, and an element that stays
// at (-1, -1) with nothing selected costs at most half the budget.
constexpr int kUnbuiltPauseMs = 40;
constexpr int kUnbuiltReserveMs = 500;

// False only for a box that was given with no extent (Firefox's first (0,0,0,0)), from a
// toolkit whose zero box may still change.
bool hasBox(const SelectionRead& selection) {
    return !selection.extents || selection.steadyZeroBox || selection.extents->width > 0 ||
           selection.extents->height > 0;
}

// True when the answer has what a selection of its length must have: some text, and a box
// with an extent where one was given.
bool isComplete(const SelectionRead& selection) {
    if (selection.secret || selection.charEnd == selection.charStart) return true;
    return selection.text && !selection.text->empty() && hasBox(selection);
}

// True when an answer is to be read again: a selection counted without its range, or one
// without what its length requires.
bool needsReadingAgain(const std::optional<SelectionRead>& selection, bool rangeMissing) {
    return selection ? !isComplete(*selection) : rangeMissing;
}

// The text and box together. Where the text holds embedded objects (a web page's children,
// standing in it as U+FFFC), the text is assembled from the children.
void readShort(const AtspiRun& run, SelectionRead& selection) {
    TextAndExtents fetched =
        readTextAndExtents(run.bus, selection.object, selection.charStart, selection.charEnd,
                           *run.deadline, selection.windowRelative);
    selection.text = std::move(fetched.text);
    selection.extents = fetched.extents;
    selection.element = fetched.element;
    selection.extentsAsked = selection.charEnd > selection.charStart;
    if (selection.text && selection.text->empty() && selection.charEnd > selection.charStart) {
        // Java's bridge answers "" for a range holding a character outside the BMP.
        BusText source(run.bus, *run.deadline);
        selection.text =
            textInPieces(source, selection.object, selection.charStart, selection.charEnd)
                .value_or("");
    }
    if (selection.text && selection.text->find("\xEF\xBF\xBC") != std::string::npos) {
        BusText source(run.bus, *run.deadline);
        AssembledText assembled =
            assembleText(source, selection.object, selection.charStart, selection.charEnd);
        selection.text = std::move(assembled.text);
        selection.assembled = true;
        // A password among the children: as for a focused password field, the box alone.
        selection.secret = assembled.holdsPassword;
        // The element's box for embedded children is theirs whole (a table, a paragraph's
        // block): the pieces read give the selection's own.
        if (selection.extents && (selection.extents->width > 0 || selection.extents->height > 0)) {
            if (auto pieces = readRangesBox(run.bus, assembled.textReads, *run.deadline))
                selection.extents = pieces;
        }
    }
    if (selection.text) {
        selection.text = withoutSupplementaryPadding(*selection.text);
        selection.length = utf16Length(*selection.text);
    }
}

// The whole selection in parallel chunks, for its exact length in UTF-16 units; its text
// then gives the prefix too.
void readLong(const AtspiRun& run, SelectionRead& selection) {
    if (selection.length > kExactLengthLimit) return;
    std::vector<TextRequest> chunks;
    for (std::int64_t start = selection.charStart; start < selection.charEnd;
         start += kChunkCharacters) {
        chunks.push_back(
            {selection.object, start, std::min(start + kChunkCharacters, selection.charEnd)});
    }
    std::string raw;
    BusText source(run.bus, *run.deadline);
    for (std::optional<std::string>& chunk : source.texts(chunks)) {
        if (!chunk) return;
        raw += *chunk;
    }
    selection.text = withoutSupplementaryPadding(raw);
    selection.length = utf16Length(*selection.text);
    selection.raw = std::move(raw);
}

std::optional<SelectionRead> readOnce(const AtspiRun& run, const AtspiObject& object,
                                      bool& rangeMissing) {
    SelectionOffsets read = readSelectionOffsets(run.bus, object, *run.deadline);
    rangeMissing = read.rangeMissing;
    if (!read.offsets) return std::nullopt;
    SelectionRead selection;
    selection.object = object;
    selection.charStart = read.offsets->first;
    selection.charEnd = read.offsets->second;
    selection.secret = read.secret;
    selection.windowRelative = read.windowRelative;
    selection.steadyZeroBox = read.steadyZeroBox;
    selection.length = selection.charEnd - selection.charStart;
    if (selection.secret) return selection;
    // The logic asks a long selection only for its first units, a short one for its text.
    if (selection.length <= kLongSelectionThreshold) {
        readShort(run, selection);
    } else {
        readLong(run, selection);
    }
    return selection;
}

std::optional<SelectionRead> readAgainIfIncomplete(const AtspiRun& run, const AtspiObject& object) {
    bool rangeMissing = false;
    std::optional<SelectionRead> selection = readOnce(run, object, rangeMissing);
    for (int reread = 0; reread < kRereads && needsReadingAgain(selection, rangeMissing);
         ++reread) {
        if (run.deadline->remainingMs() <= kRereadReserveMs) break;
        // A box with an empty text twice over is the toolkit's steady answer (Java's bridge);
        // a page whose children are not readable yet is asked again, later.
        if (reread > 0 && selection && hasBox(*selection) && !selection->assembled) break;
        g_usleep(static_cast<gulong>(kRereadPauseMs * (1 + 3 * reread)) * 1000);
        // A read again that fails (an error, a time-out) keeps what was read before.
        std::optional<SelectionRead> again = readOnce(run, object, rangeMissing);
        if (again) {
            selection = std::move(again);
        } else if (selection) {
            break;
        }
    }
    return selection;
}

// Right after the focus moves, Firefox may still name the object that had it: where the
// answer stays without a box, the object now focused is asked once more.
std::optional<SelectionRead> readFollowingFocus(const AtspiRun& run, const AtspiObject& element) {
    std::optional<SelectionRead> selection = readAgainIfIncomplete(run, element);
    if (selection && !isComplete(*selection) && !hasBox(*selection) &&
        run.deadline->remainingMs() > kRereadReserveMs) {
        FocusSearch search = findFocusedObject(run.bus, *run.deadline, run.activeWindowPid);
        if (search.focused && !(*search.focused == element)) {
            if (auto moved = readAgainIfIncomplete(run, *search.focused)) {
                selection = std::move(moved);
            }
        }
    }
    return selection;
}

// True for an answer a page still building gives: no range, a caret only, or a range
// without its text or box.
bool lacksSelection(const std::optional<SelectionRead>& selection) {
    return !selection || selection->charEnd == selection->charStart || !isComplete(*selection);
}

// True when the object is placed at (-1, -1): the position of an element whose layout has not
// run yet (Firefox's page in the first moments after it starts).
bool placedNowhere(const AtspiRun& run, const AtspiObject& object) {
    VariantPtr reply = callMethod(
        run.bus,
        {object.bus.c_str(), object.path.c_str(), atspi::kComponentInterface, "GetPosition"},
        g_variant_new("(u)", atspi::kScreenCoordinates), "(ii)", *run.deadline);
    if (!reply) return false;
    gint32 x = 0, y = 0;
    g_variant_get(reply.get(), "(ii)", &x, &y);
    return x == -1 && y == -1;
}

// A page not built yet builds once asked: the focus is found and read again while it shows
// the marks of one and the budget lasts. A round that reads nothing keeps the answer before.
std::optional<SelectionRead> readOnceBuilt(const AtspiRun& run, const AtspiObject& element) {
    std::optional<SelectionRead> selection = readFollowingFocus(run, element);
    AtspiObject current = selection ? selection->object : element;
    while (lacksSelection(selection) && run.deadline->remainingMs() > kUnbuiltReserveMs &&
           placedNowhere(run, current)) {
        g_usleep(static_cast<gulong>(kUnbuiltPauseMs) * 1000);
        FocusSearch search = findFocusedObject(run.bus, *run.deadline, run.activeWindowPid);
        if (search.focused) current = std::move(*search.focused);
        if (auto again = readFollowingFocus(run, current)) selection = std::move(again);
    }
    return selection;
}

} // namespace

std::optional<SelectionRead> readSelection(const AtspiRun& run, const AtspiObject& element) {
    std::optional<SelectionRead> selection = readOnceBuilt(run, element);
    if (!selection) return std::nullopt;
    if (selection->text && selection->text->empty() && selection->charEnd > selection->charStart) {
        // Java's bridge answers "" for a range holding a character outside the BMP: the
        // range's length (its offsets count UTF-16 units there) stays, without text.
        selection->text.reset();
        selection->raw.reset();
        selection->length = selection->charEnd - selection->charStart;
    }
    return selection;
}
