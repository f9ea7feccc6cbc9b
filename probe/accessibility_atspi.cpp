// The accessibility queries over AT-SPI2: the handle and value table the decision logic sees,
// over the reads of text_atspi. AT-SPI counts text in characters; lengths handed to the
// decision logic are UTF-16 units.
// Range locations are the element's character offsets: the logic only hands them back to
// createRange, so they are never converted.

#include "accessibility.h"
#include "bus_glib.h"
#include "display_x11.h"
#include "focus_atspi.h"
#include "text_atspi.h"
#include "tree_model_atspi.h"
#include "utf.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// The whole run, connection included, finishes within this budget whatever the peers do.
constexpr int kBudgetMs = 1000;
// Selections of more characters are long: the logic asks only for their first units.
constexpr std::int64_t kWholeFetchLimit = 3600;
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
// A display that does not answer in this time is left out: no window process, no address.
constexpr int kDisplayTimeoutMs = 150;

// A selection of one element as read once per run.
struct Selection {
    std::int64_t charStart = 0;
    std::int64_t charEnd = 0;
    std::int64_t length = 0;         // UTF-16 units once the text is read, else characters
    std::optional<std::string> text; // with embedded objects replaced by their text
    bool assembled = false;          // text came from embedded children too
    bool secret = false;             // a password field: neither text nor length leave
    std::optional<AxRect> extents;   // the box of [charStart, charEnd), when asked
    bool extentsAsked = false;       // asked with the text: a failure is not asked again
    std::optional<std::string> raw;  // a long selection's text as the toolkit gave it
    bool windowRelative = false;     // the toolkit's positions are relative to its window
};

enum class Kind { desktop, element, range, point, size, rect, string };

struct Node {
    Kind kind = Kind::string;
    AtspiObject object;                  // element
    std::optional<Selection> selection;  // element, once read
    bool selectionRead = false;          // element: read, successfully or not, once a run
    AxRange range;                       // range
    std::int64_t charStart = 0;          // range
    std::optional<std::int64_t> charEnd; // range; absent until measured against the text
    std::optional<std::string> text;     // range (once fetched) and string
    bool secret = false;                 // range of a password field
    AxPoint point;
    AxSize size;
    AxRect rect;
};

Node nodeOf(Kind kind) {
    Node node;
    node.kind = kind;
    return node;
}

Node stringNode(std::string text) {
    Node node = nodeOf(Kind::string);
    node.text = std::move(text);
    return node;
}

class AtspiAccessibility final : public Accessibility {
  public:
    bool isProcessTrusted() override;
    AxRef createSystemWide() override { return nodes_.add(nodeOf(Kind::desktop)); }
    std::optional<AxRef> copyAttributeValue(AxRef element, std::string_view attribute) override;
    std::optional<AxRef> copyParameterizedAttributeValue(AxRef element, std::string_view attribute,
                                                         AxRef parameter) override;
    bool isAccessibilityValue(AxRef value) override;
    int valueType(AxRef value) override;
    std::optional<AxPoint> pointValue(AxRef value) override;
    std::optional<AxSize> sizeValue(AxRef value) override;
    std::optional<AxRect> rectValue(AxRef value) override;
    std::optional<AxRange> rangeValue(AxRef value) override;
    std::optional<std::string> stringValue(AxRef value) override;
    AxRef createRange(AxRange range) override;
    void release(AxRef ref) override { nodes_.erase(ref); }

  private:
    Node* find(AxRef ref, Kind kind);
    const Selection* readSelection(Node& element);
    std::optional<Selection> readSelectionOnce(const AtspiObject& object, bool& rangeMissing);
    std::optional<Selection> readSelectionAgainIfIncomplete(const AtspiObject& object);
    void readShortSelection(const AtspiObject& object, Selection& selection);
    void readLongSelection(const AtspiObject& object, Selection& selection);
    std::optional<AxRect> onScreen(const Node& element, AxRect box, bool clip) const;
    bool measureRange(const Node& element, Node& range);
    std::optional<AxRef> focusedElement();
    std::optional<AxRef> selectedText(Node& element);
    std::optional<AxRef> pair(const AtspiObject& object, const char* method, GVariant* arguments,
                              Kind kind);
    std::optional<AxRef> stringForRange(Node& element, Node& range);
    std::optional<AxRef> boundsForRange(Node& element, Node& range);

