#pragma once
// A custom shortcut and its JSON forms.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

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
using BindingMap = std::map<std::string, Binding, std::less<>>;

// Decodes a bindings document. Any failure gives an empty map; never throws.
BindingMap decodeBindings(std::string_view json) noexcept;

// The compact JSON form: members in field order, keyCode left out when absent.
std::string encodeBinding(const Binding& binding);
