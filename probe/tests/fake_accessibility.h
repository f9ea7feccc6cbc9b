#pragma once
// A scripted accessibility service: answers from a script, records every query, and tracks
// which references the caller still holds.

#include "accessibility.h"

#include <map>
#include <string>
#include <vector>

enum class Kind { fail, null, element, range, point, size, rect, string, number, brokenRange };

// One canned answer. `a`..`d` carry the numbers of a range, point, size or rectangle.
struct Answer {
    Kind kind = Kind::fail;
    double a = 0, b = 0, c = 0, d = 0;
    std::string text;
};

inline Answer answerOf(Kind kind, double a = 0, double b = 0, double c = 0, double d = 0) {
    Answer answer;
    answer.kind = kind;
    answer.a = a;
    answer.b = b;
    answer.c = c;
    answer.d = d;
    return answer;
}
inline Answer fails() {
    return answerOf(Kind::fail);
}
inline Answer null() {
    return answerOf(Kind::null);
}
inline Answer element() {
    return answerOf(Kind::element);
}
inline Answer range(double location, double length) {
    return answerOf(Kind::range, location, length);
}
inline Answer point(double x, double y) {
    return answerOf(Kind::point, x, y);
}
inline Answer size(double w, double h) {
    return answerOf(Kind::size, w, h);
}
inline Answer rect(double x, double y, double w, double h) {
    return answerOf(Kind::rect, x, y, w, h);
}
inline Answer string(std::string text) {
    Answer answer = answerOf(Kind::string);
    answer.text = std::move(text);
    return answer;
}
inline Answer number() {
    return answerOf(Kind::number);
}
// A value of the range type whose extraction nevertheless fails.
inline Answer brokenRange() {
    return answerOf(Kind::brokenRange);
}

struct Script {
    bool trusted = true;
    bool systemWide = true;
    Answer focused = element();
    Answer selectedRange;
    Answer stringForRange;
    Answer selectedText;
    Answer bounds;
    Answer position;
    Answer size;
    bool createRangeFails = false;
};

class FakeAccessibility : public Accessibility {
  public:
    explicit FakeAccessibility(Script script) : script_(std::move(script)) {}

    std::vector<std::string> queries;  // service calls, in order, with their parameters
    std::vector<std::string> problems; // misuse: unknown or released references, wrong element

    // References handed out and not yet released.
    std::vector<std::string> held() const;

    bool isProcessTrusted() override;
    AxRef createSystemWide() override;
    std::optional<AxRef> copyAttributeValue(AxRef element, std::string_view attribute) override;
    std::optional<AxRef> copyParameterizedAttributeValue(AxRef element, std::string_view attribute,
                                                         AxRef parameter) override;
    bool isAccessibilityValue(AxRef value) override;
    int valueType(AxRef value) override;
    std::optional<AxPoint> pointValue(AxRef value) override;
    std::optional<AxSize> sizeValue(AxRef value) override;
    std::optional<AxRect> rectValue(AxRef value) override;
    std::optional<AxRange> rangeValue(AxRef value) override;
    std::optional<std::string> stringValue(AxRef value) override;
    AxRef createRange(AxRange range) override;
    void release(AxRef ref) override;

  private:
    std::optional<AxRef> answer(const Answer& answer);
    const Answer* lookUp(AxRef ref, const char* use);
    std::string describe(AxRef ref);

    Script script_;
    std::map<AxRef, Answer> live_;
    AxRef next_ = 1;
    AxRef systemWideRef_ = kNullRef;
    AxRef focusedRef_ = kNullRef;
};
