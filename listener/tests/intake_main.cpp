// Entry point of the end-to-end test programs that drive the built listener: the listener's
// path comes first on the command line, GoogleTest's options after it.
#include "intake_x_session.h"

#include <cstdio>
#include <gtest/gtest.h>

std::string listenerPath;

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PATH-TO-shortcut-listener [gtest options]\n", argv[0]);
        return 2;
    }
    listenerPath = argv[1];
    return RUN_ALL_TESTS();
}
