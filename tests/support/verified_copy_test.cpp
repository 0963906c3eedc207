#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "base/Console.h"
#include "platform/crypto/Digest.h"
#include "platform/system/ChildProcess.h"
#include "platform/system/FileOps.h"
#include "support/OWFileManager.h"
#include "support/OWLog.h"
#include "tests/helpers/TempDir.h"
#include "tests/support/LogSandbox.h"

namespace {

namespace fileops = platform::system::fileops;
using platform::crypto::Digest;
using testsupport::readFile;
using Settings = OWFileCopyDelegate::Settings;

constexpr uint64_t kMiB = 1024 * 1024;

// The byte at `offset` of every generated test file: no chunk repeats another.
uint8_t patternByte(uint64_t offset) {
    return static_cast<uint8_t>((offset * 131 + offset / 65536) % 251);
}

std::string pattern(uint64_t offset, size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>(patternByte(offset + i));
    }
    return bytes;
}

std::string writePattern(const testsupport::TempDir& dir, const std::string& name, uint64_t size) {
    std::ofstream out(dir.file(name), std::ios::binary);
    for (uint64_t at = 0; at < size; at += kMiB) {
        out << pattern(at, static_cast<size_t>(std::min(kMiB, size - at)));
    }
    return dir.file(name);
}

// The digest printed by one of the coreutils digest tools.
std::string toolDigest(const std::string& tool, const std::string& path) {
    platform::system::ChildProcess child("/usr/bin/" + tool, {"--", path});
    child.setStandardOutput(platform::system::ChildProcess::Stream::Pipe);
    if (!child.launch()) {
        return "";
    }
    std::string out;
    char buffer[4096];
    for (ssize_t n; (n = ::read(child.standardOutputFd(), buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<size_t>(n));
    }
    child.wait();
    return out.substr(0, out.find(' '));
}

// Records every delegate call; the asynchronous ones can be waited for.
class Recorder : public OWFileCopyDelegate {
  public:
    void fileCopyBytesWritten(uint64_t bytes, const Settings& settings) override {
        std::lock_guard lock(mutex_);
        progress.emplace_back(bytes, std::this_thread::get_id());
        lastSettings = settings;
        changed_.notify_all();
    }
    bool fileCopyShouldContinue(const Settings&) override {
        std::lock_guard lock(mutex_);
        ++shouldContinueCalls;
        changed_.notify_all();
        return answer;
    }
    void fileCopyVerificationFailed(const Settings& settings, const std::string& file) override {
        std::lock_guard lock(mutex_);
        failed.emplace_back(file, settings->value("destChecksum").stringValue());
    }
    void fileCopyFinished(const Settings& settings) override {
        std::lock_guard lock(mutex_);
        ++finished;
        lastSettings = settings;
    }
    bool waitUntil(const std::function<bool()>& predicate) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), predicate);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<uint64_t, std::thread::id>> progress;
    std::vector<std::pair<std::string, std::string>> failed;
    int shouldContinueCalls = 0;
    int finished = 0;
    bool answer = true;
    Settings lastSettings;
};

// Passes every call on to a recorder it shares with the test.
class Forwarder : public OWFileCopyDelegate {
  public:
    explicit Forwarder(std::shared_ptr<Recorder> to) : to_(std::move(to)) {}
    void fileCopyBytesWritten(uint64_t bytes, const Settings& settings) override {
        to_->fileCopyBytesWritten(bytes, settings);
    }
    bool fileCopyShouldContinue(const Settings& settings) override {
        return to_->fileCopyShouldContinue(settings);
    }
    void fileCopyFinished(const Settings& settings) override { to_->fileCopyFinished(settings); }

  private:
    std::shared_ptr<Recorder> to_;
};

// Collects console lines into a file for the length of a test.
class ConsoleCapture {
  public:
    explicit ConsoleCapture(const testsupport::TempDir& dir) : path_(dir.file("console.txt")) {
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        previous_ = base::Console::setOutput(fd_);
    }
    ~ConsoleCapture() {
        base::Console::setOutput(previous_);
        ::close(fd_);
    }
    std::string text() const { return readFile(path_); }

  private:
    std::string path_;
    int fd_;
    int previous_;
};

class VerifiedCopy : public ::testing::Test {
  protected:
    void SetUp() override { OWLog::createNewLog(); }

