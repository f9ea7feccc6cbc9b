#include "focus_choice.h"

#include <string_view>
#include <unordered_map>

namespace {

std::vector<std::size_t> appsOfProcess(const std::vector<AppCandidate>& apps,
                                       std::optional<std::uint32_t> pid) {
    std::vector<std::size_t> matches;
    if (!pid) return matches;
    for (std::size_t i = 0; i < apps.size(); ++i) {
        if (apps[i].pid == pid) matches.push_back(i);
    }
    return matches;
}

std::optional<std::size_t> firstWithActiveFrame(const std::vector<AppCandidate>& apps,
                                                const std::vector<std::size_t>& among) {
    for (std::size_t i : among) {
        if (apps[i].hasActiveFrame.value_or(false)) return i;
    }
    return std::nullopt;
}

std::vector<std::size_t> allOf(const std::vector<AppCandidate>& apps) {
    std::vector<std::size_t> all(apps.size());
    for (std::size_t i = 0; i < apps.size(); ++i)
        all[i] = i;
    return all;
}

} // namespace

std::optional<std::size_t> chooseApplication(const std::vector<AppCandidate>& apps,
                                             std::optional<std::uint32_t> activeWindowPid) {
    std::vector<std::size_t> matches = appsOfProcess(apps, activeWindowPid);
    if (matches.size() == 1) return matches.front();
    if (!matches.empty()) return firstWithActiveFrame(apps, matches).value_or(matches.front());
    return firstWithActiveFrame(apps, allOf(apps));
}

std::vector<std::size_t> appsToAskForFrames(const std::vector<AppCandidate>& apps,
                                            std::optional<std::uint32_t> activeWindowPid) {
    std::vector<std::size_t> matches = appsOfProcess(apps, activeWindowPid);
    if (matches.size() == 1) return {};
    return matches.empty() ? allOf(apps) : matches;
}

std::optional<FocusCandidate> chooseFocused(const std::vector<FocusCandidate>& candidates) {
    const FocusCandidate* best = nullptr;
    for (const FocusCandidate& candidate : candidates) {
        if (!best || (candidate.hasText && !best->hasText) ||
            (candidate.hasText == best->hasText && candidate.depth > best->depth)) {
            best = &candidate;
        }
    }
    if (!best) return std::nullopt;
    return *best;
}

namespace {

// Each cached object's depth below the root as an ancestor of the focus: none when it is
// hidden or its parents do not lead to the root (a missing parent, a cycle). Each object is
// climbed through once, so the cost is linear in the cache, however its parents loop.
class AncestorDepths {
  public:
    AncestorDepths(const std::vector<CachedObject>& cache, std::string_view rootPath)
        : cache_(cache), root_(rootPath), memo_(cache.size(), kUnknown) {
        for (std::size_t i = 0; i < cache.size(); ++i)
            byPath_.emplace(cache[i].path, i);
    }

    // The depth of an object whose parent is `parent`; absent when it does not lie below.
    std::optional<int> depthWithParent(std::string_view parent) {
        if (parent == root_) return 1;
        auto found = byPath_.find(parent);
        if (found == byPath_.end()) return std::nullopt;
        const int above = resolve(found->second);
        if (above == kNone) return std::nullopt;
        return above + 1;
    }

  private:
    static constexpr int kUnknown = -3, kVisiting = -2, kNone = -1;

    int resolve(std::size_t index) {
        std::vector<std::size_t> chain;
        int value = kNone; // the depth of what the last object of the chain hangs from
        bool lastHidden = false;
        for (std::size_t at = index;;) {
            if (memo_[at] != kUnknown) {
                value = memo_[at] == kVisiting ? kNone : memo_[at];
                break;
            }
            memo_[at] = kVisiting;
            chain.push_back(at);
            const CachedObject& object = cache_[at];
            if (!mayHoldFocusBelow(object.states)) {
                lastHidden = true;
                break;
            }
            if (object.parent == root_) {
                value = 0;
                break;
            }
            auto found = byPath_.find(object.parent);
            if (found == byPath_.end()) break;
            at = found->second;
        }
        if (lastHidden) value = kNone;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            value = value == kNone ? kNone : value + 1;
            memo_[*it] = value;
        }
        return memo_[index];
    }

    const std::vector<CachedObject>& cache_;
    std::string_view root_;
    std::unordered_map<std::string_view, std::size_t> byPath_;
    std::vector<int> memo_;
};

} // namespace

std::vector<FocusCandidate> focusedInCache(const std::vector<CachedObject>& cache,
                                           const std::string& bus, const std::string& rootPath) {
    AncestorDepths depths(cache, rootPath);
    std::vector<FocusCandidate> found;
    for (std::size_t i = 0; i < cache.size(); ++i) {
        const CachedObject& object = cache[i];
        if (!hasState(object.states, atspi::kStateFocused) ||
            hasState(object.states, atspi::kStateDefunct))
            continue;
        if (std::optional<int> depth = depths.depthWithParent(object.parent))
            found.push_back({{bus, object.path}, *depth, object.hasText});
    }
    return found;
}
