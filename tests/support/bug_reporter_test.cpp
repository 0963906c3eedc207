#include "support/OWBugReporter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Bundle.h"
#include "base/PropertyList.h"
#include "base/UserDefaults.h"
#include "platform/system/FileOps.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"
#include "tests/base/FakeApplication.h"
#include "tests/helpers/MainThread.h"
#include "tests/support/LogSandbox.h"

namespace {

namespace fileops = platform::system::fileops;
using testsupport::FakeApplication;

struct CrashDelegate : OWBugReporterDelegate {
    void applicationDidCrashWithLog(const std::string& path) override {
        EXPECT_TRUE(base::RunLoop::isMainThread());
        logs.push_back(path);
    }
    std::vector<std::string> logs;
};

// The calling bundle is a fake "Demo.app"; dates live in "<home>/dates.plist".
class BugReporter : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        OWLocalPaths::setLocalDomainRoot(sandbox_.dir().makeFolder("local"));
        OWLog::createNewLog();
        caller_ =
            std::make_unique<FakeApplication>(sandbox_.dir().file("Demo.app"), "com.example.demo");
        base::Bundle::setOwn(base::Bundle::atPath(caller_->path()));
        base::UserDefaults::setPreferencesFolder(sandbox_.dir().makeFolder("defaults"));
    }
    void TearDown() override {
        base::UserDefaults::setPreferencesFolder(std::nullopt);
        base::Bundle::setOwn(nullptr);
        OWLocalPaths::setLocalDomainRoot("");
        MainThreadTest::TearDown();
    }

    void writeDates(std::optional<double> launch, std::optional<double> exit) {
        base::Dictionary dates;
        if (launch) {
            dates.set("launch", base::Date{*launch});
        }
        if (exit) {
            dates.set("exit", base::Date{*exit});
        }
        base::PropertyList::writeFile(base::Value(dates), plist_);
    }
    // A crash log in the user's (or local) Logs folder with the given modification time.
    std::string crashLog(const std::string& folder, const std::string& name, double modified,
                         bool user = true) {
        const std::string dir = *OWLocalPaths::logDirectory(user) + "/" + folder;
        fileops::createDirectories(dir);
        const std::string path = dir + "/" + name;
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::close(fd);
        fileops::setModificationTime(path, modified);
        return path;
    }
    void writeGlobalSetting(base::Value value) {
        const std::string prefs = *OWLocalPaths::prefsDirectory(true);
        fileops::createDirectories(prefs);
        base::PropertyList::writeFile(
            base::Dictionary{{"disable-crash-reporter", std::move(value)}},
            prefs + "/com.oxburyworks.global.plist");
    }
    std::string logText() const {
        OWLog::finishWriting();
        return testsupport::readFile(sandbox_.logFile());
    }
    std::optional<std::string> check(const std::optional<std::string>& name = std::nullopt) {
        return OWBugReporter::checkForCrashes(name, plist_);
    }

    testsupport::LogSandbox sandbox_;
    std::unique_ptr<FakeApplication> caller_;
    const std::string plist_ = sandbox_.dir().file("dates.plist");
    static constexpr double kLaunch = 1'700'000'000;
};

TEST_F(BugReporter, CleanRunsAndMissingDatesFindNoCrash) {
    EXPECT_FALSE(check().has_value());  // no file, no launch date
    crashLog("CrashReporter", "Demo_2026.crash", kLaunch + 60);
    writeDates(std::nullopt, kLaunch);
    EXPECT_FALSE(check().has_value());
    writeDates(kLaunch, kLaunch + 1);  // clean exit: the crash log is not even looked at
    EXPECT_FALSE(check().has_value());
    writeDates(kLaunch, kLaunch);
    EXPECT_FALSE(check().has_value());
    writeDates(kLaunch + 120, std::nullopt);  // the only crash log predates the launch
    EXPECT_FALSE(check().has_value());
    EXPECT_EQ(logText().find("Application crashed on last launch"), std::string::npos);
}

TEST_F(BugReporter, TakesTheNewestMatchingLogOfTheFirstFolderThatHasOne) {
    writeDates(kLaunch, kLaunch - 10);
    // Older than the launch: the user folders are passed over.
    crashLog("CrashReporter", "Demo_old.crash", kLaunch - 5);
    crashLog("DiagnosticReports", "Demo_older.crash", kLaunch - 50);
    // Local DiagnosticReports: the newest matching entry, whatever its name's order.
    crashLog("DiagnosticReports", "demo_a.crash", kLaunch + 30, false);
    crashLog("DiagnosticReports", "DEMO_b.crash", kLaunch + 20, false);
    crashLog("DiagnosticReports", "Demolition_z.crash", kLaunch + 90, false);
    crashLog("DiagnosticReports", "Other_z.crash", kLaunch + 90, false);
    const auto found = check();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, *OWLocalPaths::logDirectory(false) + "/DiagnosticReports/demo_a.crash");
    EXPECT_NE(logText().find("Application crashed on last launch"), std::string::npos);

    // A name with a quote is a plain prefix, not part of a pattern.
    const std::string quoted = crashLog("CrashReporter", "O'Brien's App_1.crash", kLaunch + 5);
    EXPECT_EQ(check(std::string("O'Brien's App")), quoted);
}

