// The bindings document reader, the record-line writer and the label upper-casing.

#include "binding.h"
#include "json_text.h"
#include "upper_case.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase {
    const char* name;
    const char* json;
    BindingMap expected;
};

const Binding kFnOption{true, false, true, false, false, std::nullopt, ""};
constexpr const char* kMods =
    R"("fn":true,"control":false,"option":true,"shift":false,"command":false)";

std::string doc(const std::string& members) {
    return std::string(R"({"read":{)") + kMods + members + "}}";
}

const std::vector<DecodeCase> kCases = {
    {"EmptyText", "", {}},
    {"NotJson", "{read:", {}},
    {"Array", "[]", {}},
    {"StringDocument", R"("read")", {}},
    {"EmptyObject", "{}", {}},
    {"BindingNotObject", R"({"read":true})", {}},
    {"MissingLabel",
     R"({"read":{"fn":true,"control":false,"option":true,"shift":false,"command":false}})",
     {}},
    {"MissingModifier",
     R"({"read":{"fn":true,"control":false,"option":true,"shift":false,"keyLabel":""}})",
     {}},
    {"ModifierAsNumber",
     R"({"read":{"fn":1,"control":false,"option":true,"shift":false,"command":false,"keyLabel":""}})",
     {}},
    {"LabelAsNumber",
     R"({"read":{"fn":true,"control":false,"option":true,"shift":false,"command":false,"keyLabel":5}})",
     {}},
    {"TrailingGarbage",
     R"({"read":{"fn":true,"control":false,"option":true,"shift":false,"command":false,"keyLabel":""}} x)",
     {}},
    {"InvalidUtf8",
     "{\"read\":{\"fn\":true,\"control\":false,\"option\":true,\"shift\":false,"
     "\"command\":false,\"keyLabel\":\"\xff\"}}",
     {}},
};

