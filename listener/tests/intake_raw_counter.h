#pragma once
// A key-press counter apart from the listener, for the end-to-end cases.

#include "intake_x_session.h"

// An observer of its own, apart from the listener: counts the raw key presses that the server
// reports (XInput 2, every device), to tell events the server never had from events lost later.
class RawPressCounter {
  public:
    RawPressCounter();
    ~RawPressCounter();
    RawPressCounter(const RawPressCounter&) = delete;
    RawPressCounter& operator=(const RawPressCounter&) = delete;

    bool ok() const { return display_ != nullptr; }
    // The presses of `keyCode` seen up to the first press of `sentinel`, or none when that does
    // not come in time.
    std::optional<int> pressesUntil(unsigned keyCode, unsigned sentinel,
                                    std::chrono::milliseconds timeout = 30s);

  private:
    _XDisplay* display_ = nullptr;
    int opcode_ = 0;
};