    Deadline deadline_{kBudgetMs};
    GObjectPtr<GDBusConnection> bus_;
    BusText text_{nullptr, deadline_};
    std::optional<std::uint32_t> activeWindowPid_;
    std::optional<AxRect> activeWindowBox_;
    HandleTable<Node> nodes_;
};

std::optional<std::string> accessibilityBusAddress(const std::string& session,
                                                   const Deadline& deadline) {
    GObjectPtr<GDBusConnection> bus = connectToBus(session, deadline);
    // The session may start its accessibility bus on demand; that is the session's own service.
    VariantPtr reply =
        callMethod(bus.get(), {"org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"},
                   nullptr, "(s)", deadline, INT_MAX, true);
    if (!reply) return std::nullopt;
    const gchar* address = nullptr;
    g_variant_get(reply.get(), "(&s)", &address);
    if (!address || !*address) return std::nullopt;
    return std::string(address);
}

// Without a session bus there is no accessibility service of this session to trust. The
// address that the bus launcher publishes on the display saves one bus handshake.
bool AtspiAccessibility::isProcessTrusted() {
    std::optional<std::string> session = sessionBusAddress();
    if (!session) return false;
    DisplayRead display(kDisplayTimeoutMs);
    const char* fixed = std::getenv("AT_SPI_BUS_ADDRESS");
    std::optional<std::string> address =
        fixed && *fixed ? std::optional<std::string>(fixed) : display.accessibilityBus();
    if (address) bus_ = connectToBus(*address, deadline_);
    if (!bus_ && !(fixed && *fixed)) {
        if (auto asked = accessibilityBusAddress(*session, deadline_)) {
            bus_ = connectToBus(*asked, deadline_);
        }
    }
    DisplayFacts facts = display.facts();
    activeWindowPid_ = facts.activeWindowPid;
    activeWindowBox_ = facts.activeWindowBox;
    text_ = BusText(bus_.get(), deadline_);
    return bus_ != nullptr;
}

Node* AtspiAccessibility::find(AxRef ref, Kind kind) {
    Node* node = nodes_.find(ref);
    return node && node->kind == kind ? node : nullptr;
}

// False only for a box that was given with no extent (Firefox's first (0,0,0,0)).
bool hasBox(const Selection& selection) {
    return !selection.extents || selection.extents->width > 0 || selection.extents->height > 0;
}

// True when the answer has what a selection of its length must have: some text, and a box
// with an extent where one was given.
bool isComplete(const Selection& selection) {
    if (selection.secret || selection.charEnd == selection.charStart) return true;
    return selection.text && !selection.text->empty() && hasBox(selection);
}

// True when an answer is to be read again: a selection counted without its range, or one
// without what its length requires.
bool needsReadingAgain(const std::optional<Selection>& selection, bool rangeMissing) {
    return selection ? !isComplete(*selection) : rangeMissing;
}

std::optional<Selection>
AtspiAccessibility::readSelectionAgainIfIncomplete(const AtspiObject& object) {
    bool rangeMissing = false;
    std::optional<Selection> selection = readSelectionOnce(object, rangeMissing);
    for (int reread = 0; reread < kRereads && needsReadingAgain(selection, rangeMissing);
         ++reread) {
        if (deadline_.remainingMs() <= kRereadReserveMs) break;
        // A box with an empty text twice over is the toolkit's steady answer (Java's bridge);
        // a page whose children are not readable yet is asked again, later.
        if (reread > 0 && selection && hasBox(*selection) && !selection->assembled) break;
        g_usleep(static_cast<gulong>(kRereadPauseMs * (1 + 3 * reread)) * 1000);
        // A read again that fails (an error, a time-out) keeps what was read before.
        std::optional<Selection> again = readSelectionOnce(object, rangeMissing);
        if (again) {
            selection = std::move(again);
        } else if (selection) {
            break;
        }
    }
    return selection;
}

