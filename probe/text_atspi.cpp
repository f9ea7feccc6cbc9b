#include "text_atspi.h"

#include "boxes.h"
#include "names_atspi.h"
#include "replies_atspi.h"
#include "utf.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace {

// The string inside a Properties.Get reply, or "".
std::string propertyString(GVariant* reply) {
    if (!reply) return {};
    GVariant* inner = nullptr;
    g_variant_get(reply, "(v)", &inner);
    VariantPtr value(inner);
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) return {};
    return g_variant_get_string(value.get(), nullptr);
}

// GTK 4 answers positions relative to its window.
bool isGtk4(GVariant* name, GVariant* version) {
    return g_ascii_strcasecmp(propertyString(name).c_str(), "GTK") == 0 &&
           g_str_has_prefix(propertyString(version).c_str(), "4.");
}

// Qt answers a range's extents from its layout as it stands: where it answers a zero box (Qt
// Quick's text, QtWebEngine's pages), asking again gives the same zero box.
bool answersSteadyZeroBox(GVariant* name) {
    return g_ascii_strcasecmp(propertyString(name).c_str(), "Qt") == 0;
}

// Ranges of more characters are measured by their ends: a toolkit that measures a range
// character by character (GTK 3, about 36 us each) would spend most of the run's budget on
// a long selection.
constexpr std::int64_t kWholeMeasureLimit = 256;

bool measuredByEnds(std::int64_t start, std::int64_t end) {
    return end - start > kWholeMeasureLimit;
}

// The calls that measure the non-empty range [start, end): its extents (unless it is measured
// by its ends), those of its first and last characters, and the element's box, asked together.
// GTK 4 (4.8) measures characters in window coordinates only, and ranges not at all.
std::vector<PendingCall> boxCalls(const AtspiObject& object, std::int64_t start, std::int64_t end,
                                  bool windowRelative) {
    const std::uint32_t coordinates =
        windowRelative ? atspi::kWindowCoordinates : atspi::kScreenCoordinates;
    const char* name = object.bus.c_str();
    const char* path = object.path.c_str();
    auto character = [&](std::int64_t offset) {
        return PendingCall{{name, path, atspi::kTextInterface, "GetCharacterExtents"},
                           g_variant_new("(iu)", static_cast<gint32>(offset), coordinates),
                           "(iiii)"};
    };
    std::vector<PendingCall> calls;
    if (!measuredByEnds(start, end)) {
        calls.push_back({{name, path, atspi::kTextInterface, "GetRangeExtents"},
                         extentsArguments(start, end),
                         "(iiii)"});
    }
    calls.push_back(character(start));
    calls.push_back(character(end - 1));
    calls.push_back({{name, path, atspi::kComponentInterface, "GetExtents"},
                     g_variant_new("(u)", atspi::kScreenCoordinates),
                     "((iiii))"});
    return calls;
}

// Lines of a text by its line breaks; 0 without a text.
int linesOf(const std::optional<std::string>& text) {
    if (!text) return 0;
    auto breaks = std::count(text->begin(), text->end(), '\n');
    return static_cast<int>(std::min<std::ptrdiff_t>(breaks, 1 << 20)) + 1;
}

std::optional<AxRect> elementRectIn(GVariant* reply) {
    if (!reply) return std::nullopt;
    VariantPtr inner(g_variant_get_child_value(reply, 0));
    return rectIn(inner.get());
}

// The box from the replies to boxCalls, starting at `first`; absent where the ends gave
// none, so that the caller measures the range whole.
MeasuredBox boxIn(const std::vector<VariantPtr>& replies, std::size_t first, std::int64_t start,
                  std::int64_t end, int lines = 0) {
    const bool byEnds = measuredByEnds(start, end);
    const std::size_t ends = byEnds ? first : first + 1;
    RangeAnswers answers{byEnds ? std::nullopt : rectIn(replies[first].get()),
                         rectIn(replies[ends].get()),
                         rectIn(replies[ends + 1].get()),
                         elementRectIn(replies[ends + 2].get()),
                         end - start == 1,
                         lines};
    return MeasuredBox{rangeBox(answers), answers.element};
}

