// The record's JSON bytes: exact cases, and random records that must always parse.

#include "out.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <random>
#include <unistd.h>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Out withText(std::string text) {
    Out out;
    out.trusted = true;
    out.text = std::move(text);
    return out;
}

Out withBox(double x, double y, double width, double height) {
    Out out;
    out.trusted = true;
    out.x = x;
    out.y = y;
    out.width = width;
    out.height = height;
    return out;
}

Out full() {
    Out out = withBox(412, 230.5, 38, 17);
    out.selectedLength = 3;
    out.text = "abc";
    return out;
}

Out lengthOnly(std::int64_t length) {
    Out out;
    out.trusted = true;
    out.selectedLength = length;
    return out;
}

struct Bytes {
    const char* name;
    Out out;
    std::string json;
};

const Bytes kBytes[] = {
    {"UntrustedOnly", Out{}, R"({"trusted":false})"},
    {"TrustedOnly", lengthOnly(0), R"({"trusted":true,"selectedLength":0})"},
    {"Full", full(),
     R"({"trusted":true,"selectedLength":3,"x":412,"y":230.5,"width":38,"height":17,"text":"abc"})"},
    {"NegativeLength", lengthOnly(-12), R"({"trusted":true,"selectedLength":-12})"},
    {"LargestLength", lengthOnly(std::numeric_limits<std::int64_t>::max()),
     R"({"trusted":true,"selectedLength":9223372036854775807})"},
    {"Solidus", withText("a/b"), R"({"trusted":true,"text":"a\/b"})"},
    {"LineBreak", withText("one\ntwo"), R"({"trusted":true,"text":"one\ntwo"})"},
    {"QuoteAndBackslash", withText("\"\\"), R"({"trusted":true,"text":"\"\\"})"},
    {"ControlCharacters", withText(std::string("\t\r\b\f\x01\x1f\x7f", 7)),
     R"({"trusted":true,"text":"\t\r\b\f\u0001\u001f)"
     "\x7f"
     R"("})"},
    {"NulCharacter", withText(std::string("a\0b", 3)), R"({"trusted":true,"text":"a\u0000b"})"},
    {"AccentedLetterUnescaped", withText("caf\xC3\xA9"),
     "{\"trusted\":true,\"text\":\"caf\xC3\xA9\"}"},
    {"EmojiUnescaped", withText("\xF0\x9F\x98\x80"),
     "{\"trusted\":true,\"text\":\"\xF0\x9F\x98\x80\"}"},
    {"EmptyTextOmitted", withText(""), R"({"trusted":true})"},
    {"LoneSurrogateReplaced", withText("a\xED\xA0\xBD"),
     "{\"trusted\":true,\"text\":\"a\xEF\xBF\xBD\"}"},
    {"InvalidByteReplaced", withText("\xFFz"), "{\"trusted\":true,\"text\":\"\xEF\xBF\xBDz\"}"},
    {"TruncatedSequenceReplaced", withText("\xE2\x82"),
     "{\"trusted\":true,\"text\":\"\xEF\xBF\xBD\"}"},
    {"OverlongFormReplacedPerByte", withText("\xC0\xAF"),
     "{\"trusted\":true,\"text\":\"\xEF\xBF\xBD\xEF\xBF\xBD\"}"},
    {"ShortestDoubles", withBox(0.1, -0.0, 1e21, 5e-324),
     R"({"trusted":true,"x":0.1,"y":-0,"width":1e+21,"height":5e-324})"},
    {"LargestDouble", withBox(1.7976931348623157e308, 2.5, 1, 1),
     R"({"trusted":true,"x":1.7976931348623157e+308,"y":2.5,"width":1,"height":1})"},
    {"ShorterLayoutWins", withBox(100000, 123456, 1e-4, 0.001),
     R"({"trusted":true,"x":1e+05,"y":123456,"width":1e-04,"height":0.001})"},
    {"LargeIntegersKeepTheirExactDigits",
     withBox(1.2345678901234568e+20, 1e16, 1000000000000000.5, -1.5e-5),
     R"({"trusted":true,"x":123456789012345683968,"y":1e+16,"width":1000000000000000.5,"height":-1.5e-05})"},
    {"InfiniteXLeavesGeometryOut", withBox(kInf, 1, 2, 3), R"({"trusted":true})"},
    {"NaNHeightLeavesGeometryOut", withBox(1, 2, 3, kNaN), R"({"trusted":true})"},
    {"NegativeInfiniteWidthLeavesGeometryOut", withBox(1, 2, -kInf, 3), R"({"trusted":true})"},
};

void PrintTo(const Bytes& b, std::ostream* os) {
    *os << b.name;
}

class EncodeOut : public testing::TestWithParam<Bytes> {};

TEST_P(EncodeOut, WritesExactBytes) {
    EXPECT_EQ(encodeOut(GetParam().out), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodeOut, testing::ValuesIn(kBytes),
                         [](const testing::TestParamInfo<Bytes>& info) { return info.param.name; });

TEST(EncodeOutGeometry, PartialGeometryIsLeftOut) {
    Out out;
    out.trusted = true;
    out.x = 1;
    out.y = 2;
    out.width = 3;
    EXPECT_EQ(encodeOut(out), R"({"trusted":true})");
}

TEST(EncodeOutGeometry, NonFiniteGeometryKeepsTheOtherFields) {
    Out out = full();
    out.y = kNaN;
    EXPECT_EQ(encodeOut(out), R"({"trusted":true,"selectedLength":3,"text":"abc"})");
}

// Random records of random bytes and bit patterns: each must parse, as valid UTF-8, back to
// the same values.
TEST(EncodeOutProperty, EveryRecordParsesBackToItsValues) {
    std::mt19937_64 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 24);
    auto anyDouble = [&] {
        std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return (random() % 4 == 0) ? static_cast<double>(static_cast<std::int32_t>(bits)) : value;
    };
    for (int round = 0; round < 3000; ++round) {
        Out out;
        out.trusted = random() % 2;
        if (random() % 2) out.selectedLength = static_cast<std::int64_t>(random());
        if (random() % 2) out = withBox(anyDouble(), anyDouble(), anyDouble(), anyDouble());
        std::string text;
        for (int i = length(random); i > 0; --i) {
            // Favour ASCII, escapes and lead bytes so that valid sequences occur too.
            int b = byte(random);
            text.push_back(
                static_cast<char>(round % 3 == 0 ? "a\"\\/\n\xC3\xA9\xF0\x9F\x98\x80"[b % 12] : b));
        }
        out.text = text;
        std::string json = encodeOut(out);
        ASSERT_EQ(json.find('\n'), std::string::npos);
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(json)) << json;
        EXPECT_EQ(parsed.at("trusted").get<bool>(), out.trusted);
        if (out.selectedLength) {
            EXPECT_EQ(parsed.at("selectedLength").get<std::int64_t>(), *out.selectedLength);
        }
        if (parsed.contains("x")) {
            EXPECT_EQ(parsed.at("x").get<double>(), *out.x) << json;
            EXPECT_EQ(parsed.at("height").get<double>(), *out.height) << json;
        }
        EXPECT_EQ(parsed.contains("text"), !text.empty());
    }
}

TEST(WriteOut, WritesTheEncodedBytesAndNothingElse) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_TRUE(writeOut(fds[1], full()));
    close(fds[1]);
    std::string read;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        read.append(buffer, n);
    close(fds[0]);
    EXPECT_EQ(read, encodeOut(full()));
}

TEST(WriteOut, ReportsAClosedPipe) {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    EXPECT_FALSE(writeOut(fds[1], full()));
    close(fds[1]);
}

} // namespace