// Read once a run, so that every query of the run sees the same answer: a text is never
// given beside a range that was not.
const Selection* AtspiAccessibility::readSelection(Node& element) {
    if (element.selectionRead) return element.selection ? &*element.selection : nullptr;
    element.selectionRead = true;
    std::optional<Selection> selection = readSelectionAgainIfIncomplete(element.object);
    if (selection && !isComplete(*selection) && !hasBox(*selection) &&
        deadline_.remainingMs() > kRereadReserveMs) {
        // Right after the focus moves, Firefox may still name the object that had it: the
        // object now focused is asked once more.
        FocusSearch search = findFocusedObject(bus_.get(), deadline_, activeWindowPid_);
        if (search.focused && !(*search.focused == element.object)) {
            if (auto moved = readSelectionAgainIfIncomplete(*search.focused)) {
                element.object = *search.focused;
                selection = std::move(moved);
            }
        }
    }
    if (!selection) return nullptr;
    if (selection->text && selection->text->empty() && selection->charEnd > selection->charStart) {
        // Java's bridge answers "" for a range holding a character outside the BMP: the
        // range's length (its offsets count UTF-16 units there) stays, without text.
        selection->text.reset();
        selection->raw.reset();
        selection->length = selection->charEnd - selection->charStart;
    }
    element.selection = std::move(*selection);
    return &*element.selection;
}

std::optional<Selection> AtspiAccessibility::readSelectionOnce(const AtspiObject& object,
                                                               bool& rangeMissing) {
    SelectionOffsets read = readSelectionOffsets(bus_.get(), object, deadline_);
    rangeMissing = read.rangeMissing;
    if (!read.offsets) return std::nullopt;
    Selection selection;
    selection.charStart = read.offsets->first;
    selection.charEnd = read.offsets->second;
    selection.secret = read.secret;
    selection.windowRelative = read.windowRelative;
    selection.length = selection.charEnd - selection.charStart;
    if (selection.secret) return selection;
    if (selection.length <= kWholeFetchLimit) {
        readShortSelection(object, selection);
    } else {
        readLongSelection(object, selection);
    }
    return selection;
}

void AtspiAccessibility::readShortSelection(const AtspiObject& object, Selection& selection) {
    TextAndExtents fetched =
        readTextAndExtents(bus_.get(), object, selection.charStart, selection.charEnd, deadline_);
    selection.text = std::move(fetched.text);
    selection.extents = fetched.extents;
    selection.extentsAsked = selection.charEnd > selection.charStart;
    if (selection.text && selection.text->find("\xEF\xBF\xBC") != std::string::npos) {
        // Web pages: the selection spans children that stand in the text as U+FFFC.
        selection.text = assembleText(text_, object, selection.charStart, selection.charEnd);
        selection.assembled = true;
    }
    if (selection.text) {
        selection.text = withoutSupplementaryPadding(*selection.text);
        selection.length = utf16Length(*selection.text);
    }
}

// The whole selection in parallel chunks, for its exact length in UTF-16 units; its text
// then gives the prefix too.
void AtspiAccessibility::readLongSelection(const AtspiObject& object, Selection& selection) {
    if (selection.length > kExactLengthLimit) return;
    std::vector<TextRequest> chunks;
    for (std::int64_t start = selection.charStart; start < selection.charEnd;
         start += kChunkCharacters) {
        chunks.push_back({object, start, std::min(start + kChunkCharacters, selection.charEnd)});
    }
    std::string raw;
    for (std::optional<std::string>& chunk : text_.texts(chunks)) {
        if (!chunk) return;
        raw += *chunk;
    }
    selection.text = withoutSupplementaryPadding(raw);
    selection.length = utf16Length(*selection.text);
    selection.raw = std::move(raw);
}

// Finds the characters a range created by location and UTF-16 length covers, and its text.
// A range at the start of a long selection already read is measured against that text.
bool AtspiAccessibility::measureRange(const Node& element, Node& range) {
    if (range.charEnd) return true;
    if (range.range.length < 0) return false;
    const Selection* selection = element.selection ? &*element.selection : nullptr;
    auto units = static_cast<std::size_t>(range.range.length);
    if (selection && selection->raw && selection->text && range.charStart == selection->charStart) {
        range.charEnd =
            range.charStart + charactersCoveringUnits(*selection->raw, range.range.length);
        range.text = utf16Prefix(*selection->text, units);
        return true;
    }
    // Each character takes at least one unit, so this many characters hold the whole range.
    auto text = text_.text(element.object, range.charStart, range.charStart + range.range.length);
    if (!text) return false;
    range.charEnd = range.charStart + charactersCoveringUnits(*text, range.range.length);
    range.text = utf16Prefix(withoutSupplementaryPadding(*text), units);
    return true;
}

