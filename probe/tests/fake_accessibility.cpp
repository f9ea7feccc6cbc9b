#include "fake_accessibility.h"

#include <cstdint>

namespace {

std::string rangeText(double location, double length) {
    return "(" + std::to_string(static_cast<std::int64_t>(location)) + "," +
           std::to_string(static_cast<std::int64_t>(length)) + ")";
}

const char* kindName(Kind kind) {
    switch (kind) {
    case Kind::fail:
        return "fail";
    case Kind::null:
        return "null";
    case Kind::element:
        return "element";
    case Kind::range:
        return "range";
    case Kind::point:
        return "point";
    case Kind::size:
        return "size";
    case Kind::rect:
        return "rect";
    case Kind::string:
        return "string";
    case Kind::number:
        return "number";
    case Kind::brokenRange:
        return "brokenRange";
    }
    return "?";
}

bool isValueKind(Kind kind) {
    return kind == Kind::range || kind == Kind::point || kind == Kind::size || kind == Kind::rect ||
           kind == Kind::brokenRange;
}

} // namespace

std::vector<std::string> FakeAccessibility::held() const {
    std::vector<std::string> names;
    for (const auto& [ref, answer] : live_) {
        names.push_back("#" + std::to_string(ref) + " " + kindName(answer.kind));
    }
    return names;
}

std::optional<AxRef> FakeAccessibility::answer(const Answer& answer) {
    if (answer.kind == Kind::fail) return std::nullopt;
    if (answer.kind == Kind::null) return kNullRef;
    live_[next_] = answer;
    return next_++;
}

const Answer* FakeAccessibility::lookUp(AxRef ref, const char* use) {
    auto found = live_.find(ref);
    if (found != live_.end()) return &found->second;
    problems.push_back(std::string(use) + " of unknown or released #" + std::to_string(ref));
    return nullptr;
}

std::string FakeAccessibility::describe(AxRef ref) {
    const Answer* value = lookUp(ref, "parameter");
    if (!value) return "?";
    if (value->kind == Kind::range) return rangeText(value->a, value->b);
    return kindName(value->kind);
}

bool FakeAccessibility::isProcessTrusted() {
    queries.push_back("isProcessTrusted");
    return script_.trusted;
}

AxRef FakeAccessibility::createSystemWide() {
    queries.push_back("createSystemWide");
    if (!script_.systemWide) return kNullRef;
    systemWideRef_ = *answer(element());
    return systemWideRef_;
}

std::optional<AxRef> FakeAccessibility::copyAttributeValue(AxRef element,
                                                           std::string_view attribute) {
    queries.push_back(std::string(attribute));
    lookUp(element, "element");
    if (attribute == "AXFocusedUIElement") {
        if (element != systemWideRef_) problems.push_back("focus asked of another element");
        std::optional<AxRef> focused = answer(script_.focused);
        if (focused) focusedRef_ = *focused;
        return focused;
    }
    if (element != focusedRef_) problems.push_back(std::string(attribute) + " of another element");
    if (attribute == "AXSelectedTextRange") return answer(script_.selectedRange);
    if (attribute == "AXSelectedText") return answer(script_.selectedText);
    if (attribute == "AXPosition") return answer(script_.position);
    if (attribute == "AXSize") return answer(script_.size);
    problems.push_back("unexpected attribute " + std::string(attribute));
    return std::nullopt;
}

std::optional<AxRef> FakeAccessibility::copyParameterizedAttributeValue(AxRef element,
                                                                        std::string_view attribute,
                                                                        AxRef parameter) {
    queries.push_back(std::string(attribute) + " " + describe(parameter));
    lookUp(element, "element");
    if (element != focusedRef_) problems.push_back(std::string(attribute) + " of another element");
    if (attribute == "AXStringForRange") return answer(script_.stringForRange);
    if (attribute == "AXBoundsForRange") return answer(script_.bounds);
    problems.push_back("unexpected attribute " + std::string(attribute));
    return std::nullopt;
}

bool FakeAccessibility::isAccessibilityValue(AxRef value) {
    const Answer* held = lookUp(value, "type check");
    return held && isValueKind(held->kind);
}

int FakeAccessibility::valueType(AxRef value) {
    const Answer* held = lookUp(value, "value type");
    if (!held || !isValueKind(held->kind)) {
        problems.push_back("value type of a value that is no accessibility value");
        return 0;
    }
    switch (held->kind) {
    case Kind::point:
        return kAxPointType;
    case Kind::size:
        return kAxSizeType;
    case Kind::rect:
        return kAxRectType;
    default:
        return kAxRangeType;
    }
}

std::optional<AxPoint> FakeAccessibility::pointValue(AxRef value) {
    const Answer* held = lookUp(value, "point");
    if (!held || held->kind != Kind::point) return std::nullopt;
    return AxPoint{held->a, held->b};
}

std::optional<AxSize> FakeAccessibility::sizeValue(AxRef value) {
    const Answer* held = lookUp(value, "size");
    if (!held || held->kind != Kind::size) return std::nullopt;
    return AxSize{held->a, held->b};
}

std::optional<AxRect> FakeAccessibility::rectValue(AxRef value) {
    const Answer* held = lookUp(value, "rect");
    if (!held || held->kind != Kind::rect) return std::nullopt;
    return AxRect{held->a, held->b, held->c, held->d};
}

std::optional<AxRange> FakeAccessibility::rangeValue(AxRef value) {
    const Answer* held = lookUp(value, "range");
    if (!held || held->kind != Kind::range) return std::nullopt;
    return AxRange{static_cast<std::int64_t>(held->a), static_cast<std::int64_t>(held->b)};
}

std::optional<std::string> FakeAccessibility::stringValue(AxRef value) {
    const Answer* held = lookUp(value, "string");
    if (!held || held->kind != Kind::string) return std::nullopt;
    return held->text;
}

AxRef FakeAccessibility::createRange(AxRange created) {
    double location = static_cast<double>(created.location);
    double length = static_cast<double>(created.length);
    queries.push_back("createRange " + rangeText(location, length));
    if (script_.createRangeFails) return kNullRef;
    return *answer(range(location, length));
}

void FakeAccessibility::release(AxRef ref) {
    if (live_.erase(ref) == 0) problems.push_back("release of unknown #" + std::to_string(ref));
}
