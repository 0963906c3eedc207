// The default entry point of every test executable. It is weak so that a richer
// main (one that also registers the main thread, say) can replace it by being linked in.
#include <gtest/gtest.h>

__attribute__((weak)) int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
