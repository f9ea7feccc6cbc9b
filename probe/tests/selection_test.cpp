// The decision logic against the scripted service: output bytes, queries and releases.

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

// Queries every trusted run with a focused element starts with.
std::vector<std::string> focusedThen(std::vector<std::string> rest) {
    std::vector<std::string> all = {"isProcessTrusted", "createSystemWide", "AXFocusedUIElement"};
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

Script selection(Answer selectedRange) {
    Script script;
    script.selectedRange = std::move(selectedRange);
    return script;
}

Script with(Script script, void (*change)(Script&)) {
    change(script);
    return script;
}

const std::string kBox = R"("x":10,"y":20,"width":300,"height":40)";

Script fallbackOf(double width, double height) {
    Script script = selection(range(0, 0));
    script.bounds = rect(5, 5, 0, 0);
    script.position = point(31, 62.5);
    script.size = size(width, height);
    return script;
}

std::string fallbackJson(const std::string& extent) {
    return R"({"trusted":true,"selectedLength":0,"x":31,"y":62.5,)" + extent + "}";
}

const std::vector<std::string> kFallbackQueries = focusedThen(
    {"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange (0,0)", "AXPosition", "AXSize"});

const Case kCases[] = {
    {"NotTrusted",
     with({}, [](Script& s) { s.trusted = false; }),
     R"({"trusted":false})",
     {"isProcessTrusted"}},
    {"NoSystemWideElement",
     with({}, [](Script& s) { s.systemWide = false; }),
     R"({"trusted":true})",
     {"isProcessTrusted", "createSystemWide"}},
    {"FocusQueryFails", with({}, [](Script& s) { s.focused = fails(); }), R"({"trusted":true})",
     focusedThen({})},
    {"FocusIsNull", with({}, [](Script& s) { s.focused = null(); }), R"({"trusted":true})",
     focusedThen({})},
    {"ShortSelection",
     with(selection(range(7, 3)),
          [](Script& s) {
              s.selectedText = string("abc");
              s.bounds = rect(10, 20, 300, 40);
          }),
     R"({"trusted":true,"selectedLength":3,)" + kBox + R"(,"text":"abc"})",
     focusedThen({"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange (7,3)"})},
    {"Length3600IsNotLong",
     with(selection(range(7, 3600)),
          [](Script& s) {
              s.selectedText = string("whole");
              s.bounds = rect(10, 20, 300, 40);
          }),
     R"({"trusted":true,"selectedLength":3600,)" + kBox + R"(,"text":"whole"})",
     focusedThen({"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange (7,3600)"})},
    {"Length3601ReadsThePrefix",
     with(selection(range(7, 3601)),
          [](Script& s) {
              s.stringForRange = string("prefix");
              s.selectedText = string("never asked");
              s.bounds = rect(10, 20, 300, 40);
          }),
     R"({"trusted":true,"selectedLength":3601,)" + kBox + R"(,"text":"prefix"})",
     focusedThen({"AXSelectedTextRange", "createRange (7,1350)", "AXStringForRange (7,1350)",
                  "AXBoundsForRange (7,1350)"})},
    {"LongSelectionPrefixFails",
     with(selection(range(7, 3601)), [](Script& s) { s.bounds = rect(10, 20, 300, 40); }),
     R"({"trusted":true,"selectedLength":3601,)" + kBox + "}",
     focusedThen({"AXSelectedTextRange", "createRange (7,1350)", "AXStringForRange (7,1350)",
                  "AXBoundsForRange (7,1350)"})},
    {"LongSelectionEmptyPrefixIsNoText",
     with(selection(range(0, 90000)), [](Script& s) { s.stringForRange = string(""); }),
     R"({"trusted":true,"selectedLength":90000})",
     focusedThen({"AXSelectedTextRange", "createRange (0,1350)", "AXStringForRange (0,1350)",
                  "AXBoundsForRange (0,1350)", "AXPosition"})},
    {"LongSelectionRangeCreationFails",
     with(selection(range(7, 3601)),
          [](Script& s) {
              s.createRangeFails = true;
              s.bounds = rect(10, 20, 300, 40);
          }),
     R"({"trusted":true,"selectedLength":3601,)" + kBox + "}",
     focusedThen({"AXSelectedTextRange", "createRange (7,1350)", "AXBoundsForRange (7,3601)"})},
    {"CaretBoxOfZeroWidthIsAccepted",
     with(selection(range(5, 0)),
          [](Script& s) {
              s.selectedText = string("");
              s.bounds = rect(100, 50, 0, 17);
          }),
     R"({"trusted":true,"selectedLength":0,"x":100,"y":50,"width":0,"height":17})",
     focusedThen({"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange (5,0)"})},
    {"FlatBoundsAreAccepted",
     with(selection(range(5, 2)), [](Script& s) { s.bounds = rect(100, 50, 9, 0); }),
     R"({"trusted":true,"selectedLength":2,"x":100,"y":50,"width":9,"height":0})",
     focusedThen({"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange (5,2)"})},
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
    {"SizeFailsAfterPosition", with(fallbackOf(20, 16), [](Script& s) { s.size = fails(); }),
     R"({"trusted":true,"selectedLength":0})", kFallbackQueries},
    {"PositionFailsSoSizeIsNotAsked",
     with(fallbackOf(20, 16), [](Script& s) { s.position = fails(); }),
     R"({"trusted":true,"selectedLength":0})",
     focusedThen(
         {"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange (0,0)", "AXPosition"})},
    {"NullPositionGivesNoBox", with(fallbackOf(20, 16), [](Script& s) { s.position = null(); }),
     R"({"trusted":true,"selectedLength":0})", kFallbackQueries},
    {"PositionOfTheWrongKindGivesNoBox",
     with(fallbackOf(20, 16), [](Script& s) { s.position = size(1, 2); }),
     R"({"trusted":true,"selectedLength":0})", kFallbackQueries},
    {"PositionThatIsNoValueGivesNoBox",
     with(fallbackOf(20, 16), [](Script& s) { s.position = string("here"); }),
     R"({"trusted":true,"selectedLength":0})", kFallbackQueries},
    {"RangeOfTheWrongKindIsStillTheBoundsParameter",
     with(selection(point(1, 2)),
          [](Script& s) {
              s.selectedText = string("t");
              s.bounds = rect(10, 20, 300, 40);
          }),
     R"({"trusted":true,)" + kBox + R"(,"text":"t"})",
     focusedThen({"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange point"})},
    {"RangeThatIsNoValueIsStillTheBoundsParameter",
     with(selection(number()), [](Script& s) { s.selectedText = string("t"); }),
     R"({"trusted":true,"text":"t"})",
     focusedThen(
         {"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange number", "AXPosition"})},
    {"RangeThatCannotBeExtracted",
     with(selection(brokenRange()), [](Script& s) { s.bounds = rect(10, 20, 300, 40); }),
     R"({"trusted":true,)" + kBox + "}",
     focusedThen({"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange brokenRange"})},
    {"NoRangeMeansNoBoundsQuery",
     with(selection(fails()),
          [](Script& s) {
              s.selectedText = string("t");
              s.position = point(1, 2);
              s.size = size(30, 30);
          }),
     R"({"trusted":true,"x":1,"y":2,"width":30,"height":22,"text":"t"})",
     focusedThen({"AXSelectedTextRange", "AXSelectedText", "AXPosition", "AXSize"})},
    {"NullRangeMeansNoBoundsQuery", selection(null()), R"({"trusted":true})",
     focusedThen({"AXSelectedTextRange", "AXSelectedText", "AXPosition"})},
    {"NegativeLengthIsNotLong",
     with(selection(range(5, -3)), [](Script& s) { s.selectedText = string("t"); }),
     R"({"trusted":true,"selectedLength":-3,"text":"t"})",
     focusedThen(
         {"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange (5,-3)", "AXPosition"})},
    {"SelectedTextThatIsNoString",
     with(selection(range(1, 1)), [](Script& s) { s.selectedText = number(); }),
     R"({"trusted":true,"selectedLength":1})",
     focusedThen(
         {"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange (1,1)", "AXPosition"})},
    {"BoundsThatAreNoValueUseTheElementBox",
     with(fallbackOf(20, 16), [](Script& s) { s.bounds = string("wide"); }),
     fallbackJson(R"("width":20,"height":16)"), kFallbackQueries},
    {"BoundsOfTheWrongKindUseTheElementBox",
     with(fallbackOf(20, 16), [](Script& s) { s.bounds = size(100, 100); }),
     fallbackJson(R"("width":20,"height":16)"), kFallbackQueries},
    {"FieldsSetEarlierStaySet",
     with(selection(range(2, 4)),
          [](Script& s) {
              s.selectedText = string("kept");
              s.bounds = rect(0, 0, 0, 0);
              s.position = point(1, 1);
          }),
     R"({"trusted":true,"selectedLength":4,"text":"kept"})",
     focusedThen({"AXSelectedTextRange", "AXSelectedText", "AXBoundsForRange (2,4)", "AXPosition",
                  "AXSize"})},
};

class ProbeSelection : public testing::TestWithParam<Case> {};

TEST_P(ProbeSelection, WritesTheRecordAfterTheExactQueries) {
    const Case& c = GetParam();
    FakeAccessibility fake(c.script);
    Out out = probeSelection(fake);
    EXPECT_EQ(encodeOut(out), c.json);
    EXPECT_EQ(fake.queries, c.queries);
    EXPECT_EQ(fake.held(), std::vector<std::string>{}) << "references left unreleased";
    EXPECT_EQ(fake.problems, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, ProbeSelection, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(ProbeSelectionGeometry, NonFiniteElementSizeLeavesTheBoxOut) {
    FakeAccessibility fake(fallbackOf(std::numeric_limits<double>::quiet_NaN(), 16));
    EXPECT_EQ(encodeOut(probeSelection(fake)), R"({"trusted":true,"selectedLength":0})");
}

} // namespace
