// The accessibility queries over AT-SPI2, talking to its D-Bus interfaces through GIO.
// AT-SPI counts text in characters; lengths handed to the decision logic are UTF-16 units.
// Range locations are the element's character offsets: the logic only hands them back to
// createRange, so they are never converted.

#include "accessibility.h"
#include "bus_glib.h"
#include "display_x11.h"
#include "focus_atspi.h"
#include "tree_model.h"
#include "utf.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

// The whole run, connection included, finishes within this budget whatever the peers do.
constexpr int kBudgetMs = 1000;
// Selections of more characters are not fetched whole; their length is counted in characters.
constexpr std::int64_t kWholeFetchLimit = 3600;
constexpr guint32 kScreenCoordinates = 0;
// A display that does not answer in this time is left out: no window process, no address.
constexpr int kDisplayTimeoutMs = 150;

const char* const kText = "org.a11y.atspi.Text";
const char* const kComponent = "org.a11y.atspi.Component";

// A selection of one element as read once per run.
struct Selection {
    std::int64_t charStart = 0;
    std::int64_t charEnd = 0;
    std::int64_t length = 0;         // UTF-16 units once the text is read, else characters
    std::optional<std::string> text; // with embedded objects replaced by their text
    bool assembled = false;          // text came from embedded children too
    bool secret = false;             // a password field: neither text nor length leave
    std::optional<AxRect> extents;   // the box of [charStart, charEnd), when asked
};

enum class Kind { desktop, element, range, point, size, rect, string };

struct Node {
    Kind kind = Kind::string;
    AtspiObject object;                  // element
    std::optional<Selection> selection;  // element, once read
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

std::optional<std::pair<std::int64_t, std::int64_t>> offsetsIn(GVariant* reply) {
    if (!reply) return std::nullopt;
    gint32 start = 0, end = 0;
    g_variant_get(reply, "(ii)", &start, &end);
    if (start < 0 || end < 0) return std::nullopt;
    return std::pair<std::int64_t, std::int64_t>{std::min(start, end), std::max(start, end)};
}

// Text and hypertext reads of any object on the bus, for assembling embedded children.
class BusText final : public HypertextSource {
  public:
    BusText(GDBusConnection* bus, const Deadline& deadline) : bus_(bus), deadline_(&deadline) {}

    VariantPtr call(const AtspiObject& object, const char* interface, const char* method,
                    GVariant* arguments, const char* replyType) {
        return callMethod(bus_, {object.bus.c_str(), object.path.c_str(), interface, method},
                          arguments, replyType, *deadline_);
    }

    std::optional<std::string> text(const AtspiObject& object, std::int64_t start,
                                    std::int64_t end) {
        return texts({{object, start, end}}).front();
    }

    std::vector<std::optional<std::string>>
    texts(const std::vector<TextRequest>& requests) override {
        std::vector<PendingCall> calls;
        std::vector<std::size_t> asked;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const TextRequest& r = requests[i];
            if (r.start < 0 || r.start > INT32_MAX || r.end < -1 ||
                (r.end >= 0 && r.end < r.start) || r.end > INT32_MAX) {
                continue;
            }
            calls.push_back(
                {{r.object.bus.c_str(), r.object.path.c_str(), kText, "GetText"},
                 g_variant_new("(ii)", static_cast<gint32>(r.start), static_cast<gint32>(r.end)),
                 "(s)"});
            asked.push_back(i);
        }
        std::vector<VariantPtr> replies = callAll(bus_, calls, *deadline_);
        std::vector<std::optional<std::string>> out(requests.size());
        for (std::size_t k = 0; k < asked.size(); ++k) {
            if (!replies[k]) continue;
            const gchar* text = nullptr;
            g_variant_get(replies[k].get(), "(&s)", &text);
            out[asked[k]] = std::string(text);
        }
        return out;
    }

    // Link index, link and its object: three batches whatever the number of children.
    std::vector<std::optional<AtspiObject>>
    embeddedAt(const std::vector<std::pair<AtspiObject, std::int64_t>>& characters) override {
        const char* hypertext = "org.a11y.atspi.Hypertext";
        std::vector<std::optional<AtspiObject>> out(characters.size());
        std::vector<PendingCall> calls;
        std::vector<std::size_t> asked;
        for (std::size_t i = 0; i < characters.size(); ++i) {
            const auto& [object, offset] = characters[i];
            if (offset < 0 || offset > INT32_MAX) continue;
            calls.push_back({{object.bus.c_str(), object.path.c_str(), hypertext, "GetLinkIndex"},
                             g_variant_new("(i)", static_cast<gint32>(offset)),
                             "(i)"});
            asked.push_back(i);
        }
        std::vector<VariantPtr> indices = callAll(bus_, calls, *deadline_);
        calls.clear();
        std::vector<std::size_t> linked;
        for (std::size_t k = 0; k < asked.size(); ++k) {
            gint32 link = -1;
            if (indices[k]) g_variant_get(indices[k].get(), "(i)", &link);
            if (link < 0) continue;
            const AtspiObject& object = characters[asked[k]].first;
            calls.push_back({{object.bus.c_str(), object.path.c_str(), hypertext, "GetLink"},
                             g_variant_new("(i)", link),
                             "((so))"});
            linked.push_back(asked[k]);
        }
        std::vector<VariantPtr> links = callAll(bus_, calls, *deadline_);
        std::vector<AtspiObject> hyperlinks;
        std::vector<std::size_t> found;
        for (std::size_t k = 0; k < linked.size(); ++k) {
            if (auto hyperlink = objectIn(links[k])) {
                hyperlinks.push_back(std::move(*hyperlink));
                found.push_back(linked[k]);
            }
        }
        calls.clear();
        for (const AtspiObject& hyperlink : hyperlinks) {
            calls.push_back({{hyperlink.bus.c_str(), hyperlink.path.c_str(),
                              "org.a11y.atspi.Hyperlink", "GetObject"},
                             g_variant_new("(i)", 0),
                             "((so))"});
        }
        std::vector<VariantPtr> objects = callAll(bus_, calls, *deadline_);
        for (std::size_t k = 0; k < found.size(); ++k)
            out[found[k]] = objectIn(objects[k]);
        return out;
    }

