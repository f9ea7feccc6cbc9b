// The accessibility queries over AT-SPI2, talking to its D-Bus interfaces through GIO.
// AT-SPI counts text in characters; lengths handed to the decision logic are UTF-16 units.

#include "accessibility.h"
#include "bus_glib.h"
#include "focus_atspi.h"
#include "utf.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>

namespace {

// The whole run, connection included, finishes within this budget whatever the peers do.
constexpr int kBudgetMs = 1000;
// Selections of more characters are not fetched whole; their length is counted in characters.
constexpr std::int64_t kWholeFetchLimit = 3600;
// The text before a selection is read (to count its UTF-16 units) only up to this many.
constexpr std::int64_t kLeadFetchLimit = 100000;
constexpr guint32 kScreenCoordinates = 0;

const char* const kText = "org.a11y.atspi.Text";
const char* const kComponent = "org.a11y.atspi.Component";

// A selection of one element as read once per run, in characters and in UTF-16 units.
struct Selection {
    std::int64_t charStart = 0;
    std::int64_t charEnd = 0;
    AxRange range;
    std::optional<std::string> text;
};

enum class Kind { desktop, element, range, point, size, rect, string };

struct Node {
    Kind kind = Kind::string;
    AtspiObject object;                  // element
    std::optional<Selection> selection;  // element, once read
    AxRange range;                       // range, in UTF-16 units
    std::int64_t charStart = 0;          // range
    std::optional<std::int64_t> charEnd; // range; absent until measured against the text
    std::optional<std::string> text;     // range (once fetched) and string
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
    AxRef createSystemWide() override { return add(nodeOf(Kind::desktop)); }
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
    AxRef add(Node node);
    Node* find(AxRef ref, Kind kind);
    VariantPtr call(const AtspiObject& object, const char* interface, const char* method,
                    GVariant* arguments, const char* replyType);
    std::optional<std::string> textBetween(const AtspiObject& object, std::int64_t start,
                                           std::int64_t end);
    std::optional<std::pair<std::int64_t, std::int64_t>>
    selectionOffsets(const AtspiObject& object);
    const Selection* readSelection(Node& element);
    bool measureRange(const AtspiObject& object, Node& range);
    std::optional<AxRef> focusedElement();
    std::optional<AxRef> selectedText(Node& element);
    std::optional<AxRef> pair(const AtspiObject& object, const char* method, GVariant* arguments,
                              Kind kind);
    std::optional<AxRef> stringForRange(const AtspiObject& object, Node& range);
    std::optional<AxRef> boundsForRange(const AtspiObject& object, Node& range);

