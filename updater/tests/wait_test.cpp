// The wait for the host application on a fake wall clock: 0.1 s probes, the 40 s deadline
// tested before each sleep, and the final probe that decides.
#include "install_run.h"

#include <gtest/gtest.h>

namespace {

using namespace install_run;

const std::string cancelled = "Orlavo did not quit; update cancelled.\n";

class Wait : public InstallRun {};

class NoWait : public Wait, public ::testing::WithParamInterface<const char*> {};

TEST_P(NoWait, ParentIDZeroOrBelowSkipsEveryProbe) {
    operations.aliveProbes = -1;
    launch(GetParam());
    EXPECT_EQ(operations.probes, 0);
    EXPECT_TRUE(operations.sleeps.empty());
    EXPECT_EQ(logLine(), installedLine + "\n");
}

INSTANTIATE_TEST_SUITE_P(Ids, NoWait, ::testing::Values("0", "-3", "-2147483648", "junk"));

struct WaitCase {
    const char* name;
    int aliveProbes; // negative: the host never quits
    int probes;      // the first, one after each sleep, and the final one
    int sleeps;      // each of 0.1 s
    std::string log;
};
void PrintTo(const WaitCase& c, std::ostream* out) {
    *out << c.name;
}

class HostWait : public Wait, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(HostWait, ProbesEveryTenthOfASecondUntilTheDeadline) {
    const WaitCase& c = GetParam();
    operations.aliveProbes = c.aliveProbes;
    const int64_t start = operations.clockMillis;
    launch("4242");
    EXPECT_EQ(operations.probes, c.probes);
    EXPECT_EQ(operations.sleeps, std::vector<double>(static_cast<std::size_t>(c.sleeps), 0.1));
    EXPECT_EQ(operations.clockMillis - start, 100 * c.sleeps);
    EXPECT_EQ(logLine(), c.log);
    if (c.log == cancelled) {
        EXPECT_EQ(beside(), untouched);
        EXPECT_FALSE(copyStarted());
        EXPECT_EQ(screen.terminations, (std::vector<double>{6.0}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, HostWait,
    ::testing::Values(WaitCase{"AlreadyGone", 0, 2, 0, installedLine + "\n"},
                      WaitCase{"QuitsAfterThreeProbes", 3, 5, 3, installedLine + "\n"},
                      // The 400th sleep ends at the deadline: the final probe decides, and
                      // the previous copy is named after the second the wait ended in.
                      WaitCase{"QuitsJustBeforeTheFinalProbe", 401, 402, 400,
                               "Update installed; previous app preserved at " + target +
                                   ".update-previous-1700000040\n"},
                      WaitCase{"NeverQuits", -1, 402, 400, cancelled}),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

// The deadline is read from the wall clock: a jump forward ends the wait early.
TEST_F(Wait, WallClockJumpPastTheDeadlineEndsTheWait) {
    operations.aliveProbes = -1;
    operations.jumpAtFirstSleep = 60'000;
    launch("4242");
    EXPECT_EQ(operations.sleeps.size(), 1u);
    EXPECT_EQ(operations.probes, 3);
    EXPECT_EQ(logLine(), cancelled);
}

} // namespace
