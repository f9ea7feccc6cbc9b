#include "binding.h"

#include "json_text.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

std::optional<bool> requiredBool(const Json& object, const char* name) {
    auto member = object.find(name);
    if (member == object.end() || !member->is_boolean()) return std::nullopt;
    return member->get<bool>();
}

// Only JSON integers that fit in signed 64 bits; 1.5 and 2^63 are not key codes.
bool readKeyCode(const Json& object, std::optional<int64_t>& keyCode) {
    auto member = object.find("keyCode");
    if (member == object.end() || member->is_null()) {
        keyCode.reset();
        return true;
    }
    if (!member->is_number_integer()) return false;
    if (member->is_number_unsigned()) {
        auto value = member->get<uint64_t>();
        if (value > static_cast<uint64_t>(INT64_MAX)) return false;
        keyCode = static_cast<int64_t>(value);
        return true;
    }
    keyCode = member->get<int64_t>();
    return true;
}

std::optional<Binding> readBinding(const Json& object) {
    if (!object.is_object()) return std::nullopt;
    auto fn = requiredBool(object, "fn");
    auto control = requiredBool(object, "control");
    auto option = requiredBool(object, "option");
    auto shift = requiredBool(object, "shift");
    auto command = requiredBool(object, "command");
    auto label = object.find("keyLabel");
    if (!fn || !control || !option || !shift || !command) return std::nullopt;
    if (label == object.end() || !label->is_string()) return std::nullopt;
    Binding binding{
        *fn, *control, *option, *shift, *command, std::nullopt, label->get<std::string>()};
    if (!readKeyCode(object, binding.keyCode)) return std::nullopt;
    return binding;
}

} // namespace

BindingMap decodeBindings(std::string_view json) noexcept {
    try {
        // No exceptions from the parser itself; a discarded value means invalid JSON.
        Json document = Json::parse(json, nullptr, false);
        if (document.is_discarded() || !document.is_object()) return {};
        BindingMap decoded;
        for (const auto& [name, value] : document.items()) {
            auto binding = readBinding(value);
            if (!binding) return {};
            decoded.emplace(name, std::move(*binding));
        }
        return decoded;
    } catch (...) {
        // Allocation failure or a library fault: undecodable bindings count as none.
        return {};
    }
}

std::string encodeBinding(const Binding& binding) {
    auto flag = [](bool value) { return value ? "true" : "false"; };
    std::string json = "{\"fn\":";
    json += flag(binding.fn);
    json += ",\"control\":";
    json += flag(binding.control);
    json += ",\"option\":";
    json += flag(binding.option);
    json += ",\"shift\":";
    json += flag(binding.shift);
    json += ",\"command\":";
    json += flag(binding.command);
    if (binding.keyCode) {
        json += ",\"keyCode\":";
        json += std::to_string(*binding.keyCode);
    }
    json += ",\"keyLabel\":";
    appendJsonString(json, binding.keyLabel);
    json += '}';
    return json;
}