TEST_F(BugReporter, HandsTheLogToTheBundledReporterOrTheInstalledOne) {
    writeDates(kLaunch, std::nullopt);
    const std::string log = crashLog("CrashReporter", "Demo_1.crash", kLaunch + 1);

    FakeApplication installed(
        *OWLocalPaths::applicationDirectory(true) + "/Oxbury Works/Bug Reporter.app",
        OWBugReporter::kBugReporterIdentifier);
    EXPECT_EQ(check(), log);
    auto record = installed.waitForRun();
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(*record, (std::vector<std::string>{installed.path() + "/Contents/MacOS/fake", log}));

    FakeApplication bundled(caller_->path() + "/Contents/Resources/Bug Reporter.app", "any");
    EXPECT_EQ(check(), log);
    record = bundled.waitForRun();
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(*record, (std::vector<std::string>{bundled.path() + "/Contents/MacOS/fake", log}));
}

TEST_F(BugReporter, DisabledReporterStillLogsAndAnswersThePath) {
    writeDates(kLaunch, std::nullopt);
    const std::string log = crashLog("CrashReporter", "Demo_1.crash", kLaunch + 1);
    FakeApplication bundled(caller_->path() + "/Contents/Resources/Bug Reporter.app", "any");
    for (base::Value on : {base::Value("1"), base::Value(true), base::Value(1)}) {
        writeGlobalSetting(on);
        EXPECT_EQ(check(), log);
    }
    EXPECT_FALSE(bundled.hasRun());
    const std::string text = logText();
    EXPECT_NE(text.find("Crash reporter disabled"), std::string::npos);
    EXPECT_NE(text.find("Application crashed on last launch"), std::string::npos);
}

TEST_F(BugReporter, StartAndStopRecordDatesAndTellTheDelegateOnTheMainThread) {
    auto delegate = std::make_shared<CrashDelegate>();
    OWBugReporter::startBugReporter("Demo", plist_, delegate);
    auto dates = base::PropertyList::readFile(plist_);
    ASSERT_TRUE(dates && (*dates)["launch"].isDate());
    EXPECT_FALSE((*dates)["exit"].isDate());
    struct stat st {};
    ASSERT_EQ(stat(plist_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The run "crashed": a log written after the launch is found at the next start.
    const double launch = (*dates)["launch"].date()->secondsSince1970;
    const std::string log = crashLog("CrashReporter", "Demo_1.crash", launch + 5);
    OWBugReporter::startBugReporter("Demo", plist_, delegate);
    EXPECT_TRUE(delegate->logs.empty());  // not called synchronously
    ASSERT_TRUE(pumpUntil([&] { return !delegate->logs.empty(); }));
    EXPECT_EQ(delegate->logs, std::vector<std::string>{log});

    OWBugReporter::stopBugReporter(plist_);
    EXPECT_FALSE(check("Demo").has_value());

    // Without a path the dates live in the application's user defaults.
    OWBugReporter::startBugReporter();
    EXPECT_TRUE(base::UserDefaults::standard()->object("launch").isDate());
    OWBugReporter::stopBugReporter();
    EXPECT_TRUE(base::UserDefaults::standard()->object("exit").isDate());
    EXPECT_FALSE(OWBugReporter::checkForCrashes().has_value());
}

TEST_F(BugReporter, ChownGivesTheFileToTheHomeFolderOwnerNotANamesake) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "changing owners needs root";
    }
    // The folder is named "root" but belongs to another user.
    const std::string home = sandbox_.dir().makeFolder("Users/root");
    ASSERT_EQ(chown(home.c_str(), 65534, 65534), 0);
    const std::string inside = sandbox_.dir().write("Users/root/prefs.plist", "x");
    OWBugReporter::chownPlist(inside);
    struct stat st {};
    ASSERT_EQ(stat(inside.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);

    const std::string outside = sandbox_.dir().write("elsewhere.plist", "x");
    ASSERT_EQ(chown(outside.c_str(), 4242, 4242), 0);
    OWBugReporter::chownPlist(outside);
    ASSERT_EQ(stat(outside.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4242u);
}

}  // namespace
