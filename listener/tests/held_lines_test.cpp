// Lines held while the events that made them are handled reach the host afterwards, in order,
// and diagnostics never wait.
#include "fakes.h"
#include "held_lines.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

TEST(HeldLines, PassLinesOnInOrderAtTheReleaseOnly) {
    RecordingStreams host;
    HeldLines lines(host);
    lines.out("before\n");
    lines.hold();
    lines.out("speak\n");
    lines.err("tap re-enabled\n");
    lines.out("translate\n");
    EXPECT_EQ(host.outLines, Lines{"before\n"});
    EXPECT_EQ(host.errLines, Lines{"tap re-enabled\n"});
    EXPECT_TRUE(lines.holdsLines());
    lines.release();
    EXPECT_EQ(host.outLines, (Lines{"before\n", "speak\n", "translate\n"}));
    EXPECT_FALSE(lines.holdsLines());
    lines.out("after\n");
    EXPECT_EQ(host.outLines.back(), "after\n");
}

TEST(HeldLines, AReleaseWithNothingHeldWritesNothing) {
    RecordingStreams host;
    HeldLines lines(host);
    lines.hold();
    lines.release();
    lines.release();
    EXPECT_TRUE(host.outLines.empty());
}

} // namespace
