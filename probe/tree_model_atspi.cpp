#include "tree_model_atspi.h"

#include "utf.h"

#include <algorithm>
#include <cctype>
#include <unordered_map>

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

// A read text split into runs of characters and embedded children.
struct Piece {
    std::string text;
    int child = -1; // index of the child's part; -1 for text or a child not found
    bool embedded = false;
};

struct Part {
    std::optional<std::vector<Piece>> pieces; // absent when the text could not be read
};

// A child still to be found: the piece that stands for it and how much of it is selected.
struct Placeholder {
    std::size_t request; // the read, in its level, that found it
    std::size_t part;
    std::size_t piece;
    std::int64_t offset;
    bool covered;
};

// Splits a read text into pieces, noting each embedded character as a placeholder. A child
// inside the range, or inside a part read whole, is covered entirely.
std::vector<Piece> splitText(std::string_view text, std::size_t index, std::size_t part,
                             const TextRequest& request, bool whole,
                             std::vector<Placeholder>& placeholders) {
    std::vector<Piece> pieces;
    std::int64_t offset = request.start;
    for (std::string_view rest = text; !rest.empty(); ++offset) {
        Decoded decoded = decodeUtf8(rest);
        std::string_view bytes = rest.substr(0, decoded.bytes);
        rest.remove_prefix(decoded.bytes);
        if (decoded.codePoint == kEmbeddedObject) {
            bool covered = whole || (offset > request.start && !rest.empty());
            placeholders.push_back({index, part, pieces.size(), offset, covered});
            pieces.push_back({{}, -1, true});
        } else if (pieces.empty() || pieces.back().embedded) {
            pieces.push_back({std::string(bytes), -1, false});
        } else {
            pieces.back().text += bytes;
        }
    }
    return pieces;
}

// Writes the parts in reading order, up to the unit budget.
class Renderer {
  public:
    Renderer(const std::vector<Part>& parts, std::int64_t limit) : parts_(parts), limit_(limit) {}

    void render(std::size_t index, std::string& out) {
        const Part& part = parts_[index];
        if (!part.pieces) return;
        bool afterChild = false;
        for (const Piece& piece : *part.pieces) {
            if (!piece.embedded) {
                append(piece.text, out);
                afterChild = false;
                continue;
            }
            if (piece.child < 0) continue;
            std::string child;
            render(static_cast<std::size_t>(piece.child), child);
            if (child.empty()) continue;
            // Children side by side are blocks (paragraphs): one line each.
            if (afterChild) append("\n", out);
            out += child; // its units are counted already

            afterChild = true;
        }
    }

  private:
    void append(std::string_view text, std::string& out) {
        while (!text.empty() && units_ < limit_) {
            Decoded decoded = decodeUtf8(text);
            out += text.substr(0, decoded.bytes);
            text.remove_prefix(decoded.bytes);
            units_ += decoded.codePoint >= 0x10000 ? 2 : 1;
        }
    }

    const std::vector<Part>& parts_;
    std::int64_t limit_;
    std::int64_t units_ = 0;
};

// Finds the children of one level's placeholders and says what to read of each.
std::vector<TextRequest> resolveChildren(HypertextSource& source, std::vector<Part>& parts,
                                         const std::vector<TextRequest>& level,
                                         std::vector<Placeholder>& placeholders,
                                         std::vector<std::size_t>& childParts,
                                         std::vector<bool>& childWhole) {
    std::vector<std::pair<AtspiObject, std::int64_t>> characters;
    for (const Placeholder& p : placeholders)
        characters.emplace_back(level[p.request].object, p.offset);
    std::vector<std::optional<AtspiObject>> children = source.embeddedAt(characters);
    std::vector<AtspiObject> asked;
    for (std::size_t i = 0; i < placeholders.size(); ++i) {
        if (children[i] && !placeholders[i].covered) asked.push_back(*children[i]);
    }
    std::vector<std::optional<std::pair<std::int64_t, std::int64_t>>> own =
        source.selectionsIn(asked);
    std::vector<AtspiObject> found;
    for (const std::optional<AtspiObject>& child : children) {
        if (child) found.push_back(*child);
    }
    std::vector<std::uint32_t> roles = source.rolesOf(found);
    std::size_t foundIndex = 0;
    std::vector<TextRequest> next;
    std::size_t ownIndex = 0;
    for (std::size_t i = 0; i < placeholders.size(); ++i) {
        if (!children[i]) continue;
        const Placeholder& p = placeholders[i];
        TextRequest request{*children[i], 0, -1};
        request.listItem = roles[foundIndex++] == kRoleListItem;
        bool whole = true;
        if (!p.covered) {
            const auto& selection = own[ownIndex++];
            if (selection && selection->second > selection->first) {
                request.start = selection->first;
                request.end = selection->second;
                whole = false;
            }
        }
        (*parts[p.part].pieces)[p.piece].child = static_cast<int>(parts.size());
        childParts.push_back(parts.size());
        parts.push_back({});
        childWhole.push_back(whole);
        next.push_back(std::move(request));
    }
    return next;
}

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

namespace {

// The depth of the object at `index` below `rootPath`, absent when its parents do not lead
// there through visible objects (a cycle or a missing parent ends the climb too).
std::optional<int> depthBelow(const std::vector<CachedObject>& cache,
                              const std::unordered_map<std::string_view, std::size_t>& byPath,
                              std::size_t index, std::string_view rootPath) {
    int depth = 1;
    std::string_view parent = cache[index].parent;
    for (std::size_t climbed = 0; climbed <= cache.size(); ++climbed, ++depth) {
        if (parent == rootPath) return depth;
        auto found = byPath.find(parent);
        if (found == byPath.end()) return std::nullopt;
        const CachedObject& ancestor = cache[found->second];
        if (!mayHoldFocusBelow(ancestor.states)) return std::nullopt;
        parent = ancestor.parent;
    }
    return std::nullopt;
}

} // namespace