std::optional<AxRef> AtspiAccessibility::focusedElement() {
    FocusSearch search = findFocusedObject(bus_.get(), deadline_, activeWindowPid_);
    if (!search.answered) return std::nullopt;
    if (!search.focused) return kNullRef;
    Node element = nodeOf(Kind::element);
    element.object = std::move(*search.focused);
    return nodes_.add(std::move(element));
}

std::optional<AxRef> AtspiAccessibility::selectedText(Node& element) {
    const Selection* selection = readSelection(element);
    if (!selection || selection->secret) return std::nullopt;
    std::optional<std::string> text = selection->text;
    if (!text) text = text_.text(element.object, selection->charStart, selection->charEnd);
    if (!text) return std::nullopt;
    return nodes_.add(stringNode(std::move(*text)));
}

// A Component call answering two integers, as a point or a size.
std::optional<AxRef> AtspiAccessibility::pair(const AtspiObject& object, const char* method,
                                              GVariant* arguments, Kind kind) {
    VariantPtr reply = text_.call(object, kComponentInterface, method, arguments, "(ii)");
    if (!reply) return std::nullopt;
    gint32 first = 0, second = 0;
    g_variant_get(reply.get(), "(ii)", &first, &second);
    Node node = nodeOf(kind);
    node.point = {double(first), double(second)};
    node.size = {double(first), double(second)};
    return nodes_.add(std::move(node));
}

std::optional<AxRef> AtspiAccessibility::copyAttributeValue(AxRef ref, std::string_view attribute) {
    if (find(ref, Kind::desktop)) {
        if (attribute == "AXFocusedUIElement") return focusedElement();
        return std::nullopt;
    }
    Node* element = find(ref, Kind::element);
    if (!element) return std::nullopt;
    if (attribute == "AXSelectedTextRange") {
        const Selection* selection = readSelection(*element);
        if (!selection) return std::nullopt;
        Node range = nodeOf(Kind::range);
        range.range = {selection->charStart, selection->length};
        range.charStart = selection->charStart;
        range.charEnd = selection->charEnd;
        range.text = selection->text;
        range.secret = selection->secret;
        return nodes_.add(std::move(range));
    }
    if (attribute == "AXSelectedText") return selectedText(*element);
    AtspiObject object = element->object;
    if (attribute == "AXPosition") {
        std::optional<AxRef> position =
            pair(object, "GetPosition", g_variant_new("(u)", kScreenCoordinates), Kind::point);
        if (Node* point = position ? find(*position, Kind::point) : nullptr) {
            AxRect moved = *onScreen(*element, {point->point.x, point->point.y, 0, 0}, false);
            point->point = {moved.x, moved.y};
        }
        return position;
    }
    if (attribute == "AXSize") return pair(object, "GetSize", nullptr, Kind::size);
    return std::nullopt;
}

// A range over an assembled selection (text from embedded children) is read from that text:
// the element's own offsets do not count the children's characters.
std::optional<AxRef> AtspiAccessibility::stringForRange(Node& element, Node& range) {
    if (range.secret) return std::nullopt;
    const Selection* selection = element.selection ? &*element.selection : nullptr;
    if (selection && selection->assembled && selection->text &&
        range.charStart == selection->charStart && range.range.length >= 0) {
        return nodes_.add(stringNode(
            utf16Prefix(*selection->text, static_cast<std::size_t>(range.range.length))));
    }
    if (!measureRange(element, range)) return std::nullopt;
    std::optional<std::string> text = range.text;
    if (!text) text = text_.text(element.object, range.charStart, *range.charEnd);
    if (!text) return std::nullopt;
    return nodes_.add(stringNode(std::move(*text)));
}

