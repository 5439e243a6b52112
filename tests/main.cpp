// Runs the engine's tests: plain GoogleTest, no toolkit.
#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    // A peer that went away must show as an error of the write, not end the test run.
    std::signal(SIGPIPE, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
