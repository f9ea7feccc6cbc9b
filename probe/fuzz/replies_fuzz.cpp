// Feeds the probe's reply decoding and tree logic what a hostile application may send: the
// input's first byte picks a reply type, the rest is that reply's serialised body as it
// arrives off the bus (GVariant validates nothing until read). Each decoded value then goes
// through the logic that uses it: the object cache's focus choice, the text of a range, the
// assembly of embedded children, and the box arithmetic. Anything but a clean return is a
// finding.

#include "boxes.h"
#include "focus_choice.h"
#include "replies_atspi.h"
#include "text_assembly.h"
#include "text_atspi.h"
#include "utf.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

struct Owned {
    GVariant* value;
    ~Owned() { g_variant_unref(value); }
};

GVariant* replyOf(const char* type, const std::uint8_t* data, std::size_t size) {
    return g_variant_ref_sink(
        g_variant_new_from_data(G_VARIANT_TYPE(type), data, size, FALSE, nullptr, nullptr));
}

void cacheReply(const std::uint8_t* data, std::size_t size) {
    Owned reply{replyOf("(a((so)(so)(so)iiassusau))", data, size)};
    Owned items{g_variant_get_child_value(reply.value, 0)};
    std::vector<CachedObject> cache;
    const gsize count = g_variant_n_children(items.value);
    for (gsize i = 0; i < count && i < 100000; ++i) {
        Owned item{g_variant_get_child_value(items.value, i)};
        if (auto object = cachedObjectIn(item.value)) cache.push_back(*object);
    }
    const std::string root = cache.empty() ? "/root" : cache.front().parent;
    (void)chooseFocused(focusedInCache(cache, ":1.1", root));
}

// A page whose every object answers from the same fuzzed text, children found at each
// embedded character, roles and selections taken from its bytes.
class FuzzedPage final : public HypertextSource {
  public:
    FuzzedPage(std::string text, std::uint32_t role) : text_(std::move(text)), role_(role) {}
    std::vector<std::optional<std::string>> texts(const std::vector<TextRequest>& asked) override {
        std::vector<std::optional<std::string>> out;
        for (const TextRequest& request : asked) {
            const std::size_t length = request.end < 0
                                           ? kWholeTextCharacters
                                           : static_cast<std::size_t>(request.end - request.start);
            out.emplace_back(std::string(firstCharacters(text_, length)));
        }
        return out;
    }
    std::vector<std::optional<AtspiObject>>
    embeddedAt(const std::vector<std::pair<AtspiObject, std::int64_t>>& characters) override {
        std::vector<std::optional<AtspiObject>> out;
        for (const auto& [object, offset] : characters)
            out.emplace_back(AtspiObject{object.bus, object.path + "/" + std::to_string(offset)});
        return out;
    }
    std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>>
    selectionsIn(const std::vector<AtspiObject>& objects) override {
        return std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>>(
            objects.size(), std::pair<std::int64_t, std::int64_t>{0, 2});
    }
    std::vector<std::uint32_t> rolesOf(const std::vector<AtspiObject>& objects) override {
        return std::vector<std::uint32_t>(objects.size(), role_);
    }

  private:
    std::string text_;
    std::uint32_t role_;
};

void textReply(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return;
    const std::int64_t start = data[0], end = static_cast<std::int64_t>(data[1]) - 1;
    const std::uint32_t role = data[2] % 4 == 0 ? atspi::kRolePasswordText : data[2];
    Owned reply{replyOf("(s)", data + 3, size - 3)};
    std::string text = rangeTextIn(reply.value, start, end);
    (void)utf16Length(text);
    (void)withoutSupplementaryPadding(text);
    (void)charactersCoveringUnits(text, start);
    FuzzedPage page(text, role);
    AssemblyLimits limits;
    limits.children = 64;
    limits.depth = 4;
    (void)assembleText(page, AtspiObject{":1.1", "/p"}, start, end < start ? start : end, limits);
}

void boxes(const std::uint8_t* data, std::size_t size) {
    std::int32_t values[12] = {};
    std::memcpy(values, data, std::min(size, sizeof values));
    auto first = normalisedBox(values[0], values[1], values[2], values[3]);
    auto last = normalisedBox(values[4], values[5], values[6], values[7]);
    auto element = normalisedBox(values[8], values[9], values[10], values[11]);
    if (auto box = boxFromEnds(first, last, element))
        (void)placeOnScreen(*box, element, values[0] & 1, values[1] & 1);
    // The range's own box from the ends' words swapped, so that all four boxes vary.
    auto range = normalisedBox(values[2], values[3], values[0], values[1]);
    if (auto box = rangeBox({range, first, last, element, (values[4] & 1) != 0, values[5] & 7}))
        (void)placeOnScreen(*box, windowInLogicalPixels(range, element), false, true);
    (void)unionOf({range, first, last, element});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t* body = data + 1;
    const std::size_t length = size - 1;
    switch (data[0] % 7) {
    case 0: {
        Owned reply{replyOf("(a(so))", body, length)};
        (void)objectsIn(reply.value);
        break;
    }
    case 1: {
        Owned reply{replyOf("((so))", body, length)};
        (void)objectIn(reply.value);
        break;
    }
    case 2: {
        Owned reply{replyOf("(au)", body, length)};
        (void)statesIn(reply.value);
        break;
    }
    case 3: {
        Owned reply{replyOf("(as)", body, length)};
        (void)hasTextInterface(reply.value);
        break;
    }
    case 4:
        cacheReply(body, length);
        break;
    case 5:
        textReply(body, length);
        break;
    default:
        boxes(body, length);
        break;
    }
    return 0;
}
