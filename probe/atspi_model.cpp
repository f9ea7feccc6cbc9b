#include "atspi_model.h"

#include "utf.h"

namespace {

std::vector<std::size_t> appsOfProcess(const std::vector<AppCandidate>& apps,
                                       std::optional<std::uint32_t> pid) {
    std::vector<std::size_t> matches;
    if (!pid) return matches;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        if (apps[i].pid == pid) matches.push_back(i);
    }
    return matches;
}

std::optional<std::size_t> firstWithActiveFrame(const std::vector<AppCandidate>& apps,
                                                const std::vector<std::size_t>& among) {
    for (std::size_t i : among) {
        if (apps[i].hasActiveFrame.value_or(false)) return i;
    }
    return std::nullopt;
}

std::vector<std::size_t> allOf(const std::vector<AppCandidate>& apps) {
    std::vector<std::size_t> all(apps.size());
    for (std::size_t i = 0; i < apps.size(); ++i)
        all[i] = i;
    return all;
}

// Reads children for one level of nesting and keeps count of what has been read.
class Assembler {
  public:
    Assembler(HypertextSource& source, const AssemblyLimits& limits)
        : source_(source), limits_(limits) {}

    // Characters [start, end) of the object; `whole` when the object is covered entirely.
    std::optional<std::string> read(const AtspiObject& object, std::int64_t start, std::int64_t end,
                                    int depth, bool whole) {
        std::optional<std::string> text = source_.text(object, start, end);
        if (!text) return std::nullopt;
        std::string out;
        std::int64_t offset = start;
        bool afterChild = false;
        for (std::string_view rest = *text; !rest.empty() && units_ < limits_.units; ++offset) {
            Decoded decoded = decodeUtf8(rest);
            std::string_view bytes = rest.substr(0, decoded.bytes);
            rest.remove_prefix(decoded.bytes);
            if (decoded.codePoint == kEmbeddedObject) {
                // Inside the range, or inside a covered object, the child is selected whole.
                bool covered = whole || (offset > start && rest.size() > 0);
                std::string child = childText(object, offset, depth, covered);
                if (child.empty()) continue;
                // Children side by side are blocks (paragraphs): one line each.
                if (afterChild) addText("\n", out);
                out += child;
                afterChild = true;
                continue;
            }
            afterChild = false;
            addText(bytes, out);
        }
        return out;
    }

  private:
    void addText(std::string_view bytes, std::string& out) {
        out += bytes;
        units_ += utf16Length(bytes);
    }

    std::string childText(const AtspiObject& object, std::int64_t offset, int depth, bool covered) {
        if (depth + 1 >= limits_.depth) return {};
        std::optional<AtspiObject> child = source_.embeddedAt(object, offset);
        if (!child) return {};
        std::optional<std::pair<std::int64_t, std::int64_t>> own;
        if (!covered) own = source_.selectionIn(*child);
        bool hasOwn = own && own->second > own->first;
        std::optional<std::string> text =
            hasOwn ? read(*child, own->first, own->second, depth + 1, false)
                   : read(*child, 0, -1, depth + 1, true);
        return text.value_or(std::string());
    }

    HypertextSource& source_;
    AssemblyLimits limits_;
    std::int64_t units_ = 0;
};

} // namespace

std::optional<std::size_t> chooseApplication(const std::vector<AppCandidate>& apps,
                                             std::optional<std::uint32_t> activeWindowPid) {
    std::vector<std::size_t> matches = appsOfProcess(apps, activeWindowPid);
    if (matches.size() == 1) return matches.front();
    if (!matches.empty()) return firstWithActiveFrame(apps, matches).value_or(matches.front());
    return firstWithActiveFrame(apps, allOf(apps));
}

std::vector<std::size_t> appsToAskForFrames(const std::vector<AppCandidate>& apps,
                                            std::optional<std::uint32_t> activeWindowPid) {
    std::vector<std::size_t> matches = appsOfProcess(apps, activeWindowPid);
    if (matches.size() == 1) return {};
    return matches.empty() ? allOf(apps) : matches;
}

std::optional<FocusCandidate> chooseFocused(const std::vector<FocusCandidate>& candidates) {
    const FocusCandidate* best = nullptr;
    for (const FocusCandidate& candidate : candidates) {
        if (!best || (candidate.hasText && !best->hasText) ||
            (candidate.hasText == best->hasText && candidate.depth > best->depth)) {
            best = &candidate;
        }
    }
    if (!best) return std::nullopt;
    return *best;
}

bool keepsTextPrivate(std::uint32_t role) {
    return role == kRolePasswordText;
}

std::int64_t charactersCoveringUnits(std::string_view text, std::int64_t units) {
    std::int64_t covered = 0;
    std::int64_t characters = 0;
    while (!text.empty() && covered < units) {
        Decoded decoded = decodeUtf8(text);
        text.remove_prefix(decoded.bytes);
        covered += decoded.codePoint >= 0x10000 ? 2 : 1;
        ++characters;
    }
    return characters;
}

std::string withoutSupplementaryPadding(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool afterSupplementary = false;
    while (!text.empty()) {
        Decoded decoded = decodeUtf8(text);
        std::string_view bytes = text.substr(0, decoded.bytes);
        text.remove_prefix(decoded.bytes);
        bool padding = afterSupplementary && decoded.codePoint == 0xFEFF;
        if (!padding) out += bytes;
        afterSupplementary = decoded.codePoint >= 0x10000;
    }
    return out;
}

std::optional<std::string> assembleText(HypertextSource& source, const AtspiObject& object,
                                        std::int64_t start, std::int64_t end,
                                        const AssemblyLimits& limits) {
    return Assembler(source, limits).read(object, start, end, 0, false);
}
