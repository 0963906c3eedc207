#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/OWLog.h"
#include "support/OWTaskEx.h"
#include "tests/support/LogSandbox.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::string kSh = "/bin/sh";

std::string text(const std::optional<base::Data>& d) {
    return d ? std::string(d->begin(), d->end()) : "<none>";
}

// Polls a condition that some other process must make true (no callback exists).
bool eventually(const std::function<bool()>& condition, double seconds = 10) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// State letter of a process from /proc, or none when it no longer exists.
std::optional<char> processState(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return std::nullopt;
    const size_t paren = line.rfind(')');
    if (paren == std::string::npos || paren + 2 >= line.size())
        return std::nullopt;
    return line[paren + 2];
}

bool goneOrDead(pid_t pid) {
    const auto s = processState(pid);
    return !s || *s == 'Z' || *s == 'X';
}

// Our own children that have ended and not been reaped.
int zombieChildren() {
    int zombies = 0;
    DIR* proc = opendir("/proc");
    while (dirent* e = proc ? readdir(proc) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0)
            continue;
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(in, line))
            continue;
        const size_t paren = line.rfind(')');
        std::istringstream rest(line.substr(paren + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == getpid() && state == 'Z')
            ++zombies;
    }
    if (proc)
        closedir(proc);
    return zombies;
}

class TaskTest : public testing::Test {
  protected:
    testsupport::LogSandbox sandbox;
};

TEST_F(TaskTest, CaptureOutputErrorsAndNothing) {
    EXPECT_EQ(text(OWTaskEx::dataFromTask("/bin/echo", {"hello", "-n", "--"}, nullptr)),
              "hello -n --\n");
    EXPECT_EQ(text(OWTaskEx::dataFromTask(kSh, {"-c", "echo oops >&2"}, nullptr)), "oops\n");
    // Output wins over errors when both exist.
    EXPECT_EQ(text(OWTaskEx::dataFromTask(kSh, {"-c", "echo e >&2; echo o"}, nullptr)), "o\n");
    const auto empty = OWTaskEx::dataFromTask("/usr/bin/true", {}, nullptr);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());
    EXPECT_EQ(OWTaskEx::stringFromTask("/usr/bin/true", {}), "");
    // Errors not captured go nowhere.
    EXPECT_EQ(text(OWTaskEx::dataFromTask(kSh, {"-c", "echo oops >&2"}, nullptr, std::nullopt, true,
                                          false)),
              "");
}

TEST_F(TaskTest, ArgumentsReachTheProgramUntouchedByAnyShell) {
    const std::string tricky = "$(touch " + sandbox.home() + "/pwned); `id` * ; | & > x";
    EXPECT_EQ(text(OWTaskEx::dataFromTask("/bin/echo", {tricky}, nullptr)), tricky + "\n");
    struct stat st {};
    EXPECT_NE(stat((sandbox.home() + "/pwned").c_str(), &st), 0);
}

TEST_F(TaskTest, StandardInputIsAtEndOfFile) {
    const auto started = Clock::now();
    EXPECT_EQ(text(OWTaskEx::dataFromTask("/bin/cat", {}, nullptr)), "");
    EXPECT_EQ(OWTaskEx::stringFromTask(kSh, {"-c", "read x; echo status $?"}), "status 1\n");
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
}

TEST_F(TaskTest, BothStreamsDrainTogether) {
    // Fills the error pipe first: reading only standard output would deadlock.
    const auto out = OWTaskEx::dataFromTask(
        kSh, {"-c", "head -c 1048576 /dev/zero >&2; head -c 1048576 /dev/zero"}, nullptr);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->size(), 1048576u);
}

TEST_F(TaskTest, NoDescriptorsAreInherited) {
    const int leaked = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(leaked, 3);
    const std::string fds = OWTaskEx::stringFromTask(kSh, {"-c", "ls /proc/$$/fd"}).value_or("");
    close(leaked);
    std::istringstream in(fds);
    std::vector<std::string> seen;
    for (std::string fd; in >> fd;) seen.push_back(fd);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), std::to_string(leaked)), 0) << fds;
    EXPECT_EQ(seen.size(), 3u) << fds;
}

TEST_F(TaskTest, EnvironmentReplacesOurs) {
    EXPECT_EQ(text(OWTaskEx::dataFromTask("/usr/bin/env", {}, nullptr,
                                          OWTaskEx::Environment{{"ONLY", "this"}})),
              "ONLY=this\n");
}

