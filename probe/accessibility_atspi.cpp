// The accessibility questions over AT-SPI2. The layer keeps the focused object and its
// selection, read once a run; every answer comes from that read or from the object itself.
// AT-SPI counts text in characters; lengths handed to the logic are UTF-16 units. Range
// locations are the element's character offsets: the logic only hands them back, so they are
// never converted.

#include "accessibility.h"
#include "boxes.h"
#include "bus_glib.h"
#include "display_x11.h"
#include "focus_atspi.h"
#include "names_atspi.h"
#include "selection_read_atspi.h"
#include "text_atspi.h"
#include "utf.h"
#include "wake_atspi.h"

#include <climits>
#include <cstdlib>
#include <utility>

namespace {

// The whole run, connection included, finishes within this budget whatever the peers do.
constexpr int kBudgetMs = 1000;
// A display that does not answer in this time is left out: no window process, no address.
constexpr int kDisplayTimeoutMs = 150;
// A Chromium woken by the probe builds its tree within milliseconds: it is searched again
// after these pauses, while this much of the budget remains for reading the selection.
constexpr int kWakePausesMs[] = {20, 80};
constexpr int kWakeReserveMs = 400;
// The session's accessibility switch is asked and set within this time each.
constexpr int kStatusCallCapMs = 100;

using Characters = std::pair<std::int64_t, std::int64_t>;

// The characters a range of the logic's own covers, and its text.
struct CoveredRange {
    std::int64_t charEnd = 0;
    std::string text;
};

class AtspiAccessibility final : public Accessibility {
  public:
    bool isTrusted() override;
    bool findFocusedElement() override;
    std::optional<SelectedRange> selectedRange() override;
    RangeText stringForRange(AxRange range) override;
    std::optional<std::string> selectedText() override;
    std::optional<AxRect> boundsForRange(const MeasuredRange& range) override;
    std::optional<ElementPosition> position() override;
    std::optional<AxSize> size() override;

  private:
    const SelectionRead* selection();
    const SelectionRead* selectionIfRead() const { return selection_ ? &*selection_ : nullptr; }
    std::optional<CoveredRange> cover(AxRange range);
    std::optional<Characters> charactersOf(const MeasuredRange& range);
    VariantPtr componentCall(const char* method, GVariant* arguments);
    BusText text() { return BusText(bus_.get(), deadline_); }

    Deadline deadline_{kBudgetMs};
    GObjectPtr<GDBusConnection> bus_;
    std::optional<std::uint32_t> activeWindowPid_;
    std::optional<AxRect> activeWindowBox_;
    std::optional<AtspiObject> element_;
    bool selectionRead_ = false;
    std::optional<SelectionRead> selection_;
    // The last range measured against the element's text, so its text and box cost one read.
    std::optional<std::pair<AxRange, CoveredRange>> covered_;
};

// Turns the session's accessibility on (org.a11y.Status IsEnabled) where it is off, as a
// screen reader does: toolkits that ask it when they start (Qt, Chromium) then expose their
// windows, in every application started from then on. The launcher keeps the switch in the
// user's settings (GNOME's toolkit-accessibility). ScreenReaderEnabled is left as it is.
void turnAccessibilityOn(GDBusConnection* session, const Deadline& deadline) {
    const Call properties{atspi::kLauncherBus, atspi::kLauncherPath, atspi::kPropertiesInterface,
                          "Get"};
    VariantPtr reply =
        callMethod(session, properties, g_variant_new("(ss)", atspi::kStatusInterface, "IsEnabled"),
                   "(v)", deadline, kStatusCallCapMs);
    if (!reply) return;
    GVariant* inner = nullptr;
    g_variant_get(reply.get(), "(v)", &inner);
    VariantPtr value(inner);
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) ||
        g_variant_get_boolean(value.get())) {
        return;
    }
    Call set = properties;
    set.method = "Set";
    callMethod(
        session, set,
        g_variant_new("(ssv)", atspi::kStatusInterface, "IsEnabled", g_variant_new_boolean(TRUE)),
        "()", deadline, kStatusCallCapMs);
}

