#include "grabs_x11.h"

#include <X11/Xproto.h>

#include <algorithm>

namespace {

// The serial numbers of refused grab requests, noted by the error handler installed around
// the grab requests only.
std::vector<unsigned long> refusedSerials;
int noteRefusedGrab(Display*, XErrorEvent* error) {
    if (error->request_code == X_GrabKey) refusedSerials.push_back(error->serial);
    return 0;
}

// Refused grabs are asked for again after these waits, doubling up to the longest.
constexpr std::chrono::milliseconds kFirstGrabRetry{50};
constexpr std::chrono::milliseconds kLongestGrabRetry{500};

const char* const kRefusedObtained = "refused key grabs obtained; those keys are withheld again\n";

} // namespace

std::vector<KeyGrab> keyGrabsFor(const std::vector<GrabRequest>& plan, const XKeyTracker& keys,
                                 const XModifierMasks& masks) {
    std::vector<KeyGrab> grabs;
    for (const GrabRequest& request : plan) {
        for (unsigned code = 0; code < kXKeyCodeCount; ++code) {
            const XKeyInfo& info = keys.key(code);
            if (info.fnKey || info.macKey != request.macKey) continue;
            if (request.anyModifiers) {
                grabs.push_back(KeyGrab{code, AnyModifier});
                continue;
            }
            for (const unsigned modifiers : grabVariants(request.modifiers, masks))
                grabs.push_back(KeyGrab{code, modifiers});
        }
    }
    return grabs;
}

std::optional<std::string> PassiveGrabs::replace(const std::vector<KeyGrab>& grabs) {
    // The server sends a keymap change when another keyboard types: a grab let go here even
    // for a moment would let that key slip through.
    const Window root = DefaultRootWindow(display_);
    for (const KeyGrab& old : grabs_) {
        if (std::find(grabs.begin(), grabs.end(), old) == grabs.end())
            XUngrabKey(display_, static_cast<int>(old.code), old.modifiers, root);
    }
    grabs_ = grabs;
    const bool refusedBefore = !refused_.empty();
    refused_ = tryGrabs(grabs);
    retryWait_ = kFirstGrabRetry;
    nextRetry_ = std::chrono::steady_clock::now() + retryWait_;
    if (!refused_.empty() && !refusedBefore) {
        return "another X client holds key grabs; " + std::to_string(refused_.size()) +
               " grabs refused, those keys are watched but not withheld until they are free\n";
    }
    if (refused_.empty() && refusedBefore) return std::string(kRefusedObtained);
    return std::nullopt;
}

// Asks for each grab; gives those that another client holds.
std::vector<KeyGrab> PassiveGrabs::tryGrabs(const std::vector<KeyGrab>& grabs) {
    const Window root = DefaultRootWindow(display_);
    XSync(display_, False);
    refusedSerials.clear();
    const XErrorHandler previous = XSetErrorHandler(noteRefusedGrab);
    std::vector<unsigned long> serials;
    serials.reserve(grabs.size());
    for (const KeyGrab& grab : grabs) {
        serials.push_back(NextRequest(display_));
        XGrabKey(display_, static_cast<int>(grab.code), grab.modifiers, root, False, GrabModeAsync,
                 GrabModeSync);
    }
    XSync(display_, False);
    XSetErrorHandler(previous);
    std::vector<KeyGrab> refused;
    for (size_t index = 0; index < grabs.size(); ++index) {
        if (std::find(refusedSerials.begin(), refusedSerials.end(), serials[index]) !=
            refusedSerials.end()) {
            refused.push_back(grabs[index]);
        }
    }
    return refused;
}

// Another client may let go of its grabs at any time (a listener that a restarting host left
// behind ends); until then, refused grabs are asked for again, less often as time goes by.
std::optional<std::string> PassiveGrabs::retryRefused() {
    if (refused_.empty() || std::chrono::steady_clock::now() < nextRetry_) return std::nullopt;
    refused_ = tryGrabs(refused_);
    if (refused_.empty()) return std::string(kRefusedObtained);
    retryWait_ = std::min(retryWait_ * 2, kLongestGrabRetry);
    nextRetry_ = std::chrono::steady_clock::now() + retryWait_;
    return std::nullopt;
}

int PassiveGrabs::msUntilRetry() const {
    if (refused_.empty()) return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(nextRetry_ - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}
