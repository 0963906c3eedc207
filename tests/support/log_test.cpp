#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/PropertyList.h"
#include "platform/system/ConsoleUser.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"
#include "tests/helpers/RunTool.h"
#include "tests/helpers/TempDir.h"
#include "tests/support/LogSandbox.h"

namespace {

using testsupport::readFile;

std::vector<std::string> lines(const std::string& path) {
    std::istringstream in(readFile(path));
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The message part of an entry "<date> - <message>".
std::vector<std::string> messages(const std::string& path) {
    static const std::regex entry(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \+0000 - (.*)$)");
    std::vector<std::string> out;
    for (const auto& line : lines(path)) {
        std::smatch m;
        out.push_back(std::regex_match(line, m, entry) ? m[1].str() : "<malformed> " + line);
    }
    return out;
}

void flush() {
    // Twice: a rotation queues its header behind the write that triggered it.
    OWLog::finishWriting();
    OWLog::finishWriting();
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

class LogTest : public testing::Test {
  protected:
    void writePrefs(base::Value value) {
        const std::string folder = sandbox.home() + "/.config";
        sandbox.dir().makeFolder(".config");
        ASSERT_TRUE(
            base::PropertyList::writeFile(base::Dictionary{{"disable-logging", std::move(value)}},
                                          folder + "/com.oxburyworks.global.plist"));
    }
    testsupport::LogSandbox sandbox;
};

TEST_F(LogTest, NewLogHasHeaderAndPrivateFiles) {
    OWLog::createNewLog();
    OWLog::appendLog("first %@ and %d", "entry", 42);
    flush();
    const auto m = messages(sandbox.logFile());
    // This program lives outside a bundle: no version and no path.
    ASSERT_EQ(m.size(), 4u) << readFile(sandbox.logFile());
    EXPECT_EQ(m[0].rfind("Log started: ", 0), 0u);
    EXPECT_TRUE(
        std::regex_match(m[1], std::regex(R"(System: Linux \S+, \d+ CPU\(s\), \d+\.\d\d GB RAM)")))
        << m[1];
    EXPECT_EQ(m[2], "Running in 64-bit mode");
    EXPECT_EQ(m[3], "first entry and 42");
    EXPECT_EQ(modeOf(sandbox.logFile()), 0600u);
    EXPECT_EQ(modeOf(sandbox.logFolder()), 0700u);
}

// The same header written by this test program run again from inside a bundle.
TEST_F(LogTest, ABundledProgramNamesItsVersionAndPath) {
    const std::string contents = sandbox.dir().makeFolder("Logger.app/Contents");
    sandbox.dir().makeFolder("Logger.app/Contents/MacOS");
    ASSERT_TRUE(base::PropertyList::writeFile(
        base::Dictionary{{"CFBundleVersion", "4.2.1"}, {"CFBundleExecutable", "logger"}},
        contents + "/Info.plist"));
    char self[PATH_MAX] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string exe = contents + "/MacOS/logger";
    std::error_code error;
    std::filesystem::create_hard_link(self, exe, error);
    if (error) {
        ASSERT_TRUE(std::filesystem::copy_file(self, exe, error)) << error.message();
    }
    const auto run = testsupport::runTool({exe, "--gtest_filter=LogBundleChild.*"},
                                          {"QV_LOG_BUNDLE_CHILD=" + exe});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << run.out;
}

// Runs only inside the process started above.
TEST(LogBundleChild, HeaderNamesVersionAndPath) {
    const char* exe = std::getenv("QV_LOG_BUNDLE_CHILD");
    if (!exe) {
        GTEST_SKIP()
            << "runs from inside a bundle, started by ABundledProgramNamesItsVersionAndPath";
    }
    testsupport::LogSandbox sandbox;
    OWLog::createNewLog();
    flush();
    const auto m = messages(sandbox.logFile());
    ASSERT_EQ(m.size(), 5u) << readFile(sandbox.logFile());
    EXPECT_EQ(m[1], "Version: 4.2.1");
    EXPECT_EQ(m[2], std::string("Path: ") + exe);
    EXPECT_EQ(m[3].rfind("System: Linux ", 0), 0u);
}

TEST_F(LogTest, PercentSignsAndTrimming) {
    OWLog::createNewLog();
    testing::internal::CaptureStdout();
    OWLog::appendLog("Progress 50% done");
    OWLog::appendLog("%@", "argument with %s and %@ inside");
    OWLog::appendLogAndPrint("Rate: 100%%");
    OWLog::appendLog("  \n two\nlines \t\n");
    OWLog::fastAppendLog("fast %li%%", 7L);
    OWLog::appendLogAndDebugPrint("debug print");
    OWLog::debugPrint("never %@", "seen");
    flush();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "Rate: 100%\n");
    const auto m = messages(sandbox.logFile());
    ASSERT_GE(m.size(), 7u);
    const std::vector<std::string> tail(m.end() - 7, m.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Progress 50% done", "argument with %s and %@ inside",
                                              "Rate: 100%", "two", "<malformed> lines", "fast 7%",
                                              "debug print"}));
    EXPECT_EQ(OWLog::escapeTextForLogging("a % b %. %- %%"), "a %% b %%. %%- %%");
    EXPECT_EQ(OWLog::escapeTextForLogging("no percent"), "no percent");
}