std::optional<AxRect> wholeRangeBox(GDBusConnection* bus, const AtspiObject& object,
                                    std::int64_t start, std::int64_t end,
                                    const Deadline& deadline) {
    return rectIn(callMethod(bus,
                             {object.bus.c_str(), object.path.c_str(), atspi::kTextInterface,
                              "GetRangeExtents"},
                             extentsArguments(start, end), "(iiii)", deadline)
                      .get());
}

} // namespace

std::optional<AxRect> readRangeBox(GDBusConnection* bus, const AtspiObject& object,
                                   std::int64_t start, std::int64_t end, const Deadline& deadline,
                                   bool windowRelative) {
    if (end <= start || end > INT32_MAX) return std::nullopt;
    std::optional<AxRect> box =
        boxIn(callAll(bus, boxCalls(object, start, end, windowRelative), deadline), 0, start, end)
            .box;
    if (!box && measuredByEnds(start, end)) box = wholeRangeBox(bus, object, start, end, deadline);
    return box;
}

std::optional<AxRect> readRangesBox(GDBusConnection* bus, const std::vector<TextRequest>& ranges,
                                    const Deadline& deadline) {
    std::vector<PendingCall> calls;
    for (const TextRequest& range : ranges) {
        if (range.start < 0 || range.end <= range.start || range.end > INT32_MAX) continue;
        calls.push_back({{range.object.bus.c_str(), range.object.path.c_str(),
                          atspi::kTextInterface, "GetRangeExtents"},
                         extentsArguments(range.start, range.end),
                         "(iiii)"});
    }
    if (calls.empty()) return std::nullopt;
    std::vector<std::optional<AxRect>> boxes;
    for (const VariantPtr& reply : callAll(bus, calls, deadline))
        boxes.push_back(rectIn(reply.get()));
    return unionOf(boxes);
}

std::optional<Offsets> offsetsIn(GVariant* reply) {
    if (!reply) return std::nullopt;
    gint32 start = 0, end = 0;
    g_variant_get(reply, "(ii)", &start, &end);
    if (start < 0 || end < 0) return std::nullopt;
    return Offsets{std::min(start, end), std::max(start, end)};
}

GVariant* extentsArguments(std::int64_t start, std::int64_t end) {
    return g_variant_new("(iiu)", static_cast<gint32>(start), static_cast<gint32>(end),
                         atspi::kScreenCoordinates);
}

std::string rangeTextIn(GVariant* reply, std::int64_t start, std::int64_t end) {
    const gchar* text = nullptr;
    gsize bytes = 0;
    VariantPtr inner(g_variant_get_child_value(reply, 0));
    text = g_variant_get_string(inner.get(), &bytes);
    const std::size_t characters =
        end < 0 ? kWholeTextCharacters
                : static_cast<std::size_t>(std::max<std::int64_t>(0, end - start));
    return std::string(firstCharacters(std::string_view(text, bytes), characters));
}

std::optional<AxRect> rectIn(GVariant* reply) {
    if (!reply) return std::nullopt;
    gint32 x = 0, y = 0, width = 0, height = 0;
    g_variant_get(reply, "(iiii)", &x, &y, &width, &height);
    return normalisedBox(x, y, width, height);
}

