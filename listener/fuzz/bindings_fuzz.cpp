// libFuzzer target: the bindings reader never crashes, and whatever it accepts survives a
// round trip through the record-line writer.

#include "binding.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const BindingMap decoded = decodeBindings(text);
    for (const auto& [name, binding] : decoded) {
        const BindingMap again = decodeBindings("{\"x\":" + encodeBinding(binding) + "}");
        if (again.size() != 1 || again.begin()->second != binding) __builtin_trap();
    }
    return 0;
}