TEST_F(LogTest, PrintDropsObjectMarkersAndZeroBytes) {
    OWLog::createNewLog();
    testing::internal::CaptureStdout();
    OWLog::appendLogAndPrint("%@", std::string("a%@b\0c", 6));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "abc\n");
}

TEST_F(LogTest, EmptyMessagesWriteNothing) {
    OWLog::createNewLog();
    flush();
    const std::string before = readFile(sandbox.logFile());
    const auto log = OWLog::sharedController();
    OWLog::appendLog("   \n\t ");
    OWLog::appendLog("%@", "");
    EXPECT_EQ(log->bytesInQueue(), 0u);
    flush();
    EXPECT_EQ(readFile(sandbox.logFile()), before);
}

TEST_F(LogTest, RotationKeepsFiveGenerations) {
    sandbox.dir().makeFolder(".local/state/Oxbury Works");
    for (int n = 1; n <= 5; ++n) {
        std::ofstream(sandbox.logFile(n)) << "generation " << n << "\n";
    }
    OWLog::createNewLog();
    flush();
    for (int n = 2; n <= 5; ++n) {
        EXPECT_EQ(readFile(sandbox.logFile(n)), "generation " + std::to_string(n - 1) + "\n");
    }
    EXPECT_EQ(messages(sandbox.logFile())[0].rfind("Log started: ", 0), 0u);
    EXPECT_EQ(OWLog::availableLogs(),
              (std::vector<std::string>{sandbox.logFile(1), sandbox.logFile(2), sandbox.logFile(3),
                                        sandbox.logFile(4), sandbox.logFile(5)}));
}

TEST_F(LogTest, NoRotationWithoutACurrentLog) {
    sandbox.dir().makeFolder(".local/state/Oxbury Works");
    for (int n = 2; n <= 5; ++n) std::ofstream(sandbox.logFile(n)) << "old " << n << "\n";
    OWLog::createNewLog();
    flush();
    for (int n = 2; n <= 5; ++n)
        EXPECT_EQ(readFile(sandbox.logFile(n)), "old " + std::to_string(n) + "\n");
}