class DecodeBindings : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeBindings, GivesExpectedMap) {
    EXPECT_EQ(decodeBindings(GetParam().json), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rejected, DecodeBindings, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct KeyCodeCase {
    const char* name;
    std::string members;
    std::optional<std::optional<int64_t>> keyCode; // outer empty: the document is rejected
};

const std::vector<KeyCodeCase> kKeyCodes = {
    {"Absent", R"(,"keyLabel":"")", std::optional<int64_t>{}},
    {"Null", R"(,"keyCode":null,"keyLabel":"")", std::optional<int64_t>{}},
    {"Zero", R"(,"keyCode":0,"keyLabel":"")", std::optional<int64_t>{0}},
    {"Negative", R"(,"keyCode":-7,"keyLabel":"")", std::optional<int64_t>{-7}},
    {"Int64Max", R"(,"keyCode":9223372036854775807,"keyLabel":"")",
     std::optional<int64_t>{INT64_MAX}},
    {"Int64Min", R"(,"keyCode":-9223372036854775808,"keyLabel":"")",
     std::optional<int64_t>{INT64_MIN}},
    {"TwoToThe63", R"(,"keyCode":9223372036854775808,"keyLabel":"")", std::nullopt},
    {"Fraction", R"(,"keyCode":1.5,"keyLabel":"")", std::nullopt},
    {"Exponent", R"(,"keyCode":1e3,"keyLabel":"")", std::nullopt},
    {"String", R"(,"keyCode":"57","keyLabel":"")", std::nullopt},
    {"UnknownMemberIgnored", R"(,"keyCode":57,"colour":"red","keyLabel":"")",
     std::optional<int64_t>{57}},
};

class DecodeKeyCode : public ::testing::TestWithParam<KeyCodeCase> {};

TEST_P(DecodeKeyCode, ReadsOnlySigned64BitIntegers) {
    const auto decoded = decodeBindings(doc(GetParam().members));
    if (!GetParam().keyCode) {
        EXPECT_TRUE(decoded.empty());
        return;
    }
    Binding expected = kFnOption;
    expected.keyCode = *GetParam().keyCode;
    EXPECT_EQ(decoded, (BindingMap{{"read", expected}}));
}

INSTANTIATE_TEST_SUITE_P(KeyCodes, DecodeKeyCode, ::testing::ValuesIn(kKeyCodes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeBindingsDocument, OneBadBindingEmptiesTheWhole) {
    const std::string good = std::string(R"("a":{)") + kMods + R"(,"keyLabel":""})";
    EXPECT_EQ(decodeBindings("{" + good + "}").size(), 1u);
    EXPECT_TRUE(decodeBindings("{" + good + R"(,"b":{"fn":true}})").empty());
}

struct EncodeCase {
    Binding binding;
    const char* json;
};

class EncodeBinding : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeBinding, CompactInFieldOrder) {
    EXPECT_EQ(encodeBinding(GetParam().binding), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, EncodeBinding,
    ::testing::Values(
        EncodeCase{kFnOption, R"({"fn":true,"control":false,"option":true,"shift":false,)"
                              R"("command":false,"keyLabel":""})"},
        EncodeCase{Binding{false, true, false, true, true, -3, "x"},
                   R"({"fn":false,"control":true,"option":false,"shift":true,)"
                   R"("command":true,"keyCode":-3,"keyLabel":"x"})"},
        EncodeCase{Binding{false, false, false, false, false, 1, "a/\"\\\n\t\x01\x1f\u00e9\u20ac"},
                   R"({"fn":false,"control":false,"option":false,"shift":false,)"
                   R"("command":false,"keyCode":1,"keyLabel":"a\/\"\\\n\t\u0001\u001f)"
                   "\u00e9\u20ac\"}"}));

TEST(EncodeBindingRoundTrip, DecoderReadsWhatEncoderWrites) {
    const Binding binding{true, false, false, true, false, 123, "Ä/\"\\\b\f\r"};
    const auto decoded = decodeBindings("{\"x\":" + encodeBinding(binding) + "}");
    EXPECT_EQ(decoded, (BindingMap{{"x", binding}}));
}

struct UpperCase {
    const char* in;
    std::optional<std::string> out;
};

class UpperCased : public ::testing::TestWithParam<UpperCase> {};

TEST_P(UpperCased, FullLocaleIndependentMapping) {
    EXPECT_EQ(upperCased(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Labels, UpperCased,
                         ::testing::Values(UpperCase{"", ""}, UpperCase{"a", "A"},
                                           UpperCase{"ß", "SS"}, UpperCase{"é", "É"},
                                           UpperCase{"i", "I"}, UpperCase{"ǆ", "Ǆ"},
                                           UpperCase{"1;", "1;"}, UpperCase{"\xc3", std::nullopt},
                                           UpperCase{"\xed\xa0\x80", std::nullopt}));

struct Utf8Case {
    const char* name;
    std::string text;
    bool wellFormed;
};

class WellFormedUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(WellFormedUtf8, AcceptsExactlyTheWellFormedSequences) {
    EXPECT_EQ(isWellFormedUtf8(GetParam().text), GetParam().wellFormed);
}

INSTANTIATE_TEST_SUITE_P(Sequences, WellFormedUtf8,
                         ::testing::Values(Utf8Case{"Empty", "", true},
                                           Utf8Case{"Ascii", "aZ;", true},
                                           Utf8Case{"TwoBytes", "\xc3\xa9", true},
                                           Utf8Case{"ThreeBytes", "\xe2\x82\xac", true},
                                           Utf8Case{"LastBeforeSurrogates", "\xed\x9f\xbf", true},
                                           Utf8Case{"FourBytes", "\xf0\x9f\x98\x80", true},
                                           Utf8Case{"HighestCodePoint", "\xf4\x8f\xbf\xbf", true},
                                           Utf8Case{"CutShort", "\xc3", false},
                                           Utf8Case{"LoneContinuation", "\x80", false},
                                           Utf8Case{"OverlongSlash", "\xc0\xaf", false},
                                           Utf8Case{"OverlongThreeBytes", "\xe0\x80\xaf", false},
                                           Utf8Case{"Surrogate", "\xed\xa0\x80", false},
                                           Utf8Case{"OverlongFourBytes", "\xf0\x80\x80\xaf", false},
                                           Utf8Case{"AboveUnicode", "\xf4\x90\x80\x80", false},
                                           Utf8Case{"NotALead", "\xff", false},
                                           Utf8Case{"BadSecondByte", "\xe2\x28\xa1", false}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