std::optional<std::string> accessibilityBusAddress(const std::string& session,
                                                   const Deadline& deadline) {
    GObjectPtr<GDBusConnection> bus = connectToBus(session, deadline);
    // The session may start its accessibility bus on demand; that is the session's own service.
    VariantPtr reply = callMethod(
        bus.get(),
        {atspi::kLauncherBus, atspi::kLauncherPath, atspi::kLauncherInterface, "GetAddress"},
        nullptr, "(s)", deadline, INT_MAX, true);
    if (!reply) return std::nullopt;
    const gchar* address = nullptr;
    g_variant_get(reply.get(), "(&s)", &address);
    if (!address || !*address) return std::nullopt;
    std::string found(address);
    turnAccessibilityOn(bus.get(), deadline);
    return found;
}

namespace {

// Whether an address read from the display may be used: any X client may set the property,
// so only a bus on this machine (unix:) is taken from there, never a TCP peer.
bool isLocalAddress(const std::string& address) {
    return address.rfind("unix:", 0) == 0;
}

} // namespace

// Linux asks no permission: the service may be used when the session's accessibility bus
// answers, so trust is a connection to it. Without a session bus there is no accessibility
// service of this session. The session bus's own launcher names that bus; the address on the
// display is taken only when the launcher does not answer, and only when it is local.
bool AtspiAccessibility::isTrusted() {
    std::optional<std::string> session = sessionBusAddress();
    if (!session) return false;
    DisplayRead display(kDisplayTimeoutMs);
    const char* fixed = std::getenv("AT_SPI_BUS_ADDRESS");
    if (fixed && *fixed) {
        bus_ = connectToBus(fixed, deadline_);
    } else if (auto asked = accessibilityBusAddress(*session, deadline_)) {
        bus_ = connectToBus(*asked, deadline_);
    }
    if (!bus_ && !(fixed && *fixed)) {
        std::optional<std::string> published = display.accessibilityBus();
        if (published && isLocalAddress(*published)) bus_ = connectToBus(*published, deadline_);
    }
    DisplayFacts facts = display.facts();
    activeWindowPid_ = facts.activeWindowPid;
    activeWindowBox_ = facts.activeWindowBox;
    return bus_ != nullptr;
}

// Where nothing qualifies, a Chromium with its accessibility off is woken and searched again.
bool AtspiAccessibility::findFocusedElement() {
    FocusSearch search = findFocusedObject(bus_.get(), deadline_, activeWindowPid_);
    if (!search.focused && search.answered && deadline_.remainingMs() > kWakeReserveMs &&
        wakeChromium(bus_.get(), deadline_, activeWindowPid_)) {
        for (int pause : kWakePausesMs) {
            if (deadline_.remainingMs() <= kWakeReserveMs) break;
            g_usleep(static_cast<gulong>(pause) * 1000);
            search = findFocusedObject(bus_.get(), deadline_, activeWindowPid_);
            if (search.focused) break;
        }
    }
    if (!search.focused) return false;
    element_ = std::move(*search.focused);
    return true;
}

// Read once a run, so that every question of the run sees the same answer: a text is never
// given beside a range that was not.
const SelectionRead* AtspiAccessibility::selection() {
    if (!selectionRead_ && element_) {
        selectionRead_ = true;
        selection_ = readSelection({bus_.get(), &deadline_, activeWindowPid_}, *element_);
        if (selection_) element_ = selection_->object;
    }
    return selectionIfRead();
}

// A password field's range keeps its length to itself; its box is still measured.
std::optional<SelectedRange> AtspiAccessibility::selectedRange() {
    const SelectionRead* read = selection();
    if (!read) return std::nullopt;
    if (read->secret) return SelectedRange{};
    return SelectedRange{AxRange{read->charStart, read->length}};
}

std::optional<std::string> AtspiAccessibility::selectedText() {
    const SelectionRead* read = selection();
    if (!read || read->secret) return std::nullopt;
    if (read->text) return read->text;
    return text().text(*element_, read->charStart, read->charEnd);
}

// The characters from the range's location that its UTF-16 length covers, and its text. A
// range where a selection read whole starts is measured against that text; any other range
// against the element's text, of which that many characters hold the whole range, since each
// character takes at least one unit.
std::optional<CoveredRange> AtspiAccessibility::cover(AxRange range) {
    if (covered_ && covered_->first == range) return covered_->second;
    if (range.length < 0 || !element_) return std::nullopt;
    auto units = static_cast<std::size_t>(range.length);
    const SelectionRead* read = selectionIfRead();
    CoveredRange covered;
    if (read && read->raw && read->text && range.location == read->charStart) {
        covered.charEnd = range.location + charactersCoveringUnits(*read->raw, range.length);
        covered.text = utf16Prefix(*read->text, units);
        return covered;
    }
    auto fetched = text().text(*element_, range.location, range.location + range.length);
    if (!fetched) return std::nullopt;
    covered.charEnd = range.location + charactersCoveringUnits(*fetched, range.length);
    covered.text = utf16Prefix(withoutSupplementaryPadding(*fetched), units);
    covered_ = {range, covered};
    return covered;
}