TEST_F(LogTest, CrossingTheLimitStartsANewLog) {
    OWLog::createNewLog();
    flush();
    const auto log = OWLog::sharedController();
    log->setBytesWritten(499'990);
    OWLog::appendLog("this entry crosses the limit");  // about 60 bytes with its date
    flush();
    const auto old = messages(sandbox.logFile(2));
    ASSERT_FALSE(old.empty());
    EXPECT_EQ(old.back(), "this entry crosses the limit");
    const auto fresh = messages(sandbox.logFile(1));
    ASSERT_EQ(fresh.size(), 4u);
    EXPECT_EQ(fresh[0].rfind("Log started: ", 0), 0u);
    EXPECT_EQ(fresh[3], "Log truncated at 500KB");
    EXPECT_LT(log->bytesWritten(), 1000u);
}

TEST_F(LogTest, ConcurrentWritersRotateWithoutLosingLines) {
    OWLog::createNewLog();
    flush();
    constexpr int kThreads = 4, kLines = 2500;  // ~650 KB: at least one rotation
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                OWLog::appendLog("writer %d line %05d %@", t, i, std::string(180, 'x'));
            }
        });
    }
    for (auto& w : writers) w.join();
    flush();
    int written = 0, truncations = 0;
    std::vector<int> next(kThreads, 0);
    for (int gen = 5; gen >= 1; --gen) {
        for (const auto& m : messages(sandbox.logFile(gen))) {
            ASSERT_EQ(m.find("<malformed>"), std::string::npos) << m;
            int t = 0, i = 0;
            if (std::sscanf(m.c_str(), "writer %d line %d", &t, &i) == 2) {
                EXPECT_EQ(i, next[t]++);  // each writer's lines stay in order
                ++written;
            }
            truncations += m == "Log truncated at 500KB";
        }
    }
    EXPECT_EQ(written, kThreads * kLines);
    EXPECT_GE(truncations, 1);
    EXPECT_GE(readFile(sandbox.logFile(2)).size(), OWLog::kTruncateBytes);
}

TEST_F(LogTest, ShortMessagesFromBackgroundThreadsAreOnDiskOnReturn) {
    OWLog::createNewLog();
    flush();
    std::thread([] { OWLog::appendLog("from the background"); }).join();
    EXPECT_EQ(messages(sandbox.logFile()).back(), "from the background");
}

