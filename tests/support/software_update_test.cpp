#include "support/OWSoftwareUpdate.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>

#include "base/Bundle.h"
#include "base/PropertyList.h"
#include "platform/system/FileOps.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"
#include "tests/base/FakeApplication.h"
#include "tests/support/LogSandbox.h"

namespace {

namespace fileops = platform::system::fileops;
using testsupport::FakeApplication;

constexpr const char* kUpdater = "Oxbury Works Software Update.app";

// Makes a Unix socket named `name` in `folder`. A socket address holds only 108 bytes,
// less than a deep temporary folder may need, so the folder is named through a
// descriptor of it ("/proc/self/fd/<n>/<name>").
bool makeSocket(const std::string& folder, const std::string& name) {
    const int dir = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const std::string path = "/proc/self/fd/" + std::to_string(dir) + "/" + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const bool fits = dir >= 0 && fd >= 0 && path.size() < sizeof address.sun_path;
    if (fits) {
        path.copy(address.sun_path, path.size());
    }
    const bool made = fits && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    close(dir);
    return made;
}

// A private home, local domain and temporary folder; the calling bundle is a fake
// application "Caller.app" in the home.
class SoftwareUpdate : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        savedTmp_ = tmp ? std::optional<std::string>(tmp) : std::nullopt;
        setenv("TMPDIR", sandbox_.dir().makeFolder("tmp").c_str(), 1);
        OWLocalPaths::setLocalDomainRoot(sandbox_.dir().makeFolder("local"));
        OWLog::createNewLog();
        caller_ = std::make_unique<FakeApplication>(home("Caller.app"), "com.example.caller");
        base::Bundle::setOwn(base::Bundle::atPath(caller_->path()));
    }
    void TearDown() override {
        base::Bundle::setOwn(nullptr);
        OWLocalPaths::setLocalDomainRoot("");
        if (savedTmp_) {
            setenv("TMPDIR", savedTmp_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    std::string home(const std::string& name) const { return sandbox_.dir().file(name); }
    std::string installedPath() const {
        return *OWLocalPaths::applicationDirectory(false) + "/Oxbury Works/" + kUpdater;
    }
    void writeGlobalSetting(base::Value value) {
        const std::string prefs = *OWLocalPaths::prefsDirectory(true);
        fileops::createDirectories(prefs);
        base::PropertyList::writeFile(base::Dictionary{{"SUCheckAtStartup", std::move(value)}},
                                      prefs + "/com.oxburyworks.global.plist");
    }
    std::string logText() const {
        OWLog::finishWriting();
        return testsupport::readFile(sandbox_.logFile());
    }
    // Runs the start-up check to its end (the destructor waits for the thread).
    static void startUp() { OWSoftwareUpdate().awakeFromNib(); }

    testsupport::LogSandbox sandbox_;
    std::optional<std::string> savedTmp_;
    std::unique_ptr<FakeApplication> caller_;
};

TEST_F(SoftwareUpdate, StartupChecksTheCallingBundleUnlessSwitchedOff) {
    FakeApplication updater(installedPath(), "com.oxburyworks.SoftwareUpdate");
    for (base::Value off : {base::Value(false), base::Value(0)}) {
        writeGlobalSetting(off);
        startUp();
        EXPECT_FALSE(updater.hasRun());
    }
    EXPECT_EQ(logText().find("Software Update"), std::string::npos);

    // A value that is not a number does not switch the check off.
    writeGlobalSetting("NO");
    startUp();
    auto record = updater.waitForRun();
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(*record, (std::vector<std::string>{installedPath() + "/Contents/MacOS/fake",
                                                 "-checkpath", caller_->path()}));
}

TEST_F(SoftwareUpdate, WithoutSettingsTheUpdaterInsideTheBundleRunsFromAFreshCopy) {
    FakeApplication inside(caller_->path() + "/Contents/Resources/" + kUpdater,
                           "com.oxburyworks.SoftwareUpdate");
    const std::string copy = OWLocalPaths::tempDirectory() + "/" + kUpdater;
    fileops::createDirectories(copy + "/Contents/MacOS");
    sandbox_.dir().write("tmp/stale", "");
    fileops::moveItem(sandbox_.dir().file("tmp/stale"), copy + "/stale-marker");

    EXPECT_EQ(OWSoftwareUpdate::updaterPath(), copy);
    EXPECT_FALSE(fileops::exists(copy + "/stale-marker"));  // the earlier copy was replaced
    startUp();
    // The copy's script records next to the bundle it was copied from.
    auto record = inside.waitForRun();
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ((*record)[0], copy + "/Contents/MacOS/fake");
}

TEST_F(SoftwareUpdate, ManualCheckOpensTheUpdaterWithoutArguments) {
    FakeApplication updater(installedPath(), "com.oxburyworks.SoftwareUpdate");
    OWSoftwareUpdate menu;
    menu.manualUpdateCheck();
    auto record = updater.waitForRun();
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->size(), 1u);
}

TEST_F(SoftwareUpdate, MissingOrBrokenUpdatersAreLoggedAndNeverStarted) {
    startUp();
    OWSoftwareUpdate::launchSoftwareUpdate();
    std::string text = logText();
    const size_t notFound = text.find("Error: unable to find software updater");
    ASSERT_NE(notFound, std::string::npos);
    EXPECT_NE(text.find("Unable to launch Software Update - path doesn't exist", notFound),
              std::string::npos);

    // A bundle that cannot be copied (it holds a socket) yields no path at all.
    FakeApplication inside(caller_->path() + "/Contents/MacOS/" + kUpdater,
                           "com.oxburyworks.SoftwareUpdate");
    ASSERT_TRUE(makeSocket(inside.path() + "/Contents", "s"));
    EXPECT_FALSE(OWSoftwareUpdate::updaterPath().has_value());
    EXPECT_FALSE(fileops::exists(OWLocalPaths::tempDirectory() + "/" + kUpdater));

    // An installed bundle without its executable.
    FakeApplication installed(installedPath(), "com.oxburyworks.SoftwareUpdate");
    fileops::removeTree(installedPath() + "/Contents/MacOS/fake");
    startUp();
    EXPECT_NE(logText().find("Unable to launch Software Update - executable path doesn't exist"),
              std::string::npos);
}

}  // namespace
