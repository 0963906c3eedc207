// The entry point of the hub's window tests: the hub's own start-up around GoogleTest.
// The test process stands in for the hub's window program: its bundle is the built hub
// bundle (Info.plist, client id, resources), its files live in a private home, the
// callback scheme is registered before the application object exists, and the web
// engine runs on the offscreen platform (without its sandbox when run as root, which
// the engine refuses otherwise).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "apps/hub/window/HubApplication.h"
#include "base/Bundle.h"
#include "platform/ui/qt/DesktopApplication.h"
#include "tests/helpers/TempDir.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (::geteuid() == 0) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    }
    testsupport::TempDir home;
    const std::string runtime = home.makeFolder("runtime");
    ::chmod(runtime.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
    ::setenv("HOME", home.path().c_str(), 1);
    for (const char* name :
         {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
        ::setenv(name, home.makeFolder(name).c_str(), 1);
    }
    base::Bundle::setOwn(base::Bundle::atPath(QV_HUB_BUNDLE));
    hub::prepareWebEngine();
    int result;
    {
        platform::ui::qt::DesktopApplication app(argc, argv);
        result = RUN_ALL_TESTS();
        hub::tearDownWebEngine();
    }
    return result;
}
