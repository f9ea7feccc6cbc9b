// The XKB lock-state layer against a real X server (run under testing/with-display).

#include "lock_state.h"
#include "recognizer.h"
#include "state.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

class XkbLockState : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
        connection = openLockState();
        ASSERT_NE(connection, nullptr) << "the display has no XKB";
        listener = ListenerState{};
        listener.hidConnection = connection.get();
    }
    void TearDown() override {
        if (connection) connection->setCapsLocked(false);
        listener = ListenerState{};
    }
    std::unique_ptr<LockState> connection;
};

TEST_F(XkbLockState, SetsReadsAndReportsSessionFlags) {
    ASSERT_TRUE(connection->setCapsLocked(true));
    EXPECT_EQ(connection->capsLocked(), true);
    EXPECT_EQ(sessionFlags() & 0x10000, 0x10000u);
    ASSERT_TRUE(connection->setCapsLocked(false));
    EXPECT_EQ(connection->capsLocked(), false);
    EXPECT_EQ(sessionFlags() & 0x10000, 0u);
}

TEST_F(XkbLockState, RestorePutsCapsLockBackAndConfirms) {
    ASSERT_TRUE(connection->setCapsLocked(true));
    EXPECT_TRUE(restoreCaps(false));
    EXPECT_EQ(openLockState()->capsLocked(), false) << "seen from a second connection";
    EXPECT_TRUE(restoreCaps(true));
    EXPECT_EQ(openLockState()->capsLocked(), true);
}

TEST(XkbWithoutDisplay, NoConnectionAndNoFlags) {
    const char* saved = std::getenv("DISPLAY");
    const std::string display = saved ? saved : "";
    setenv("DISPLAY", ":64999", 1);
    EXPECT_EQ(openLockState(), nullptr);
    EXPECT_EQ(sessionFlags(), 0u);
    if (saved)
        setenv("DISPLAY", display.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

} // namespace