// Where a box lies on screen: a window-relative box moved by its window's origin, then, when
// `clip` asks, cut to the focused window, so that a part scrolled out of view or a placeholder
// taller than the window is not given. Absent when nothing of it lies inside the window.
std::optional<AxRect> AtspiAccessibility::onScreen(const Node& element, AxRect box,
                                                   bool clip) const {
    if (!activeWindowBox_) return box;
    const AxRect& window = *activeWindowBox_;
    if (element.selection && element.selection->windowRelative) {
        box.x += window.x;
        box.y += window.y;
    }
    if (!clip) return box;
    double left = std::max(box.x, window.x);
    double top = std::max(box.y, window.y);
    double right = std::min(box.x + box.width, window.x + window.width);
    double bottom = std::min(box.y + box.height, window.y + window.height);
    if (right < left || bottom < top) return std::nullopt;
    return AxRect{left, top, right - left, bottom - top};
}

// AT-SPI has no extents for an empty range (a caret); toolkits reject the call, so it fails
// here and the element's box is used instead.
std::optional<AxRef> AtspiAccessibility::boundsForRange(Node& element, Node& range) {
    const Selection* selection = element.selection ? &*element.selection : nullptr;
    if (selection && selection->assembled && range.charStart == selection->charStart) {
        range.charEnd = selection->charEnd;
    }
    if (!measureRange(element, range) || *range.charEnd == range.charStart) {
        return std::nullopt;
    }
    if (*range.charEnd > INT32_MAX) return std::nullopt;
    std::optional<AxRect> box;
    if (selection && selection->extentsAsked && range.charStart == selection->charStart &&
        *range.charEnd == selection->charEnd) {
        box = selection->extents;
    } else {
        box = readRangeBox(bus_.get(), element.object, range.charStart, *range.charEnd, deadline_);
    }
    if (box) box = onScreen(element, *box, true);
    if (!box) return std::nullopt;
    Node node = nodeOf(Kind::rect);
    node.rect = *box;
    return nodes_.add(std::move(node));
}

std::optional<AxRef> AtspiAccessibility::copyParameterizedAttributeValue(AxRef ref,
                                                                         std::string_view attribute,
                                                                         AxRef parameter) {
    Node* element = find(ref, Kind::element);
    Node* range = find(parameter, Kind::range);
    if (!element || !range) return std::nullopt;
    if (attribute == "AXStringForRange") return stringForRange(*element, *range);
    if (attribute == "AXBoundsForRange") return boundsForRange(*element, *range);
    return std::nullopt;
}

bool AtspiAccessibility::isAccessibilityValue(AxRef value) {
    return find(value, Kind::range) || find(value, Kind::point) || find(value, Kind::size) ||
           find(value, Kind::rect);
}

int AtspiAccessibility::valueType(AxRef value) {
    if (find(value, Kind::point)) return kAxPointType;
    if (find(value, Kind::size)) return kAxSizeType;
    if (find(value, Kind::rect)) return kAxRectType;
    if (find(value, Kind::range)) return kAxRangeType;
    return 0;
}

std::optional<AxPoint> AtspiAccessibility::pointValue(AxRef value) {
    if (Node* node = find(value, Kind::point)) return node->point;
    return std::nullopt;
}

std::optional<AxSize> AtspiAccessibility::sizeValue(AxRef value) {
    if (Node* node = find(value, Kind::size)) return node->size;
    return std::nullopt;
}

std::optional<AxRect> AtspiAccessibility::rectValue(AxRef value) {
    if (Node* node = find(value, Kind::rect)) return node->rect;
    return std::nullopt;
}

// A password field's range keeps its length to itself; it still measures its box.
std::optional<AxRange> AtspiAccessibility::rangeValue(AxRef value) {
    Node* node = find(value, Kind::range);
    if (node && !node->secret) return node->range;
    return std::nullopt;
}

std::optional<std::string> AtspiAccessibility::stringValue(AxRef value) {
    if (Node* node = find(value, Kind::string)) return node->text;
    return std::nullopt;
}

// Locations are character offsets, as reported by AXSelectedTextRange.
AxRef AtspiAccessibility::createRange(AxRange range) {
    if (range.location < 0) return kNullRef;
    Node created = nodeOf(Kind::range);
    created.range = range;
    created.charStart = range.location;
    return nodes_.add(std::move(created));
}

} // namespace

std::unique_ptr<Accessibility> makeAccessibility() {
    return std::make_unique<AtspiAccessibility>();
}