// A range where an assembled selection (text from embedded children) starts is read from
// that text: the element's own offsets do not count the children's characters.
RangeText AtspiAccessibility::stringForRange(AxRange range) {
    if (range.location < 0) return {false, std::nullopt};
    const SelectionRead* read = selectionIfRead();
    if (read && read->assembled && read->text && range.location == read->charStart &&
        range.length >= 0) {
        return {true, utf16Prefix(*read->text, static_cast<std::size_t>(range.length))};
    }
    std::optional<CoveredRange> covered = cover(range);
    if (!covered) return {true, std::nullopt};
    return {true, std::move(covered->text)};
}

// The element's characters a bounds question measures. A range where an assembled selection
// starts is measured as that whole selection, for the same reason as its text.
std::optional<Characters> AtspiAccessibility::charactersOf(const MeasuredRange& range) {
    const SelectionRead* read = selectionIfRead();
    const AxRange* own = std::get_if<AxRange>(&range);
    if (!own) {
        if (!read) return std::nullopt;
        return Characters{read->charStart, read->charEnd};
    }
    if (own->location < 0) return std::nullopt;
    if (read && read->assembled && own->location == read->charStart) {
        return Characters{read->charStart, read->charEnd};
    }
    std::optional<CoveredRange> covered = cover(*own);
    if (!covered) return std::nullopt;
    return Characters{own->location, covered->charEnd};
}

// AT-SPI has no extents for an empty range (a caret); toolkits reject the call, so it fails
// here and the element's box is used instead.
std::optional<AxRect> AtspiAccessibility::boundsForRange(const MeasuredRange& range) {
    std::optional<Characters> characters = charactersOf(range);
    if (!characters || characters->second == characters->first || characters->second > INT32_MAX) {
        return std::nullopt;
    }
    const SelectionRead* read = selectionIfRead();
    std::optional<AxRect> box;
    if (read && read->extentsAsked && *characters == Characters{read->charStart, read->charEnd}) {
        box = read->extents;
    } else {
        box = readRangeBox(bus_.get(), *element_, characters->first, characters->second, deadline_,
                           read && read->windowRelative);
    }
    if (!box) return std::nullopt;
    const bool windowRelative = read && read->windowRelative;
    // The toolkit's boxes are in its logical pixels; the window's from X11 in device pixels.
    std::optional<AxRect> window =
        windowRelative
            ? activeWindowBox_
            : windowInLogicalPixels(activeWindowBox_, read ? read->element : std::nullopt);
    return placeOnScreen(*box, window, windowRelative, true);
}

// A Component call answering two integers.
VariantPtr AtspiAccessibility::componentCall(const char* method, GVariant* arguments) {
    if (!element_) {
        if (arguments) g_variant_unref(g_variant_ref_sink(arguments));
        return nullptr;
    }
    return text().call(*element_, atspi::kComponentInterface, method, arguments, "(ii)");
}

std::optional<ElementPosition> AtspiAccessibility::position() {
    VariantPtr reply =
        componentCall("GetPosition", g_variant_new("(u)", atspi::kScreenCoordinates));
    if (!reply) return std::nullopt;
    gint32 x = 0, y = 0;
    g_variant_get(reply.get(), "(ii)", &x, &y);
    const SelectionRead* read = selectionIfRead();
    std::optional<AxRect> corner = placeOnScreen({double(x), double(y), 0, 0}, activeWindowBox_,
                                                 read && read->windowRelative, false);
    return ElementPosition{AxPoint{corner->x, corner->y}};
}

std::optional<AxSize> AtspiAccessibility::size() {
    VariantPtr reply = componentCall("GetSize", nullptr);
    if (!reply) return std::nullopt;
    gint32 width = 0, height = 0;
    g_variant_get(reply.get(), "(ii)", &width, &height);
    return AxSize{double(width), double(height)};
}

} // namespace

std::unique_ptr<Accessibility> makeAccessibility() {
    return std::make_unique<AtspiAccessibility>();
}
