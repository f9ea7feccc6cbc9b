#pragma once
#include <memory>
#include <string>
// The status card. show() runs on the main thread before the install task starts.
// setStatus() may be called from any thread: it hands both texts to the main loop without
// waiting, and the updates apply in call order.
class StatusCard {
  public:
    virtual ~StatusCard() = default;
    virtual void show() = 0;
    virtual void setStatus(std::string headline, std::string detail) = 0;
};
// A card that shows nothing (no display, or headless builds).
std::unique_ptr<StatusCard> makeHeadlessCard();
// The platform's card, or null when no display can be had. Called on the main thread after the
// main loop's context exists, before show().
std::unique_ptr<StatusCard> makePlatformCard();