    Deadline deadline_{kBudgetMs};
    GObjectPtr<GDBusConnection> bus_;
    std::map<AxRef, Node> nodes_;
    std::map<std::int64_t, std::int64_t> charOffsetOfLocation_;
    AxRef next_ = 1;
};

std::optional<std::string> accessibilityBusAddress(const Deadline& deadline) {
    const char* fixed = std::getenv("AT_SPI_BUS_ADDRESS");
    if (fixed && *fixed) return std::string(fixed);
    std::optional<std::string> session = sessionBusAddress();
    if (!session) return std::nullopt;
    GObjectPtr<GDBusConnection> bus = connectToBus(*session, deadline);
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

bool AtspiAccessibility::isProcessTrusted() {
    std::optional<std::string> address = accessibilityBusAddress(deadline_);
    if (address) bus_ = connectToBus(*address, deadline_);
    return bus_ != nullptr;
}

AxRef AtspiAccessibility::add(Node node) {
    nodes_.emplace(next_, std::move(node));
    return next_++;
}

Node* AtspiAccessibility::find(AxRef ref, Kind kind) {
    auto found = nodes_.find(ref);
    if (found == nodes_.end() || found->second.kind != kind) return nullptr;
    return &found->second;
}

VariantPtr AtspiAccessibility::call(const AtspiObject& object, const char* interface,
                                    const char* method, GVariant* arguments,
                                    const char* replyType) {
    return callMethod(bus_.get(), {object.bus.c_str(), object.path.c_str(), interface, method},
                      arguments, replyType, deadline_);
}

std::optional<std::string> AtspiAccessibility::textBetween(const AtspiObject& object,
                                                           std::int64_t start, std::int64_t end) {
    if (start < 0 || end < start || end > INT32_MAX) return std::nullopt;
    VariantPtr reply =
        call(object, kText, "GetText",
             g_variant_new("(ii)", static_cast<gint32>(start), static_cast<gint32>(end)), "(s)");
    if (!reply) return std::nullopt;
    const gchar* text = nullptr;
    g_variant_get(reply.get(), "(&s)", &text);
    return std::string(text);
}

// The first selection, or the caret as an empty selection when nothing is selected.
std::optional<std::pair<std::int64_t, std::int64_t>>
AtspiAccessibility::selectionOffsets(const AtspiObject& object) {
    VariantPtr count = call(object, kText, "GetNSelections", nullptr, "(i)");
    if (!count) return std::nullopt;
    gint32 selections = 0;
    g_variant_get(count.get(), "(i)", &selections);
    if (selections > 0) {
        VariantPtr first = call(object, kText, "GetSelection", g_variant_new("(i)", 0), "(ii)");
        if (!first) return std::nullopt;
        gint32 start = 0, end = 0;
        g_variant_get(first.get(), "(ii)", &start, &end);
        if (start < 0 || end < 0) return std::nullopt;
        return std::pair<std::int64_t, std::int64_t>{std::min(start, end), std::max(start, end)};
    }
    VariantPtr caret = call(object, "org.freedesktop.DBus.Properties", "Get",
                            g_variant_new("(ss)", kText, "CaretOffset"), "(v)");
    if (!caret) return std::nullopt;
    GVariant* inner = nullptr;
    g_variant_get(caret.get(), "(v)", &inner);
    VariantPtr value(inner);
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32)) return std::nullopt;
    gint32 offset = g_variant_get_int32(value.get());
    if (offset < 0) return std::nullopt;
    return std::pair<std::int64_t, std::int64_t>{offset, offset};
}

const Selection* AtspiAccessibility::readSelection(Node& element) {
    if (element.selection) return &*element.selection;
    auto offsets = selectionOffsets(element.object);
    if (!offsets) return nullptr;
    Selection selection;
    selection.charStart = offsets->first;
    selection.charEnd = offsets->second;
    std::int64_t characters = selection.charEnd - selection.charStart;
    selection.range = {selection.charStart, characters};
    if (characters <= kWholeFetchLimit) {
        selection.text = textBetween(element.object, selection.charStart, selection.charEnd);
        if (selection.text) selection.range.length = utf16Length(*selection.text);
    }
    if (selection.charStart > 0 && selection.charStart <= kLeadFetchLimit) {
        if (auto lead = textBetween(element.object, 0, selection.charStart)) {
            selection.range.location = utf16Length(*lead);
        }
    }
    charOffsetOfLocation_[selection.range.location] = selection.charStart;
    element.selection = std::move(selection);
    return &*element.selection;
}

// Finds the characters a range created by location and UTF-16 length covers, and its text.
bool AtspiAccessibility::measureRange(const AtspiObject& object, Node& range) {
    if (range.charEnd) return true;
    if (range.range.length < 0) return false;
    // Each character takes at least one unit, so this many characters hold the whole range.
    auto text = textBetween(object, range.charStart, range.charStart + range.range.length);
    if (!text) return false;
    std::int64_t units = 0;
    std::int64_t characters = 0;
    for (std::string_view rest = *text; !rest.empty() && units < range.range.length;) {
        Decoded decoded = decodeUtf8(rest);
        rest.remove_prefix(decoded.bytes);
        units += decoded.codePoint >= 0x10000 ? 2 : 1;
        ++characters;
    }
    range.charEnd = range.charStart + characters;
    range.text = utf16Prefix(*text, static_cast<std::size_t>(range.range.length));
    return true;
}

std::optional<AxRef> AtspiAccessibility::focusedElement() {
    FocusSearch search = findFocusedObject(bus_.get(), deadline_);
    if (!search.answered) return std::nullopt;
    if (!search.focused) return kNullRef;
    Node element = nodeOf(Kind::element);
    element.object = std::move(*search.focused);
    return add(std::move(element));
}

