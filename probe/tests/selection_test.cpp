// The decision logic against the scripted service: the output bytes and the questions asked.

#include "fake_accessibility.h"
#include "selection.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct Case {
    const char* name;
    Script script;
    std::string json;
    std::vector<std::string> queries;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// Questions every trusted run with a focused element starts with.
std::vector<std::string> focusedThen(std::vector<std::string> rest) {
    std::vector<std::string> all = {"trusted", "focusedElement"};
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

SelectedRange range(std::int64_t location, std::int64_t length) {
    return SelectedRange{AxRange{location, length}};
}
// An answer to the range question that holds no readable range.
const SelectedRange kUnreadableRange{};

ElementPosition at(double x, double y) {
    return ElementPosition{AxPoint{x, y}};
}
RangeText prefixText(std::string text) {
    return RangeText{true, std::move(text)};
}

Script selection(std::optional<SelectedRange> selectedRange) {
    Script script;
    script.selectedRange = std::move(selectedRange);
    return script;
}

Script with(Script script, void (*change)(Script&)) {
    change(script);
    return script;
}

const AxRect kBounds{10, 20, 300, 40};
const std::string kBox = R"("x":10,"y":20,"width":300,"height":40)";

Script fallbackOf(double width, double height) {
    Script script = selection(range(0, 0));
    script.bounds = AxRect{5, 5, 0, 0};
    script.position = at(31, 62.5);
    script.size = AxSize{width, height};
    return script;
}

std::string fallbackJson(const std::string& extent) {
    return R"({"trusted":true,"selectedLength":0,"x":31,"y":62.5,)" + extent + "}";
}

const std::vector<std::string> kFallbackQueries =
    focusedThen({"selectedRange", "selectedText", "boundsForRange selection", "position", "size"});
const std::vector<std::string> kPrefixQueries =
    focusedThen({"selectedRange", "stringForRange (7,1350)", "boundsForRange (7,1350)"});

const Case kCases[] = {
    {"NotTrusted",
     with({}, [](Script& s) { s.trusted = false; }),
     R"({"trusted":false})",
     {"trusted"}},
    {"NoFocusedElement", with({}, [](Script& s) { s.focused = false; }), R"({"trusted":true})",
     focusedThen({})},
    {"ShortSelection",
     with(selection(range(7, 3)),
          [](Script& s) {
              s.selectedText = "abc";
              s.bounds = kBounds;
          }),
     R"({"trusted":true,"selectedLength":3,)" + kBox + R"(,"text":"abc"})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection"})},
    {"Length3600IsNotLong",
     with(selection(range(7, 3600)),
          [](Script& s) {
              s.selectedText = "whole";
              s.bounds = kBounds;
          }),
     R"({"trusted":true,"selectedLength":3600,)" + kBox + R"(,"text":"whole"})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection"})},
    {"Length3601ReadsThePrefix",
     with(selection(range(7, 3601)),
          [](Script& s) {
              s.stringForRange = prefixText("prefix");
              s.selectedText = "never asked";
              s.bounds = kBounds;
          }),
     R"({"trusted":true,"selectedLength":3601,)" + kBox + R"(,"text":"prefix"})", kPrefixQueries},
    {"LongSelectionPrefixFails",
     with(selection(range(7, 3601)), [](Script& s) { s.bounds = kBounds; }),
     R"({"trusted":true,"selectedLength":3601,)" + kBox + "}", kPrefixQueries},
    {"LongSelectionEmptyPrefixIsNoText",
     with(selection(range(0, 90000)), [](Script& s) { s.stringForRange = prefixText(""); }),
     R"({"trusted":true,"selectedLength":90000})",
     focusedThen(
         {"selectedRange", "stringForRange (0,1350)", "boundsForRange (0,1350)", "position"})},
    // The prefix range cannot be made: the selection as answered is measured instead.
    {"LongSelectionRangeThatCannotBeMade",
     with(selection(range(7, 3601)),
          [](Script& s) {
              s.stringForRange = RangeText{false, std::nullopt};
              s.bounds = kBounds;
          }),
     R"({"trusted":true,"selectedLength":3601,)" + kBox + "}",
     focusedThen({"selectedRange", "stringForRange (7,1350)", "boundsForRange selection"})},
    // Qt Quick's paragraph and line separators are given as the line break of other toolkits.
    {"SeparatorsBecomeLineBreaks",
     with(selection(range(0, 11)),
          [](Script& s) {
              s.selectedText = "one\xE2\x80\xA9two\xE2\x80\xA8six";
              s.bounds = kBounds;
          }),
     R"({"trusted":true,"selectedLength":11,)" + kBox + R"(,"text":"one\ntwo\nsix"})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection"})},
    {"SeparatorsInALongPrefixBecomeLineBreaks",
     with(selection(range(7, 3601)),
          [](Script& s) {
              s.stringForRange = prefixText("a\xE2\x80\xA9"
                                            "b");
              s.bounds = kBounds;
          }),
     R"({"trusted":true,"selectedLength":3601,)" + kBox + R"(,"text":"a\nb"})", kPrefixQueries},
    {"CaretBoxOfZeroWidthIsAccepted",
     with(selection(range(5, 0)),
          [](Script& s) {
              s.selectedText = "";
              s.bounds = AxRect{100, 50, 0, 17};
          }),
     R"({"trusted":true,"selectedLength":0,"x":100,"y":50,"width":0,"height":17})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection"})},
    {"FlatBoundsAreAccepted",
     with(selection(range(5, 2)),
          [](Script& s) {
              s.bounds = AxRect{100, 50, 9, 0};
          }),
     R"({"trusted":true,"selectedLength":2,"x":100,"y":50,"width":9,"height":0})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection"})},
    {"EmptyBoundsUseTheElementBox", fallbackOf(300, 30), fallbackJson(R"("width":48,"height":22)"),
     kFallbackQueries},
    {"TinyElementIsRaised", fallbackOf(4, 5), fallbackJson(R"("width":8,"height":12)"),
     kFallbackQueries},
    {"MidSizedElementIsKept", fallbackOf(20, 16), fallbackJson(R"("width":20,"height":16)"),
     kFallbackQueries},
    {"ElementAtTheLowerLimits", fallbackOf(8, 12), fallbackJson(R"("width":8,"height":12)"),
     kFallbackQueries},
    {"ElementAtTheUpperLimits", fallbackOf(48, 22), fallbackJson(R"("width":48,"height":22)"),
     kFallbackQueries},
    {"ElementJustAboveTheLimits", fallbackOf(48.5, 22.25),
     fallbackJson(R"("width":48,"height":22)"), kFallbackQueries},
    {"NoBoundsUseTheElementBox",
     with(fallbackOf(20, 16), [](Script& s) { s.bounds = std::nullopt; }),
     fallbackJson(R"("width":20,"height":16)"), kFallbackQueries},
    {"SizeFailsAfterPosition", with(fallbackOf(20, 16), [](Script& s) { s.size = std::nullopt; }),
     R"({"trusted":true,"selectedLength":0})", kFallbackQueries},
    {"PositionFailsSoSizeIsNotAsked",
     with(fallbackOf(20, 16), [](Script& s) { s.position = std::nullopt; }),
     R"({"trusted":true,"selectedLength":0})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection", "position"})},
    // An answer without a point (null, or another kind) still has the size asked.
    {"PositionWithoutAPointGivesNoBox",
     with(fallbackOf(20, 16), [](Script& s) { s.position = ElementPosition{}; }),
     R"({"trusted":true,"selectedLength":0})", kFallbackQueries},
    {"UnreadableRangeIsStillMeasured",
     with(selection(kUnreadableRange),
          [](Script& s) {
              s.selectedText = "t";
              s.bounds = kBounds;
          }),
     R"({"trusted":true,)" + kBox + R"(,"text":"t"})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection"})},
    {"UnreadableRangeWithoutBoundsAsksThePosition",
     with(selection(kUnreadableRange), [](Script& s) { s.selectedText = "t"; }),
     R"({"trusted":true,"text":"t"})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection", "position"})},
    {"NoRangeMeansNoBoundsQuery",
     with(selection(std::nullopt),
          [](Script& s) {
              s.selectedText = "t";
              s.position = at(1, 2);
              s.size = AxSize{30, 30};
          }),
     R"({"trusted":true,"x":1,"y":2,"width":30,"height":22,"text":"t"})",
     focusedThen({"selectedRange", "selectedText", "position", "size"})},
    {"NothingAnswered", selection(std::nullopt), R"({"trusted":true})",
     focusedThen({"selectedRange", "selectedText", "position"})},
    {"NegativeLengthIsNotLong",
     with(selection(range(5, -3)), [](Script& s) { s.selectedText = "t"; }),
     R"({"trusted":true,"selectedLength":-3,"text":"t"})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection", "position"})},
    {"RangeAloneWhenNothingElseAnswers", selection(range(1, 1)),
     R"({"trusted":true,"selectedLength":1})",
     focusedThen({"selectedRange", "selectedText", "boundsForRange selection", "position"})},
    {"FieldsSetEarlierStaySet",
     with(selection(range(2, 4)),
          [](Script& s) {
              s.selectedText = "kept";
              s.bounds = AxRect{0, 0, 0, 0};
              s.position = at(1, 1);
          }),
     R"({"trusted":true,"selectedLength":4,"text":"kept"})",
     focusedThen(
         {"selectedRange", "selectedText", "boundsForRange selection", "position", "size"})},
};

class ProbeSelection : public testing::TestWithParam<Case> {};

TEST_P(ProbeSelection, WritesTheRecordAfterTheExactQueries) {
    const Case& c = GetParam();
    FakeAccessibility fake(c.script);
    Out out = probeSelection(fake);
    EXPECT_EQ(encodeOut(out), c.json);
    EXPECT_EQ(fake.queries, c.queries);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeSelection, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(ProbeSelectionGeometry, NonFiniteElementSizeLeavesTheBoxOut) {
    FakeAccessibility fake(fallbackOf(std::numeric_limits<double>::quiet_NaN(), 16));
    EXPECT_EQ(encodeOut(probeSelection(fake)), R"({"trusted":true,"selectedLength":0})");
}

} // namespace
