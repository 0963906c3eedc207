// The entry point of every desktop test executable: a desktop program's start-up on the
// offscreen platform, with the test thread as the main thread. Run through
// tests/helpers/desktop-run it also has a private runtime folder and session bus; run
// directly it makes the runtime folder itself.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

#include "platform/ui/qt/DesktopApplication.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string runtime;
    if (!::getenv("XDG_RUNTIME_DIR")) {
        std::string pattern = "/tmp/qv-desktop-XXXXXX";
        if (::mkdtemp(pattern.data())) {
            runtime = pattern;
            ::chmod(runtime.c_str(), 0700);
            ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        }
    }
    int result;
    {
        platform::ui::qt::DesktopApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    if (!runtime.empty()) {
        ::rmdir(runtime.c_str());
    }
    return result;
}