std::vector<FocusCandidate> focusedInCache(const std::vector<CachedObject>& cache,
                                           const std::string& bus, const std::string& rootPath) {
    std::unordered_map<std::string_view, std::size_t> byPath;
    for (std::size_t i = 0; i < cache.size(); ++i)
        byPath.emplace(cache[i].path, i);
    std::vector<FocusCandidate> found;
    for (std::size_t i = 0; i < cache.size(); ++i) {
        const CachedObject& object = cache[i];
        if (!hasState(object.states, kStateFocused) || hasState(object.states, kStateDefunct))
            continue;
        if (std::optional<int> depth = depthBelow(cache, byPath, i, rootPath))
            found.push_back({{bus, object.path}, *depth, object.hasText});
    }
    return found;
}

std::optional<AxRect> boxFromEnds(const std::optional<AxRect>& first,
                                  const std::optional<AxRect>& last,
                                  const std::optional<AxRect>& element) {
    if (!first || !last || first->height <= 0 || last->height <= 0) return std::nullopt;
    double top = std::min(first->y, last->y);
    double bottom = std::max(first->y + first->height, last->y + last->height);
    double left = std::min(first->x, last->x);
    double right = std::max(first->x + first->width, last->x + last->width);
    bool oneLine = last->y < first->y + first->height / 2 && first->y < last->y + last->height / 2;
    if (!oneLine && element && element->width > 0) {
        left = std::min(left, element->x);
        right = std::max(right, element->x + element->width);
    }
    return AxRect{left, top, right - left, bottom - top};
}

bool keepsTextPrivate(std::uint32_t role) {
    return role == kRolePasswordText;
}

std::int64_t charactersCoveringUnits(std::string_view text, std::int64_t units) {
    std::int64_t covered = 0;
    std::int64_t characters = 0;
    bool afterSupplementary = false;
    while (!text.empty() && covered < units) {
        Decoded decoded = decodeUtf8(text);
        text.remove_prefix(decoded.bytes);
        bool padding = afterSupplementary && decoded.codePoint == 0xFEFF;
        if (!padding) covered += decoded.codePoint >= 0x10000 ? 2 : 1;
        afterSupplementary = decoded.codePoint >= 0x10000;
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

std::string_view withoutListMarker(std::string_view text, std::int64_t& characters) {
    static constexpr std::u32string_view kBullets =
        U"\u2022\u25E6\u25AA\u25AB\u25A0\u25A1\u2023\u2043-";
    characters = 0;
    std::string_view rest = text;
    Decoded first = rest.empty() ? Decoded{0, 0} : decodeUtf8(rest);
    if (first.bytes > 0 && kBullets.find(first.codePoint) != std::u32string_view::npos) {
        rest.remove_prefix(first.bytes);
        characters = 1;
    } else {
        // An ordinal: up to four ASCII letters or digits, then "." or ")".
        std::size_t length = 0;
        while (length < rest.size() && length < 5 &&
               std::isalnum(static_cast<unsigned char>(rest[length]))) {
            ++length;
        }
        if (length == 0 || length > 4 || length >= rest.size() ||
            (rest[length] != '.' && rest[length] != ')')) {
            return text;
        }
        rest.remove_prefix(length + 1);
        characters = static_cast<std::int64_t>(length) + 1;
    }
    if (rest.empty() || rest.front() != ' ') {
        characters = 0;
        return text;
    }
    rest.remove_prefix(1);
    ++characters;
    return rest;
}

std::optional<std::string> assembleText(HypertextSource& source, const AtspiObject& object,
                                        std::int64_t start, std::int64_t end,
                                        const AssemblyLimits& limits) {
    std::vector<Part> parts(1);
    std::vector<TextRequest> level{{object, start, end}};
    std::vector<std::size_t> levelParts{0};
    std::vector<bool> levelWhole{false};
    std::size_t childrenAsked = 0;
    for (int depth = 0; !level.empty(); ++depth) {
        std::vector<std::optional<std::string>> texts = source.texts(level);
        std::vector<Placeholder> placeholders;
        for (std::size_t k = 0; k < level.size(); ++k) {
            if (!texts[k]) continue;
            TextRequest read = level[k];
            std::string_view text = *texts[k];
            if (read.listItem && read.start == 0) {
                std::int64_t marker = 0;
                text = withoutListMarker(text, marker);
                read.start += marker;
            }
            parts[levelParts[k]].pieces =
                splitText(text, k, levelParts[k], read, levelWhole[k], placeholders);
        }
        if (depth + 1 >= limits.depth) break;
        std::size_t room = limits.children - std::min(limits.children, childrenAsked);
        if (placeholders.size() > room) placeholders.resize(room);
        childrenAsked += placeholders.size();
        if (placeholders.empty()) break;
        std::vector<std::size_t> childParts;
        std::vector<bool> childWhole;
        level = resolveChildren(source, parts, level, placeholders, childParts, childWhole);
        levelParts = std::move(childParts);
        levelWhole = std::move(childWhole);
    }
    if (!parts[0].pieces) return std::nullopt;
    std::string out;
    Renderer(parts, limits.units).render(0, out);
    return out;
}