TEST_F(LogTest, AppendingToAnExistingLogCountsItsSize) {
    sandbox.dir().makeFolder(".local/state/Oxbury Works");
    std::ofstream(sandbox.logFile()) << std::string(499'990, 'o') << "\n";
    // A process that only appends (no new log at launch) still rotates at the limit.
    OWLog::appendLog("appended by a short-lived process");
    flush();
    ASSERT_GT(readFile(sandbox.logFile(2)).size(), 499'990u);
    EXPECT_EQ(messages(sandbox.logFile(2)).back(), "appended by a short-lived process");
    EXPECT_EQ(messages(sandbox.logFile(1)).back(), "Log truncated at 500KB");
}

TEST_F(LogTest, WithoutACurrentLogMessagesGoToStandardOutput) {
    testing::internal::CaptureStdout();
    OWLog::appendLog("lost %d", 1);
    flush();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed,
              "Unable to log the following information: lost 1\nUnable to open log for output\n");
    struct stat st {};
    EXPECT_NE(stat(sandbox.logFile().c_str(), &st), 0);
}

TEST_F(LogTest, DisableLoggingSetting) {
    struct Case {
        base::Value value;
        bool disables;
    };
    const Case cases[] = {{"1", true},     {true, true},   {1, true}, {"YES", false},
                          {"true", false}, {false, false}, {2, false}};
    for (const auto& c : cases) {
        OWLog::resetForTesting();
        OWLog::sharedController()->setAppName("tests");
        writePrefs(c.value);
        testing::internal::CaptureStdout();
        OWLog::createNewLog();
        OWLog::appendLogAndPrint("after start");
        flush();
        const std::string printed = testing::internal::GetCapturedStdout();
        if (c.disables) {
            EXPECT_EQ(printed, "Logging is disabled\n") << c.value.describe();
            EXPECT_TRUE(OWLog::sharedController()->loggingDisabled());
        } else {
            EXPECT_EQ(printed, "after start\n") << c.value.describe();
        }
    }
}

TEST_F(LogTest, TerminationWritesTenQueuedLinesButDropsEleven) {
    for (int queued : {10, 11}) {
        OWLog::resetForTesting();
        OWLog::sharedController()->setAppName("tests");
        OWLog::createNewLog();
        flush();
        const size_t before = messages(sandbox.logFile()).size();
        OWLog::sharedController()->writeQueue()->setSuspended(true);
        for (int i = 0; i < queued; ++i) OWLog::fastAppendLog("queued %d", i);
        base::NotificationCenter::defaultCenter().post(OWLog::kWillTerminateNotification);
        const size_t after = messages(sandbox.logFile()).size();
        EXPECT_EQ(after - before, queued == 10 ? 10u : 0u) << queued;
        // Closed: nothing is queued any more.
        OWLog::appendLog("after the end");
        OWLog::finishWriting();
        EXPECT_EQ(messages(sandbox.logFile()).size(), after);
        EXPECT_EQ(OWLog::sharedController()->writeQueue(), nullptr);
        testing::internal::CaptureStdout();
        OWLog::appendLogAndPrint("not even printed");
        OWLog::createNewLog();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(messages(sandbox.logFile()).size(), after);
    }
}

TEST_F(LogTest, RootKeepsLogsInTheLocalDomain) {
    testsupport::TempDir root;
    OWLocalPaths::setLocalDomainRoot(root.path());
    platform::system::ConsoleUser::setRootOverride(true);
    const std::string folder = root.path() + "/var/log/Oxbury Works";
    OWLog::createNewLog();
    OWLog::createNewLog();
    flush();
    OWLocalPaths::setLocalDomainRoot("");
    struct stat st {};
    EXPECT_FALSE(readFile(folder + "/tests.1.log").empty());
    EXPECT_EQ(stat((folder + "/tests.2.log").c_str(), &st), 0);
    EXPECT_NE(stat(sandbox.logFolder().c_str(), &st), 0);
}

// Entries queued for one log may still be written while the next one starts: a writer
// that finds no open file must never keep the file that was just moved aside, or every
// later entry would go to the older generation.
TEST_F(LogTest, EntriesAfterANewLogGoToItWhileTheWriterRunsBehind) {
    for (int round = 0; round < 300; ++round) {
        OWLog::createNewLog();
        OWLog::createNewLog();
        OWLog::appendLog("round %d", round);
        flush();
        const auto m = messages(sandbox.logFile());
        ASSERT_FALSE(m.empty()) << round;
        ASSERT_EQ(m.back(), "round " + std::to_string(round)) << readFile(sandbox.logFile());
        ASSERT_NE(std::find(m.begin(), m.end(), "Running in 64-bit mode"), m.end()) << round;
    }
}

TEST_F(LogTest, AppNameFallsBackToTheExecutable) {
    const auto log = OWLog::sharedController();
    log->setAppName(std::nullopt);
    EXPECT_EQ(log->appName(), "tests_support");
}

// A process dying of an uncaught exception logs its reason first, then the handler that
// was in place before the logger still runs.
TEST(LogDeathTest, UncaughtExceptionIsLoggedAndThePreviousHandlerRuns) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::set_terminate([] {
                const auto logs = OWLog::availableLogs();
                const std::string text = logs.empty() ? "no log" : readFile(logs[0]);
                std::fprintf(stderr, "previous handler: %s", text.c_str());
                std::fflush(stderr);
                _exit(3);
            });
            testsupport::LogSandbox sandbox;
            OWLog::createNewLog();
            std::thread([] { throw std::runtime_error("boom at 100% \"really\""); }).join();
        },
        testing::ExitedWithCode(3), "previous handler: .* - boom at 100% \"really\"");
}

}  // namespace
