// Builds without a platform card: the assistant falls back to the headless card.
#include "status_card.h"

std::unique_ptr<StatusCard> makePlatformCard() {
    return nullptr;
}
