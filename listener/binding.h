#pragma once
// A custom shortcut and its JSON forms.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

struct Binding {
    bool fn = false;
    bool control = false;
    bool option = false;
    bool shift = false;
    bool command = false;
    std::optional<int64_t> keyCode;
    std::string keyLabel;

    friend bool operator==(const Binding&, const Binding&) = default;
};

// Action name to binding. Iteration order carries no meaning.
using BindingMap = std::unordered_map<std::string, Binding>;

// Decodes a bindings document. Any failure gives an empty map; never throws.
BindingMap decodeBindings(std::string_view json) noexcept;

// The compact JSON form: members in field order, keyCode left out when absent.
std::string encodeBinding(const Binding& binding);