std::optional<AxRef> AtspiAccessibility::selectedText(Node& element) {
    const Selection* selection = readSelection(element);
    if (!selection) return std::nullopt;
    std::optional<std::string> text = selection->text;
    if (!text) text = textBetween(element.object, selection->charStart, selection->charEnd);
    if (!text) return std::nullopt;
    return add(stringNode(std::move(*text)));
}

// A Component call answering two integers, as a point or a size.
std::optional<AxRef> AtspiAccessibility::pair(const AtspiObject& object, const char* method,
                                              GVariant* arguments, Kind kind) {
    VariantPtr reply = call(object, kComponent, method, arguments, "(ii)");
    if (!reply) return std::nullopt;
    gint32 first = 0, second = 0;
    g_variant_get(reply.get(), "(ii)", &first, &second);
    Node node = nodeOf(kind);
    node.point = {double(first), double(second)};
    node.size = {double(first), double(second)};
    return add(std::move(node));
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
        range.range = selection->range;
        range.charStart = selection->charStart;
        range.charEnd = selection->charEnd;
        range.text = selection->text;
        return add(std::move(range));
    }
    if (attribute == "AXSelectedText") return selectedText(*element);
    AtspiObject object = element->object;
    if (attribute == "AXPosition") {
        return pair(object, "GetPosition", g_variant_new("(u)", kScreenCoordinates), Kind::point);
    }
    if (attribute == "AXSize") return pair(object, "GetSize", nullptr, Kind::size);
    return std::nullopt;
}

std::optional<AxRef> AtspiAccessibility::stringForRange(const AtspiObject& object, Node& range) {
    if (!measureRange(object, range)) return std::nullopt;
    std::optional<std::string> text = range.text;
    if (!text) text = textBetween(object, range.charStart, *range.charEnd);
    if (!text) return std::nullopt;
    return add(stringNode(std::move(*text)));
}

// AT-SPI has no extents for an empty range (a caret); toolkits reject the call, so it fails
// here and the element's box is used instead.
std::optional<AxRef> AtspiAccessibility::boundsForRange(const AtspiObject& object, Node& range) {
    if (!measureRange(object, range) || *range.charEnd == range.charStart) return std::nullopt;
    if (*range.charEnd > INT32_MAX) return std::nullopt;
    VariantPtr reply = call(object, kText, "GetRangeExtents",
                            g_variant_new("(iiu)", static_cast<gint32>(range.charStart),
                                          static_cast<gint32>(*range.charEnd), kScreenCoordinates),
                            "(iiii)");
    if (!reply) return std::nullopt;
    gint32 x = 0, y = 0, width = 0, height = 0;
    g_variant_get(reply.get(), "(iiii)", &x, &y, &width, &height);
    Node node = nodeOf(Kind::rect);
    node.rect = {double(std::min(x, x + width)), double(std::min(y, y + height)),
                 double(std::abs(width)), double(std::abs(height))};
    return add(std::move(node));
}

std::optional<AxRef> AtspiAccessibility::copyParameterizedAttributeValue(AxRef ref,
                                                                         std::string_view attribute,
                                                                         AxRef parameter) {
    Node* element = find(ref, Kind::element);
    Node* range = find(parameter, Kind::range);
    if (!element || !range) return std::nullopt;
    AtspiObject object = element->object;
    if (attribute == "AXStringForRange") return stringForRange(object, *range);
    if (attribute == "AXBoundsForRange") return boundsForRange(object, *range);
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

std::optional<AxRange> AtspiAccessibility::rangeValue(AxRef value) {
    if (Node* node = find(value, Kind::range)) return node->range;
    return std::nullopt;
}

std::optional<std::string> AtspiAccessibility::stringValue(AxRef value) {
    if (Node* node = find(value, Kind::string)) return node->text;
    return std::nullopt;
}

AxRef AtspiAccessibility::createRange(AxRange range) {
    // Locations we reported map back to their characters; others are taken as characters.
    auto known = charOffsetOfLocation_.find(range.location);
    std::int64_t charStart = known != charOffsetOfLocation_.end() ? known->second : range.location;
    if (charStart < 0) return kNullRef;
    Node created = nodeOf(Kind::range);
    created.range = range;
    created.charStart = charStart;
    return add(std::move(created));
}

} // namespace

std::unique_ptr<Accessibility> makeAccessibility() {
    return std::make_unique<AtspiAccessibility>();
}
