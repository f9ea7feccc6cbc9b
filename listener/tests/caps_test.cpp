// restoreCaps over a fake lock state: every failure folds into false.

#include "fakes.h"
#include "recognizer.h"

namespace {

struct CapsCase {
    const char* name;
    bool lockedBefore;
    bool readFails;
    bool setFails;
    bool setIgnored;
    bool requested;
    bool result;
    std::vector<std::string> calls;
};

const std::vector<CapsCase> kCases = {
    {"AlreadyThereNeedsNoSet", false, false, false, false, false, true, {"get"}},
    {"SetThenConfirm", true, false, false, false, false, true, {"get", "set:off", "get"}},
    {"SetOnThenConfirm", false, false, false, false, true, true, {"get", "set:on", "get"}},
    {"FailedSetGivesFalse", true, false, true, false, false, false, {"get", "set:off"}},
    {"UnconfirmedSetGivesFalse", true, false, false, true, false, false, {"get", "set:off", "get"}},
    {"FailedReadStillSetsButCannotConfirm",
     true,
     true,
     false,
     false,
     false,
     false,
     {"get", "set:off", "get"}},
};

class RestoreCaps : public ListenerTest, public ::testing::WithParamInterface<CapsCase> {};

TEST_P(RestoreCaps, ResultAndCalls) {
    const CapsCase& c = GetParam();
    lock.locked = c.lockedBefore;
    lock.readFails = c.readFails;
    lock.setFails = c.setFails;
    lock.setIgnored = c.setIgnored;
    EXPECT_EQ(restoreCaps(c.requested), c.result);
    EXPECT_EQ(lock.calls, c.calls);
}

INSTANTIATE_TEST_SUITE_P(Caps, RestoreCaps, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

using RestoreCapsModes = ListenerTest;

TEST_F(RestoreCapsModes, NoConnectionFailsWithoutPlatformCalls) {
    listener.hidConnection = nullptr;
    EXPECT_FALSE(restoreCaps(true));
    EXPECT_FALSE(restoreCaps(false));
}

TEST_F(RestoreCapsModes, SelfTestRecordsInsteadOfRestoring) {
    listener.selfTesting = true;
    EXPECT_TRUE(restoreCaps(false));
    EXPECT_TRUE(restoreCaps(true));
    EXPECT_EQ(listener.restoredStates, (std::vector<bool>{false, true}));
    EXPECT_TRUE(lock.calls.empty());
}

} // namespace