// The first selection, or the caret as an empty selection when nothing is selected.
SelectionOffsets readSelectionOffsets(GDBusConnection* bus, const AtspiObject& object,
                                      const Deadline& deadline) {
    const char* name = object.bus.c_str();
    const char* path = object.path.c_str();
    std::vector<VariantPtr> replies = callAll(
        bus,
        {{{name, path, atspi::kAccessibleInterface, "GetRole"}, nullptr, "(u)"},
         {{name, path, atspi::kTextInterface, "GetNSelections"}, nullptr, "(i)"},
         {{name, path, atspi::kTextInterface, "GetSelection"}, g_variant_new("(i)", 0), "(ii)"},
         {{name, path, atspi::kPropertiesInterface, "Get"},
          g_variant_new("(ss)", atspi::kTextInterface, "CaretOffset"),
          "(v)"},
         // Get, not GetAll: kwrite (Qt 5, KDE Frameworks) crashed on GetAll.
         {{name, atspi::kRootPath, atspi::kPropertiesInterface, "Get"},
          g_variant_new("(ss)", atspi::kApplicationInterface, "ToolkitName"),
          "(v)"},
         {{name, atspi::kRootPath, atspi::kPropertiesInterface, "Get"},
          g_variant_new("(ss)", atspi::kApplicationInterface, "Version"),
          "(v)"}},
        deadline);
    SelectionOffsets read;
    read.windowRelative = isGtk4(replies[4].get(), replies[5].get());
    read.steadyZeroBox = answersSteadyZeroBox(replies[4].get());
    guint32 role = 0;
    if (replies[0]) g_variant_get(replies[0].get(), "(u)", &role);
    read.secret = keepsTextPrivate(role);
    if (!replies[1]) return read;
    gint32 selections = 0;
    g_variant_get(replies[1].get(), "(i)", &selections);
    if (selections > 0) {
        read.offsets = offsetsIn(replies[2].get());
        read.rangeMissing = !read.offsets;
        return read;
    }
    if (!replies[3]) return read;
    GVariant* inner = nullptr;
    g_variant_get(replies[3].get(), "(v)", &inner);
    VariantPtr value(inner);
    if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_INT32)) return read;
    gint32 offset = g_variant_get_int32(value.get());
    if (offset >= 0) read.offsets = Offsets{offset, offset};
    return read;
}

// The box is asked in the same batch as the text, since it is asked for next.
TextAndExtents readTextAndExtents(GDBusConnection* bus, const AtspiObject& object,
                                  std::int64_t start, std::int64_t end, const Deadline& deadline,
                                  bool windowRelative) {
    TextAndExtents read;
    if (end > INT32_MAX) return read;
    const char* name = object.bus.c_str();
    const char* path = object.path.c_str();
    std::vector<PendingCall> calls{
        {{name, path, atspi::kTextInterface, "GetText"},
         g_variant_new("(ii)", static_cast<gint32>(start), static_cast<gint32>(end)),
         "(s)"}};
    if (end > start) {
        std::vector<PendingCall> box = boxCalls(object, start, end, windowRelative);
        calls.insert(calls.end(), box.begin(), box.end());
    }
    std::vector<VariantPtr> replies = callAll(bus, calls, deadline);
    if (replies[0]) read.text = rangeTextIn(replies[0].get(), start, end);
    if (replies.size() > 1) {
        MeasuredBox measured = boxIn(replies, 1, start, end, linesOf(read.text));
        read.extents = measured.box;
        read.element = measured.element;
    }
    if (end > start && !read.extents && measuredByEnds(start, end))
        read.extents = wholeRangeBox(bus, object, start, end, deadline);
    return read;
}

VariantPtr BusText::call(const AtspiObject& object, const char* interface, const char* method,
                         GVariant* arguments, const char* replyType) {
    return callMethod(bus_, {object.bus.c_str(), object.path.c_str(), interface, method}, arguments,
                      replyType, *deadline_);
}

std::optional<std::string> BusText::text(const AtspiObject& object, std::int64_t start,
                                         std::int64_t end) {
    return texts({{object, start, end}}).front();
}