    testsupport::LogSandbox sandbox_;
    testsupport::TempDir dir_;
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
};

// ---- Digest helpers ----

TEST_F(VerifiedCopy, DigestHelpersMatchTheCoreutilsToolsAndLeaveTheStateUsable) {
    const std::string data = pattern(0, 200000);
    const std::string file = dir_.write("data.bin", data);
    struct Case {
        Digest::Algorithm algorithm;
        std::string (*helper)(const Digest&);
        const char* tool;
    };
    const Case cases[] = {
        {Digest::Algorithm::MD5, OWFileManager::md5HashWithContext, "md5sum"},
        {Digest::Algorithm::SHA1, OWFileManager::sha1HashWithContext, "sha1sum"},
        {Digest::Algorithm::SHA256, OWFileManager::sha256HashWithContext, "sha256sum"},
        {Digest::Algorithm::SHA512, OWFileManager::sha512HashWithContext, "sha512sum"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        Digest state(c.algorithm);
        state.update(std::string_view(data).substr(0, 1000));
        const std::string early = c.helper(state);
        EXPECT_EQ(early, c.helper(state));  // finishing did not consume the state
        state.update(std::string_view(data).substr(1000));
        const std::string full = c.helper(state);
        EXPECT_EQ(full, toolDigest(c.tool, file));
        EXPECT_EQ(full.size(), 2 * Digest::length(c.algorithm));
        EXPECT_NE(early, full);
    }
    // A state of another kind is not passed off as this one.
    Digest sha1(Digest::Algorithm::SHA1);
    EXPECT_EQ(OWFileManager::md5HashWithContext(sha1), "");
}

// ---- Copies that succeed ----

TEST_F(VerifiedCopy, EmptySourceCopiesToAnEmptyFileAndReportsZero) {
    const std::string source = dir_.write("empty", "");
    const std::string target = dir_.file("out/empty");
    ASSERT_TRUE(OWFileManager::copyFileWithProgress(source, target, recorder_));
    EXPECT_TRUE(fileops::exists(target));
    EXPECT_EQ(fileops::itemInfo(target)->size, 0u);
    ASSERT_EQ(recorder_->progress.size(), 1u);
    EXPECT_EQ(recorder_->progress[0].first, 0u);
    EXPECT_EQ(recorder_->finished, 1);
}

TEST_F(VerifiedCopy, ProgressIsReportedEvery20MiBAndOnceMoreAtTheEnd) {
    // Just below the interval: only the final, synchronous report.
    const std::string below = writePattern(dir_, "below", 20 * kMiB - 1);
    ASSERT_TRUE(OWFileManager::copyFileWithProgress(below, dir_.file("below.copy"), recorder_));
    ASSERT_EQ(recorder_->progress.size(), 1u);
    EXPECT_EQ(recorder_->progress[0].first, 20 * kMiB - 1);
    EXPECT_EQ(recorder_->progress[0].second, std::this_thread::get_id());
    EXPECT_EQ(recorder_->shouldContinueCalls, 0);

    // 30 MiB: one asynchronous report at 20 MiB, then the final one. The caller lets go
    // of its delegate at once; the queued calls keep it alive until they have run.
    auto journal = std::make_shared<Recorder>();
    auto forwarder = std::make_shared<Forwarder>(journal);
    const std::string source = writePattern(dir_, "thirty", 30 * kMiB);
    ASSERT_TRUE(OWFileManager::copyFileWithProgress(source, dir_.file("thirty.copy"), forwarder,
                                                    "first", 2));
    const Settings settings = journal->lastSettings;
    EXPECT_EQ(settings->value("object"), base::Value("first"));
    EXPECT_EQ(settings->value("object2"), base::Value(2));
    EXPECT_EQ(settings->value("operationtype"), base::Value("copy"));
    EXPECT_EQ(settings->value("source"), base::Value(source));
    EXPECT_FALSE(settings->dictionary().contains("sourceChecksum"));
    EXPECT_EQ(settings->delegate(), forwarder);
    forwarder.reset();
    ASSERT_TRUE(journal->waitUntil(
        [&] { return journal->progress.size() == 2 && journal->shouldContinueCalls == 1; }));
    std::vector<uint64_t> counts{journal->progress[0].first, journal->progress[1].first};
    std::sort(counts.begin(), counts.end());
    EXPECT_EQ(counts, (std::vector<uint64_t>{20 * kMiB, 30 * kMiB}));
    EXPECT_EQ(readFile(dir_.file("thirty.copy")), readFile(source));
}

TEST_F(VerifiedCopy, EveryVerificationTypeAgreesWithTheToolsOnBothDestinations) {
    const std::string source = writePattern(dir_, "source.mov", 3 * kMiB + 12345);
    const char* tools[] = {"md5sum", "sha1sum", "sha256sum", "sha512sum"};
    for (uint64_t type = 1; type <= 4; ++type) {
        SCOPED_TRACE(type);
        const std::vector<std::string> targets{dir_.file("a/" + std::to_string(type)),
                                               dir_.file("new/folder/" + std::to_string(type))};
        auto recorder = std::make_shared<Recorder>();
        ASSERT_TRUE(OWFileManager::copyFileWithProgress(source, targets, type, recorder, {}, {}));
        const Settings settings = recorder->lastSettings;
        const std::string expected = toolDigest(tools[type - 1], source);
        EXPECT_EQ(settings->value("sourceChecksum"), base::Value(expected));
        const base::Value sums = settings->value("destChecksums");
        ASSERT_EQ(sums.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(sums[i], base::Value(toolDigest(tools[type - 1], targets[i])));
            EXPECT_EQ(sums[i], base::Value(expected));
        }
        EXPECT_TRUE(recorder->failed.empty());
        EXPECT_FALSE(settings->dictionary().contains("destChecksum"));
        EXPECT_EQ(settings->value("destinations"),
                  base::Value(base::Array{targets[0], targets[1]}));
    }
    // The modification date carries over.
    EXPECT_EQ(fileops::itemInfo(dir_.file("a/3"))->modified, fileops::itemInfo(source)->modified);
}

TEST_F(VerifiedCopy, DestinationThatReadsBackWrongIsReportedWithItsOwnDigest) {
    // /dev/zero swallows what is written and reads back zeros: the first chunk (all
    // zeros) agrees with the source, the second does not.
    std::string data(65536, '\0');
    data += pattern(0, 70000);
    const std::string source = dir_.write("source", data);
    const std::string good = dir_.file("good");
    ASSERT_TRUE(
        OWFileManager::copyFileWithProgress(source, {"/dev/zero", good}, 3, recorder_, {}, {}));
    ASSERT_EQ(recorder_->failed.size(), 1u);
    EXPECT_EQ(recorder_->failed[0].first, "/dev/zero");
    const std::string zeros =
        Digest::hex(Digest::of(Digest::Algorithm::SHA256, std::string(data.size(), '\0')));
    EXPECT_EQ(recorder_->failed[0].second, zeros);
    const base::Value sums = recorder_->lastSettings->value("destChecksums");
    EXPECT_EQ(sums[0], base::Value(zeros));
    EXPECT_EQ(sums[1], base::Value(toolDigest("sha256sum", source)));
    EXPECT_EQ(readFile(good), data);
    EXPECT_EQ(recorder_->finished, 1);
}

// ---- Refusals and failures ----

TEST_F(VerifiedCopy, RefusesCopiesThatWouldDestroyTheSourceOrRepeatADestination) {
    ConsoleCapture console(dir_);
    const std::string data = pattern(0, 300000);
    const std::string source = dir_.write("source", data);
    ASSERT_EQ(::link(source.c_str(), dir_.file("hardlink").c_str()), 0);
    ASSERT_EQ(::symlink(source.c_str(), dir_.file("symlink").c_str()), 0);
    const std::string other = dir_.write("other", "keep me");

    for (const std::string& alias :
         {source, dir_.path() + "/./source", dir_.file("hardlink"), dir_.file("symlink")}) {
        SCOPED_TRACE(alias);
        EXPECT_FALSE(
            OWFileManager::copyFileWithProgress(source, {other, alias}, 1, recorder_, {}, {}));
        EXPECT_EQ(readFile(source), data);
        EXPECT_EQ(readFile(other), "keep me");  // nothing is cut before the check
    }
    const std::string twice = dir_.file("twice");
    EXPECT_FALSE(OWFileManager::copyFileWithProgress(source, {twice, dir_.path() + "//twice"}, 0,
                                                     recorder_, {}, {}));
    EXPECT_EQ(recorder_->finished, 0);
    const std::string text = console.text();
    EXPECT_NE(text.find("Error: Destination " + dir_.file("hardlink") + " is the source file " +
                        source + ". Aborting copy process..."),
              std::string::npos);
    EXPECT_NE(text.find("is listed more than once. Aborting copy process..."), std::string::npos);
}

TEST_F(VerifiedCopy, RefusesBadArgumentsBeforeTouchingAnything) {
    ConsoleCapture console(dir_);
    const std::string source = dir_.write("source", "abc");
    const std::string existing = dir_.write("existing", "old contents");
    EXPECT_FALSE(OWFileManager::copyFileWithProgress(dir_.file("missing"), existing, recorder_));
    EXPECT_FALSE(OWFileManager::copyFileWithProgress(source, {}, 0, recorder_, {}, {}));
    EXPECT_FALSE(OWFileManager::copyFileWithProgress(source, {existing}, 5, recorder_, {}, {}));
    EXPECT_FALSE(
        OWFileManager::copyFileWithProgress(source, {dir_.file("x/y")}, 7, recorder_, {}, {}));
    EXPECT_EQ(readFile(existing), "old contents");
    EXPECT_FALSE(fileops::exists(dir_.file("x")));
    // A destination that cannot be opened (a folder).
    EXPECT_FALSE(OWFileManager::copyFileWithProgress(source, dir_.makeFolder("folder"), recorder_));
    // A source that cannot be read (a folder).
    EXPECT_FALSE(OWFileManager::copyFileWithProgress(dir_.path(), dir_.file("copy"), recorder_));
    EXPECT_TRUE(recorder_->progress.empty());
    const std::string text = console.text();
    EXPECT_NE(text.find("Error: File " + dir_.file("missing") +
                        " doesn't exist. Aborting copy process..."),
              std::string::npos);
    EXPECT_NE(text.find("Error: You must have at least one destination. Aborting copy process..."),
              std::string::npos);
    EXPECT_NE(text.find("Error: Unknown verification type 5. Aborting copy process..."),
              std::string::npos);
    EXPECT_NE(text.find("Error: Unable to open destination file " + dir_.file("folder")),
              std::string::npos);
}

TEST_F(VerifiedCopy, AFullDiskAnswersNoInsteadOfReportingSuccess) {
    ConsoleCapture console(dir_);
    const std::string source = writePattern(dir_, "source", 200000);
    const std::string good = dir_.file("good");
    EXPECT_FALSE(
        OWFileManager::copyFileWithProgress(source, {good, "/dev/full"}, 3, recorder_, {}, {}));
    EXPECT_EQ(recorder_->finished, 0);
    EXPECT_TRUE(recorder_->progress.empty());
    EXPECT_NE(console.text().find("Error writing file /dev/full: 28"), std::string::npos);
}

TEST_F(VerifiedCopy, ShouldContinueNoStopsTheCopyLeavingAPrefix) {
    // A pipe as the source: the writer holds back after the first report until the
    // delegate has been asked, then offers far more than the copy will take.
    const std::string fifo = dir_.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    recorder_->answer = false;
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    uint64_t offered = 0;
    constexpr uint64_t kOffer = 400 * kMiB;
    std::thread writer([&] {
        int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        for (uint64_t at = 0; at < kOffer; at += kMiB) {
            if (at == 20 * kMiB) {
                recorder_->waitUntil([&] { return recorder_->shouldContinueCalls > 0; });
            }
            const std::string piece = pattern(at, kMiB);
            if (::write(fd, piece.data(), piece.size()) < 0) {
                break;
            }
            offered = at + kMiB;
        }
        ::close(fd);
    });
    const std::string target = dir_.file("partial");
    const bool result = OWFileManager::copyFileWithProgress(fifo, target, recorder_);
    writer.join();
    sigaction(SIGPIPE, &previous, nullptr);

    EXPECT_FALSE(result);
    EXPECT_EQ(recorder_->finished, 0);
    const std::string copied = readFile(target);
    EXPECT_GE(copied.size(), 20 * kMiB);
    EXPECT_LT(copied.size(), kOffer);
    EXPECT_LE(copied.size(), offered);
    EXPECT_TRUE(copied == pattern(0, copied.size()));
}

}  // namespace
