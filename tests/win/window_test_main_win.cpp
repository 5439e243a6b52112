// The Win32 window's tests: the common controls as the program starts them.
#include <gtest/gtest.h>

#include "app/win32/main_window.h"

int main(int argc, char** argv) {
    corvane::win32::InitControlsLibrary();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
