#pragma once
// The listener state: one value holding every variable the recognizers share, with one
// module-level instance that only the main thread touches.

#include "binding.h"
#include "event_codes.h"
#include "lock_state.h"
#include "streams.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Hashes std::string and std::string_view alike, so look-ups need no allocation. FNV-1a:
// action names are short, and this runs for every binding on every key event.
struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const noexcept {
        uint64_t hash = 14695981039346656037ull;
        for (unsigned char c : name)
            hash = (hash ^ c) * 1099511628211ull;
        return static_cast<size_t>(hash);
    }
};
struct NameEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

// The custom bindings that have triggered and not been disarmed since. A name keeps its entry
// once it has been armed, so arming and disarming it again never reach the heap.
class ArmedNames {
  public:
    bool contains(std::string_view name) const {
        auto entry = names_.find(name);
        return entry != names_.end() && entry->second;
    }
    // False when the name was armed already.
    bool arm(const std::string& name) {
        auto entry = names_.find(std::string_view(name));
        if (entry == names_.end()) entry = names_.emplace(name, false).first;
        if (entry->second) return false;
        entry->second = true;
        ++armed_;
        return true;
    }
    void disarm(std::string_view name) {
        if (armed_ == 0) return;
        if (auto entry = names_.find(name); entry != names_.end() && entry->second) {
            entry->second = false;
            --armed_;
        }
    }
    bool empty() const noexcept { return armed_ == 0; }
    // Forgets every name, for a new set of bindings.
    void clear() noexcept {
        names_.clear();
        armed_ = 0;
    }

  private:
    std::unordered_map<std::string, bool, NameHash, NameEqual> names_;
    size_t armed_ = 0;
};

// A fresh value is the state before start-up; start-up and tests begin by assigning one.
struct ListenerState {
    int64_t globeKey = kKeyFn;
    int64_t capsKey = kKeyCapsLock;
    bool optionAlias = false;
    // The macOS event tap once it is created (a CFMachPortRef, opaque here); null otherwise.
    void* activeTap = nullptr;
    bool selfTesting = false;
    std::vector<std::string> observed;
    std::vector<bool> restoredStates;
    // The Caps Lock lock-state connection; null means none, and every restore then fails.
    LockState* hidConnection = nullptr;
    bool capsLock = false;
    bool recording = false;
    BindingMap bindings;
    ArmedNames customArmed;
    int64_t recordingWeight = 0;
    bool globeDown = false;
    bool fnCmdArmed = false;
    bool translateArmed = false;
    // Where protocol lines and diagnostics go; never null.
    Streams* output = &processStreams();
};

extern ListenerState listener;
