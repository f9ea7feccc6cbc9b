#pragma once
// UTF-8 and UTF-16 conversions that never fail: every ill-formed unit becomes U+FFFD; and the
// counts that map a toolkit's character offsets to UTF-16 units.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// One decoded code point and the number of bytes it took; ill-formed input yields U+FFFD.
struct Decoded {
    char32_t codePoint;
    std::size_t bytes;
};

// Decodes the code point at the start of a non-empty byte string. An encoded surrogate
// (ED A0..BF xx) counts as one bad unit; any other ill-formed sequence is replaced by its
// maximal well-formed prefix, so a byte string always decodes in finitely many steps.
Decoded decodeUtf8(std::string_view bytes);

void appendUtf8(std::string& out, char32_t codePoint);

std::string utf8FromUtf16(std::u16string_view units);
std::u16string utf16FromUtf8(std::string_view bytes);

// Length in UTF-16 code units of the text that `bytes` decodes to.
std::int64_t utf16Length(std::string_view bytes);

// The first `units` UTF-16 code units of the text, as UTF-8. A surrogate pair cut in half
// leaves a lone surrogate, which is written as U+FFFD.
std::string utf16Prefix(std::string_view bytes, std::size_t units);

// Number of code points in the text.
std::size_t codePointCount(std::string_view bytes);

// The first `characters` code points of the text (all of it when it has fewer). A toolkit's
// answer for a range of characters is never taken longer than that range.
std::string_view firstCharacters(std::string_view bytes, std::size_t characters);

// The number of characters (code points) at the start of `text` that `units` UTF-16 code
// units cover; a character cut in half by `units` counts as covered. The U+FEFF padding after
// a character outside the BMP takes a character but no unit, so that a prefix of the text
// without its padding covers the padding too.
std::int64_t charactersCoveringUnits(std::string_view text, std::int64_t units);

// Text with the invisible U+FEFF that some toolkits put after every character outside the
// Basic Multilingual Plane (to keep their offsets in UTF-16 units) taken out.
std::string withoutSupplementaryPadding(std::string_view text);

// Text with the Unicode line and paragraph separators (U+2028, U+2029, which Qt Quick puts
// between lines and paragraphs) written as "\n", the line break that other toolkits give.
// Each is one UTF-16 unit, as "\n" is, so a length in units stays that of the text.
std::string withPlainLineBreaks(std::string_view text);
