#include "text_assembly.h"

#include "utf.h"

#include <algorithm>
#include <cctype>

namespace {

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
                             const TextRequest& request, bool whole, std::size_t room,
                             std::vector<Placeholder>& placeholders) {
    std::vector<Piece> pieces;
    std::int64_t offset = request.start;
    for (std::string_view rest = text; !rest.empty(); ++offset) {
        Decoded decoded = decodeUtf8(rest);
        std::string_view bytes = rest.substr(0, decoded.bytes);
        rest.remove_prefix(decoded.bytes);
        if (decoded.codePoint == kEmbeddedObject && placeholders.size() >= room) continue;
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
                                         std::vector<bool>& childWhole, bool& holdsPassword) {
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
    holdsPassword = std::any_of(roles.begin(), roles.end(), keepsTextPrivate);
    if (holdsPassword) return {};
    std::size_t foundIndex = 0;
    std::vector<TextRequest> next;
    std::size_t ownIndex = 0;
    for (std::size_t i = 0; i < placeholders.size(); ++i) {
        if (!children[i]) continue;
        const Placeholder& p = placeholders[i];
        TextRequest request{*children[i], 0, -1};
        request.listItem = roles[foundIndex++] == atspi::kRoleListItem;
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

// The text of characters read one by one, each a code point or a UTF-16 unit.
std::string textOfCodes(const std::vector<std::int64_t>& codes) {
    std::u16string units;
    for (std::int64_t code : codes) {
        if (code >= 0 && code <= 0xFFFF) {
            units += static_cast<char16_t>(code);
        } else if (code > 0xFFFF && code <= 0x10FFFF) {
            units += static_cast<char16_t>(0xD7C0 + (code >> 10));
            units += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
        } else {
            units += u'\uFFFD';
        }
    }
    return utf8FromUtf16(units);
}

bool holdsCharacters(const std::vector<Piece>& pieces) {
    return std::any_of(pieces.begin(), pieces.end(),
                       [](const Piece& piece) { return !piece.embedded && !piece.text.empty(); });
}

} // namespace

bool keepsTextPrivate(std::uint32_t role) {
    return role == atspi::kRolePasswordText;
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

AssembledText assembleText(HypertextSource& source, const AtspiObject& object, std::int64_t start,
                           std::int64_t end, const AssemblyLimits& limits) {
    std::vector<Part> parts(1);
    std::vector<TextRequest> level{{object, start, end}};
    std::vector<std::size_t> levelParts{0};
    std::vector<bool> levelWhole{false};
    std::size_t childrenAsked = 0;
    std::vector<TextRequest> textReads;
    bool tooManyReads = false;
    for (int depth = 0; !level.empty(); ++depth) {
        std::vector<std::optional<std::string>> texts = source.texts(level);
        std::vector<Placeholder> placeholders;
        const std::size_t room = limits.children - std::min(limits.children, childrenAsked);
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
                splitText(text, k, levelParts[k], read, levelWhole[k], room, placeholders);
            if (!holdsCharacters(*parts[levelParts[k]].pieces)) continue;
            tooManyReads = tooManyReads || textReads.size() >= kMeasuredReads;
            if (tooManyReads) continue;
            // A read to the end as the characters it gave, so that each is a range.
            TextRequest measured = level[k];
            if (measured.end < 0)
                measured.end = measured.start + std::int64_t(codePointCount(*texts[k]));
            textReads.push_back(std::move(measured));
        }
        if (depth + 1 >= limits.depth) break;
        childrenAsked += placeholders.size();
        if (placeholders.empty()) break;
        std::vector<std::size_t> childParts;
        std::vector<bool> childWhole;
        bool holdsPassword = false;
        level = resolveChildren(source, parts, level, placeholders, childParts, childWhole,
                                holdsPassword);
        if (holdsPassword) return {std::nullopt, true, {}};
        levelParts = std::move(childParts);
        levelWhole = std::move(childWhole);
    }
    if (!parts[0].pieces) return {};
    std::string out;
    Renderer(parts, limits.units).render(0, out);
    if (tooManyReads) textReads.clear();
    return {std::move(out), false, std::move(textReads)};
}

std::optional<std::string> textInPieces(HypertextSource& source, const AtspiObject& object,
                                        std::int64_t start, std::int64_t end,
                                        const PieceLimits& limits) {
    if (end <= start || limits.piece <= 0) return std::nullopt;
    std::vector<TextRequest> pieces;
    for (std::int64_t at = start; at < end; at += limits.piece)
        pieces.push_back({object, at, std::min(end, at + limits.piece)});
    std::vector<std::optional<std::string>> texts = source.texts(pieces);
    std::vector<std::int64_t> offsets;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (!texts[i]) return std::nullopt;
        if (!texts[i]->empty()) continue;
        for (std::int64_t at = pieces[i].start; at < pieces[i].end; ++at)
            offsets.push_back(at);
        if (static_cast<std::int64_t>(offsets.size()) > limits.characters) return std::nullopt;
    }
    std::vector<std::optional<std::int64_t>> codes = source.charactersAt(object, offsets);
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (!texts[i]->empty()) {
            out += *texts[i];
            continue;
        }
        // Consecutive pieces read one by one are decoded together: a pair may span two.
        std::vector<std::int64_t> run;
        for (; i < pieces.size() && texts[i]->empty(); ++i) {
            for (std::int64_t at = pieces[i].start; at < pieces[i].end; ++at, ++next) {
                if (next >= codes.size() || !codes[next] || *codes[next] == 0) return std::nullopt;
                run.push_back(*codes[next]);
            }
        }
        --i;
        out += textOfCodes(run);
    }
    return out;
}