TEST_F(TaskTest, Decoding) {
    // Output that is not valid in the encoding is no text at all, in every text shape.
    const OWTaskEx::Arguments accent{"-c", "printf '\\303\\251'"};
    EXPECT_EQ(OWTaskEx::stringFromTask(kSh, accent), std::nullopt);
    EXPECT_EQ(OWTaskEx::stringFromTask(kSh, accent, 30.0), std::nullopt);
    EXPECT_EQ(OWTaskEx::stringFromTask(kSh, accent, OWTaskEx::Encoding::UTF8), "\xC3\xA9");
    EXPECT_EQ(OWTaskEx::stringFromTask(kSh, {"-c", "printf '\\351'"}, OWTaskEx::Encoding::UTF8),
              std::nullopt);
    EXPECT_EQ(OWTaskEx::stringFromTask(kSh, {"-c", "printf '\\351'"}, OWTaskEx::Encoding::UTF8, 30),
              std::nullopt);
    EXPECT_EQ(
        OWTaskEx::stringFromTask(kSh, {"-c", "printf '\\351'"}, OWTaskEx::Encoding::ISOLatin1),
        "\xC3\xA9");
}

TEST_F(TaskTest, UncapturedOutputGoesToOurStandardOutput) {
    testing::internal::CaptureStdout();
    const auto data = OWTaskEx::dataFromTask("/bin/echo", {"straight through"}, nullptr,
                                             std::nullopt, false, true);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text(data), "");
    EXPECT_NE(printed.find("straight through"), std::string::npos);
}

TEST_F(TaskTest, RefusalsAndStartFailures) {
    const std::string bundle = sandbox.dir().makeFolder("Quorvane Plugin Hub.app");
    chmod(bundle.c_str(), 0755);
    const std::string plain = sandbox.dir().write("plain.txt", "#!/bin/sh\necho hi\n");
    for (const std::string& path : {bundle, plain, sandbox.home() + "/missing", std::string()}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(OWTaskEx::dataFromTask(path, {}, nullptr), std::nullopt) << path;
        EXPECT_FALSE(OWTaskEx::runTask(path, {}));
        EXPECT_EQ(OWTaskEx::terminationCodeFromTask(path, {}), -1);
        EXPECT_EQ(OWTaskEx::stringFromTask(path, {}), "");
        OWTaskEx::runTaskAndReturn(path, {});
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(printed.find("Error: " + path + " is not executable"), std::string::npos);
    }
    // Executable but not a program the kernel can start.
    const std::string junk = sandbox.dir().write("junk",
                                                 "\x7f"
                                                 "ELF garbage");
    chmod(junk.c_str(), 0700);
    EXPECT_EQ(OWTaskEx::terminationCodeFromTask(junk, {}), -1);
    EXPECT_EQ(OWTaskEx::dataFromTask(junk, {}, nullptr), std::nullopt);
    EXPECT_FALSE(OWTaskEx::runTask(junk, {}));
}

TEST_F(TaskTest, ExitStatusesAndOutChild) {
    OWTaskEx::Task child;
    EXPECT_EQ(OWTaskEx::terminationCodeFromTask(kSh, {"-c", "exit 3"}, &child), 3);
    ASSERT_TRUE(child);
    EXPECT_EQ(child->launchPath(), kSh);
    EXPECT_EQ(OWTaskEx::terminationCodeFromTask(kSh, {"-c", "kill -9 $$"}), 128 + SIGKILL);
    EXPECT_TRUE(OWTaskEx::runTask(kSh, {"-c", "exit 7"}));
}

TEST_F(TaskTest, TimeOutTerminatesAndReturnsWhatWasRead) {
    testing::internal::CaptureStdout();
    const auto started = Clock::now();
    const auto data = OWTaskEx::dataFromTask(kSh, {"-c", "echo early; exec sleep 60"}, 1.9);
    const auto took = Clock::now() - started;
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text(data), "early\n");
    EXPECT_NE(printed.find("Task /bin/sh timed out. Terminating..."), std::string::npos);
    EXPECT_LT(took, std::chrono::seconds(20));
}

TEST_F(TaskTest, TimeOutKillsAChildThatIgnoresTerm) {
    testing::internal::CaptureStdout();
    const auto started = Clock::now();
    const auto data =
        OWTaskEx::dataFromTask(kSh, {"-c", "trap '' TERM; echo stubborn; sleep 60"}, 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(text(data), "stubborn\n");
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
    EXPECT_EQ(OWTaskEx::terminationCodeFromTask(kSh, {"-c", "trap '' TERM; sleep 60"}, 1),
              128 + SIGKILL);
}

TEST_F(TaskTest, TimeOutReachesAGrandchildHoldingThePipe) {
    testing::internal::CaptureStdout();
    const auto started = Clock::now();
    const std::string out =
        OWTaskEx::stringFromTask(kSh, {"-c", "sleep 60 & echo $!"}, 1).value_or("");
    testing::internal::GetCapturedStdout();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
    const pid_t grandchild = static_cast<pid_t>(std::atoi(out.c_str()));
    ASSERT_GT(grandchild, 0) << out;
    EXPECT_TRUE(eventually([&] { return goneOrDead(grandchild); }));
}

TEST_F(TaskTest, TimedCallsReturnWhenTheChildEnds) {
    const auto started = Clock::now();
    EXPECT_EQ(
        OWTaskEx::stringFromTask("/bin/echo", {"quick"}, OWTaskEx::Encoding::UTF8, 30, true, false),
        "quick\n");
    EXPECT_EQ(OWTaskEx::terminationCodeFromTask(kSh, {"-c", "exit 4"}, 30.0), 4);
    OWTaskEx::runTask(kSh, {"-c", "exit 0"}, 30.0);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(20));
}