    std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>>
    selectionsIn(const std::vector<AtspiObject>& objects) override {
        std::vector<PendingCall> calls;
        for (const AtspiObject& object : objects) {
            const char* bus = object.bus.c_str();
            const char* path = object.path.c_str();
            calls.push_back({{bus, path, kText, "GetNSelections"}, nullptr, "(i)"});
            calls.push_back({{bus, path, kText, "GetSelection"}, g_variant_new("(i)", 0), "(ii)"});
        }
        std::vector<VariantPtr> replies = callAll(bus_, calls, *deadline_);
        std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>> out(objects.size());
        for (std::size_t i = 0; i < objects.size(); ++i) {
            gint32 selections = 0;
            if (replies[2 * i]) g_variant_get(replies[2 * i].get(), "(i)", &selections);
            if (selections > 0) out[i] = offsetsIn(replies[2 * i + 1].get());
        }
        return out;
    }

  private:
    static std::optional<AtspiObject> objectIn(const VariantPtr& reply) {
        if (!reply) return std::nullopt;
        const gchar* name = nullptr;
        const gchar* path = nullptr;
        g_variant_get(reply.get(), "((&s&o))", &name, &path);
        if (std::string_view(path) == "/org/a11y/atspi/null") return std::nullopt;
        return AtspiObject{name, path};
    }

    GDBusConnection* bus_;
    const Deadline* deadline_;
};

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
    std::optional<std::pair<std::int64_t, std::int64_t>> selectionOffsets(const AtspiObject& object,
                                                                          bool& secret);
    const Selection* readSelection(Node& element);
    void readTextAndExtents(const AtspiObject& object, Selection& selection);
    bool measureRange(const AtspiObject& object, Node& range);
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
    DisplayFacts display = readDisplayFacts(kDisplayTimeoutMs);
    activeWindowPid_ = display.activeWindowPid;
    const char* fixed = std::getenv("AT_SPI_BUS_ADDRESS");
    std::optional<std::string> address =
        fixed && *fixed ? std::optional<std::string>(fixed) : display.accessibilityBus;
    if (address) bus_ = connectToBus(*address, deadline_);
    if (!bus_ && !(fixed && *fixed)) {
        if (auto asked = accessibilityBusAddress(*session, deadline_)) {
            bus_ = connectToBus(*asked, deadline_);
        }
    }
    text_ = BusText(bus_.get(), deadline_);
    return bus_ != nullptr;
}

Node* AtspiAccessibility::find(AxRef ref, Kind kind) {
    Node* node = nodes_.find(ref);
    return node && node->kind == kind ? node : nullptr;
}

// The first selection, or the caret as an empty selection when nothing is selected. The
// role, the count of selections, the first selection and the caret are asked together.
std::optional<std::pair<std::int64_t, std::int64_t>>
AtspiAccessibility::selectionOffsets(const AtspiObject& object, bool& secret) {
    const char* bus = object.bus.c_str();
    const char* path = object.path.c_str();
    std::vector<VariantPtr> replies =
        callAll(bus_.get(),
                {{{bus, path, "org.a11y.atspi.Accessible", "GetRole"}, nullptr, "(u)"},
                 {{bus, path, kText, "GetNSelections"}, nullptr, "(i)"},
                 {{bus, path, kText, "GetSelection"}, g_variant_new("(i)", 0), "(ii)"},
                 {{bus, path, "org.freedesktop.DBus.Properties", "Get"},
                  g_variant_new("(ss)", kText, "CaretOffset"),
                  "(v)"}},
                deadline_);
    guint32 role = 0;
    if (replies[0]) g_variant_get(replies[0].get(), "(u)", &role);
    secret = keepsTextPrivate(role);
    if (!replies[1]) return std::nullopt;
    gint32 selections = 0;
    g_variant_get(replies[1].get(), "(i)", &selections);
    if (selections > 0) return offsetsIn(replies[2].get());
    if (!replies[3]) return std::nullopt;
    GVariant* inner = nullptr;
    g_variant_get(replies[3].get(), "(v)", &inner);
    VariantPtr value(inner);
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32)) return std::nullopt;
    gint32 offset = g_variant_get_int32(value.get());
    if (offset < 0) return std::nullopt;
    return std::pair<std::int64_t, std::int64_t>{offset, offset};
}

