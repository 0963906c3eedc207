// The entry point of the hub's window tests: the hub's own start-up around GoogleTest.
// The test process stands in for the hub's window program: its bundle is the built hub
// bundle (Info.plist, resources; the client id in mixed case), its files live in a private home,
// the callback scheme is registered before the application object exists, and the web engine runs
// on the offscreen platform (without its sandbox when run as root, which the engine refuses
// otherwise).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>

#include "apps/hub/window/HubApplication.h"
#include "base/Bundle.h"
#include "client/OWQuorvaneAuthController.h"
#include "platform/ui/qt/DesktopApplication.h"
#include "tests/helpers/TempDir.h"

namespace {

namespace fs = std::filesystem;

// The built hub bundle with its client id in mixed case. Schemes are case-insensitive
// and the engine keeps the callback's in lower case, so every link the tests make
// through the engine shows that an id configured with capitals links.
std::string mixedCaseBundle(const testsupport::TempDir& home) {
    const std::string built = QV_HUB_BUNDLE;
    const std::string bundle = home.makeFolder("Apps/Quorvane Plugin Hub.app");
    fs::create_directories(bundle + "/Contents");
    fs::copy(built + "/Contents/Resources", bundle + "/Contents/Resources",
             fs::copy_options::recursive);
    const auto builtBundle = base::Bundle::atPath(built);
    const auto* id =
        builtBundle->objectForInfoDictionaryKey(OWQuorvaneAuthController::kAppIDInfoKey).string();
    std::string mixed = id ? *id : "";
    for (size_t i = 0; i < mixed.size(); i += 2) {
        mixed[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(mixed[i])));
    }
    std::string info = testsupport::readFile(built + "/Contents/Info.plist");
    const std::string from = "<string>" + (id ? *id : "") + "</string>";
    info.replace(info.find(from), from.size(), "<string>" + mixed + "</string>");
    std::ofstream(bundle + "/Contents/Info.plist") << info;
    return bundle;
}

}  // namespace

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
    base::Bundle::setOwn(base::Bundle::atPath(mixedCaseBundle(home)));
    hub::prepareWebEngine();
    int result;
    {
        platform::ui::qt::DesktopApplication app(argc, argv);
        result = RUN_ALL_TESTS();
        hub::tearDownWebEngine();
    }
    return result;
}