std::vector<std::optional<std::string>> BusText::texts(const std::vector<TextRequest>& requests) {
    std::vector<PendingCall> calls;
    std::vector<std::size_t> asked;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const TextRequest& r = requests[i];
        if (r.start < 0 || r.start > INT32_MAX || r.end < -1 || (r.end >= 0 && r.end < r.start) ||
            r.end > INT32_MAX) {
            continue;
        }
        calls.push_back(
            {{r.object.bus.c_str(), r.object.path.c_str(), atspi::kTextInterface, "GetText"},
             g_variant_new("(ii)", static_cast<gint32>(r.start), static_cast<gint32>(r.end)),
             "(s)"});
        asked.push_back(i);
    }
    std::vector<VariantPtr> replies = callAll(bus_, calls, *deadline_);
    std::vector<std::optional<std::string>> out(requests.size());
    for (std::size_t k = 0; k < asked.size(); ++k) {
        const TextRequest& r = requests[asked[k]];
        if (replies[k]) out[asked[k]] = rangeTextIn(replies[k].get(), r.start, r.end);
    }
    return out;
}

std::vector<std::optional<AtspiObject>>
BusText::embeddedAt(const std::vector<std::pair<AtspiObject, std::int64_t>>& characters) {
    const char* hypertext = atspi::kHypertextInterface;
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
        if (auto hyperlink = objectIn(links[k].get())) {
            hyperlinks.push_back(std::move(*hyperlink));
            found.push_back(linked[k]);
        }
    }
    calls.clear();
    for (const AtspiObject& hyperlink : hyperlinks) {
        calls.push_back({{hyperlink.bus.c_str(), hyperlink.path.c_str(), atspi::kHyperlinkInterface,
                          "GetObject"},
                         g_variant_new("(i)", 0),
                         "((so))"});
    }
    std::vector<VariantPtr> objects = callAll(bus_, calls, *deadline_);
    for (std::size_t k = 0; k < found.size(); ++k)
        out[found[k]] = objectIn(objects[k].get());
    return out;
}

std::vector<std::optional<Offsets>> BusText::selectionsIn(const std::vector<AtspiObject>& objects) {
    std::vector<PendingCall> calls;
    for (const AtspiObject& object : objects) {
        const char* bus = object.bus.c_str();
        const char* path = object.path.c_str();
        calls.push_back({{bus, path, atspi::kTextInterface, "GetNSelections"}, nullptr, "(i)"});
        calls.push_back(
            {{bus, path, atspi::kTextInterface, "GetSelection"}, g_variant_new("(i)", 0), "(ii)"});
    }
    std::vector<VariantPtr> replies = callAll(bus_, calls, *deadline_);
    std::vector<std::optional<Offsets>> out(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        gint32 selections = 0;
        if (replies[2 * i]) g_variant_get(replies[2 * i].get(), "(i)", &selections);
        if (selections > 0) out[i] = offsetsIn(replies[2 * i + 1].get());
    }
    return out;
}

std::vector<std::uint32_t> BusText::rolesOf(const std::vector<AtspiObject>& objects) {
    std::vector<PendingCall> calls;
    for (const AtspiObject& object : objects) {
        calls.push_back(
            {{object.bus.c_str(), object.path.c_str(), atspi::kAccessibleInterface, "GetRole"},
             nullptr,
             "(u)"});
    }
    std::vector<VariantPtr> replies = callAll(bus_, calls, *deadline_);
    std::vector<std::uint32_t> roles(objects.size(), 0);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        guint32 role = 0;
        if (replies[i]) g_variant_get(replies[i].get(), "(u)", &role);
        roles[i] = role;
    }
    return roles;
}

std::vector<std::optional<std::int64_t>>
BusText::charactersAt(const AtspiObject& object, const std::vector<std::int64_t>& offsets) {
    std::vector<PendingCall> calls;
    for (std::int64_t offset : offsets) {
        calls.push_back({{object.bus.c_str(), object.path.c_str(), atspi::kTextInterface,
                          "GetCharacterAtOffset"},
                         g_variant_new("(i)", static_cast<gint32>(
                                                  std::clamp<std::int64_t>(offset, -1, INT32_MAX))),
                         "(i)"});
    }
    std::vector<VariantPtr> replies = callAll(bus_, calls, *deadline_);
    std::vector<std::optional<std::int64_t>> out(offsets.size());
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        gint32 code = 0;
        if (!replies[i]) continue;
        g_variant_get(replies[i].get(), "(i)", &code);
        out[i] = code;
    }
    return out;
}
