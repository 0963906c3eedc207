// The entry point of every test executable: the thread that runs the tests is the
// main thread, as it is in the programs.
#include <gtest/gtest.h>

#include "base/RunLoop.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    base::RunLoop::setMainThread();
    return RUN_ALL_TESTS();
}