GVariant* extentsArguments(std::int64_t start, std::int64_t end) {
    return g_variant_new("(iiu)", static_cast<gint32>(start), static_cast<gint32>(end),
                         kScreenCoordinates);
}

std::optional<AxRect> rectIn(GVariant* reply) {
    if (!reply) return std::nullopt;
    gint32 x = 0, y = 0, width = 0, height = 0;
    g_variant_get(reply, "(iiii)", &x, &y, &width, &height);
    return AxRect{double(std::min(x, x + width)), double(std::min(y, y + height)),
                  double(std::abs(width)), double(std::abs(height))};
}

// The selected text and the selection's box, asked together: the box is asked for next.
void AtspiAccessibility::readTextAndExtents(const AtspiObject& object, Selection& selection) {
    if (selection.charEnd > INT32_MAX) return;
    const char* bus = object.bus.c_str();
    const char* path = object.path.c_str();
    std::vector<PendingCall> calls{{{bus, path, kText, "GetText"},
                                    g_variant_new("(ii)", static_cast<gint32>(selection.charStart),
                                                  static_cast<gint32>(selection.charEnd)),
                                    "(s)"}};
    if (selection.charEnd > selection.charStart) {
        calls.push_back({{bus, path, kText, "GetRangeExtents"},
                         extentsArguments(selection.charStart, selection.charEnd),
                         "(iiii)"});
    }
    std::vector<VariantPtr> replies = callAll(bus_.get(), calls, deadline_);
    if (replies[0]) {
        const gchar* text = nullptr;
        g_variant_get(replies[0].get(), "(&s)", &text);
        selection.text = std::string(text);
    }
    if (replies.size() > 1) selection.extents = rectIn(replies[1].get());
}

const Selection* AtspiAccessibility::readSelection(Node& element) {
    if (element.selection) return &*element.selection;
    bool secret = false;
    auto offsets = selectionOffsets(element.object, secret);
    if (!offsets) return nullptr;
    Selection selection;
    selection.charStart = offsets->first;
    selection.charEnd = offsets->second;
    selection.secret = secret;
    selection.length = selection.charEnd - selection.charStart;
    if (!secret && selection.length <= kWholeFetchLimit) {
        readTextAndExtents(element.object, selection);
        if (selection.text && selection.text->find("\xEF\xBF\xBC") != std::string::npos) {
            // Web pages: the selection spans children that stand in the text as U+FFFC.
            selection.text =
                assembleText(text_, element.object, selection.charStart, selection.charEnd);
            selection.assembled = true;
        }
        if (selection.text) {
            selection.text = withoutSupplementaryPadding(*selection.text);
            selection.length = utf16Length(*selection.text);
        }
    }
    element.selection = std::move(selection);
    return &*element.selection;
}

// Finds the characters a range created by location and UTF-16 length covers, and its text.
bool AtspiAccessibility::measureRange(const AtspiObject& object, Node& range) {
    if (range.charEnd) return true;
    if (range.range.length < 0) return false;
    // Each character takes at least one unit, so this many characters hold the whole range.
    auto text = text_.text(object, range.charStart, range.charStart + range.range.length);
    if (!text) return false;
    range.charEnd = range.charStart + charactersCoveringUnits(*text, range.range.length);
    range.text = utf16Prefix(*text, static_cast<std::size_t>(range.range.length));
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
    VariantPtr reply = text_.call(object, kComponent, method, arguments, "(ii)");
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
        return pair(object, "GetPosition", g_variant_new("(u)", kScreenCoordinates), Kind::point);
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
    if (!measureRange(element.object, range)) return std::nullopt;
    std::optional<std::string> text = range.text;
    if (!text) text = text_.text(element.object, range.charStart, *range.charEnd);
    if (!text) return std::nullopt;
    return nodes_.add(stringNode(std::move(*text)));
}

// AT-SPI has no extents for an empty range (a caret); toolkits reject the call, so it fails
// here and the element's box is used instead.
std::optional<AxRef> AtspiAccessibility::boundsForRange(Node& element, Node& range) {
    const Selection* selection = element.selection ? &*element.selection : nullptr;
    if (selection && selection->assembled && range.charStart == selection->charStart) {
        range.charEnd = selection->charEnd;
    }
    if (!measureRange(element.object, range) || *range.charEnd == range.charStart) {
        return std::nullopt;
    }
    if (*range.charEnd > INT32_MAX) return std::nullopt;
    std::optional<AxRect> box;
    if (selection && selection->extents && range.charStart == selection->charStart &&
        *range.charEnd == selection->charEnd) {
        box = selection->extents;
    } else {
        box = rectIn(text_
                         .call(element.object, kText, "GetRangeExtents",
                               extentsArguments(range.charStart, *range.charEnd), "(iiii)")
                         .get());
    }
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
