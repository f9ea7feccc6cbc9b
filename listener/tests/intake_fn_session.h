#pragma once
// The base of the listener's tests on a private X server: before each test key code 200 is
// mapped to XF86Fn and Caps Lock is off; after it, every key the test pressed is released.

#include "intake_x_session.h"

#include <gtest/gtest.h>

class FnSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!session.ok())
            GTEST_SKIP() << "no X display with XTest; run under testing/with-display";
        ASSERT_TRUE(session.mapToFn(xkey::fn));
        session.setCapsLocked(false);
    }

    void TearDown() override { session.releaseAll(); }

    XSession session;
};
