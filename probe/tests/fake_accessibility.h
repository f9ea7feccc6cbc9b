#pragma once
// A scripted accessibility service: answers each question from a script and records the
// questions in the order they were asked.

#include "accessibility.h"

#include <string>
#include <vector>

struct Script {
    bool trusted = true;
    bool focused = true;
    std::optional<SelectedRange> selectedRange;
    RangeText stringForRange;
    std::optional<std::string> selectedText;
    std::optional<AxRect> bounds;
    std::optional<ElementPosition> position;
    std::optional<AxSize> size;
};

class FakeAccessibility final : public Accessibility {
  public:
    explicit FakeAccessibility(Script script) : script_(std::move(script)) {}

    // The questions, in order, with the ranges they were asked for.
    std::vector<std::string> queries;

    bool isTrusted() override;
    bool findFocusedElement() override;
    std::optional<SelectedRange> selectedRange() override;
    RangeText stringForRange(AxRange range) override;
    std::optional<std::string> selectedText() override;
    std::optional<AxRect> boundsForRange(const MeasuredRange& range) override;
    std::optional<ElementPosition> position() override;
    std::optional<AxSize> size() override;

  private:
    Script script_;
};
