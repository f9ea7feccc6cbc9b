// The card for runs without a display: every call is accepted and nothing is shown.
#include "status_card.h"

namespace {

class HeadlessCard final : public StatusCard {
  public:
    void show() override {}
    void setStatus(std::string, std::string) override {}
};

} // namespace

std::unique_ptr<StatusCard> makeHeadlessCard() {
    return std::make_unique<HeadlessCard>();
}