TEST_F(TaskTest, SubSecondTimeOutCountsAsZero) {
    testing::internal::CaptureStdout();
    auto task = OWTaskEx::create();
    EXPECT_EQ(task->terminationCodeFromTaskWithTimeout("/usr/bin/sleep", {"30"}, 0.9),
              128 + SIGTERM);
    EXPECT_EQ(task->theTask(), nullptr);  // the instance lets go when the call returns
    testing::internal::GetCapturedStdout();
}

TEST_F(TaskTest, NoZombiesAreLeft) {
    OWTaskEx::Task child;
    (void)OWTaskEx::dataFromTask("/bin/echo", {"x"}, &child);
    ASSERT_TRUE(child);
    const pid_t pid = child->pid();
    child.reset();  // the capture does not wait; the reaper must
    OWTaskEx::runTaskAndReturn("/usr/bin/true", {});
    (void)OWTaskEx::stringFromTask(kSh, {"-c", "exit 0"}, 5);
    EXPECT_TRUE(eventually([&] { return !processState(pid); }));
    EXPECT_TRUE(eventually([] { return zombieChildren() == 0; }));
}

// Collects the chunks an asynchronous run delivers.
struct Collector {
    std::mutex mutex;
    std::condition_variable changed;
    std::string output;
    int emptyChunks = 0;
    int calls = 0;
    std::thread::id thread;
    bool ended() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return emptyChunks > 0; });
    }
};

TEST_F(TaskTest, AsyncDeliversChunksInOrderAndOneEnd) {
    auto collector = std::make_shared<Collector>();
    auto task = OWTaskEx::create();
    auto object = std::make_shared<int>(42);
    std::weak_ptr<int> weakObject = object;
    task->asyncDataFromTask(
        kSh, {"-c", "for i in 1 2 3 4 5; do echo line$i; done"},
        [collector](const base::Data& chunk, OWTaskEx&, const std::shared_ptr<void>& obj) {
            std::lock_guard lock(collector->mutex);
            ++collector->calls;
            collector->thread = std::this_thread::get_id();
            if (obj) {
                EXPECT_EQ(*std::static_pointer_cast<int>(obj), 42);
            }
            if (chunk.empty()) {
                ++collector->emptyChunks;
            } else {
                collector->output.append(chunk.begin(), chunk.end());
            }
            collector->changed.notify_all();
        },
        object);
    object.reset();
    ASSERT_TRUE(collector->ended());
    std::lock_guard lock(collector->mutex);
    EXPECT_EQ(collector->output, "line1\nline2\nline3\nline4\nline5\n");
    EXPECT_EQ(collector->emptyChunks, 1);
    EXPECT_NE(collector->thread, std::this_thread::get_id());
    EXPECT_TRUE(eventually([&] { return weakObject.expired() && task->theTask() == nullptr; }));
}

TEST_F(TaskTest, AsyncTerminateStopsTheRun) {
    auto collector = std::make_shared<Collector>();
    auto task = OWTaskEx::create();
    task->asyncDataFromTask(
        kSh, {"-c", "echo ready; exec sleep 60"},
        [collector](const base::Data& chunk, OWTaskEx&, const std::shared_ptr<void>&) {
            std::lock_guard lock(collector->mutex);
            collector->output.append(chunk.begin(), chunk.end());
            collector->changed.notify_all();
        });
    {
        std::unique_lock lock(collector->mutex);
        ASSERT_TRUE(collector->changed.wait_for(lock, std::chrono::seconds(20),
                                                [&] { return !collector->output.empty(); }));
    }
    const auto child = task->theTask();
    ASSERT_TRUE(child);
    const pid_t pid = child->pid();
    task->terminateTask();
    EXPECT_EQ(task->theTask(), nullptr);
    EXPECT_TRUE(eventually([&] { return goneOrDead(pid); }));
}

TEST_F(TaskTest, AsyncWithoutHandlerOrProgramEndsCleanly) {
    std::weak_ptr<OWTaskEx> weak;
    {
        auto task = OWTaskEx::create();
        weak = task;
        task->asyncDataFromTask(kSh, {"-c", "echo nobody listens"}, nullptr);
    }
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));

    auto task = OWTaskEx::create();
    auto held = std::make_shared<int>(1);
    std::weak_ptr<int> weakHeld = held;
    task->asyncDataFromTask(sandbox.home(), {}, [held](auto&, auto&, auto&) {});
    held.reset();
    EXPECT_TRUE(eventually([&] { return weakHeld.expired(); }));
}

}  // namespace
