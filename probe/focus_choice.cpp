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

// The depth of the object at `index` below `rootPath`, absent when its parents do not lead
// there through visible objects (a cycle or a missing parent ends the climb too).
std::optional<int> depthBelow(const std::vector<CachedObject>& cache,
                              const std::unordered_map<std::string_view, std::size_t>& byPath,
                              std::size_t index, std::string_view rootPath) {
    int depth = 1;
    std::string_view parent = cache[index].parent;
    for (std::size_t climbed = 0; climbed <= cache.size(); ++climbed, ++depth) {
        if (parent == rootPath) return depth;
        auto found = byPath.find(parent);
        if (found == byPath.end()) return std::nullopt;
        const CachedObject& ancestor = cache[found->second];
        if (!mayHoldFocusBelow(ancestor.states)) return std::nullopt;
        parent = ancestor.parent;
    }
    return std::nullopt;
}

} // namespace

std::vector<FocusCandidate> focusedInCache(const std::vector<CachedObject>& cache,
                                           const std::string& bus, const std::string& rootPath) {
    std::unordered_map<std::string_view, std::size_t> byPath;
    for (std::size_t i = 0; i < cache.size(); ++i)
        byPath.emplace(cache[i].path, i);
    std::vector<FocusCandidate> found;
    for (std::size_t i = 0; i < cache.size(); ++i) {
        const CachedObject& object = cache[i];
        if (!hasState(object.states, atspi::kStateFocused) ||
            hasState(object.states, atspi::kStateDefunct))
            continue;
        if (std::optional<int> depth = depthBelow(cache, byPath, i, rootPath))
            found.push_back({{bus, object.path}, *depth, object.hasText});
    }
    return found;
}
