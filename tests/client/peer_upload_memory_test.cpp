// A large upload streams from disk: a 1 GiB (sparse) file goes to the storage stand-in
// in one PUT while the process's resident memory stays within a small bound.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "tests/client/UploadTestSupport.h"

namespace {

constexpr int64_t kSize = 1024ll * 1024 * 1024;
constexpr int64_t kAllowedGrowth = 64ll * 1024 * 1024;

// A "VmRSS:"-style line of /proc/self/status, in bytes; -1 when unreadable.
int64_t statusBytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stoll(line.substr(field.size() + 1)) * 1024;
        }
    }
    return -1;
}

// Starts a new peak ("VmHWM") from the current resident size, where the kernel allows.
bool resetPeak() {
    std::ofstream refs("/proc/self/clear_refs");
    refs << "5";
    refs.flush();
    return static_cast<bool>(refs);
}

class UploadMemoryTest : public uploadtest::StandInRoadTest {
  protected:
    std::string sparseFile(const std::string& name, int64_t size) {
        const std::string path = dir.file(name);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, size), 0);
        // A few written bytes at both ends, so a shifted or truncated body shows.
        EXPECT_EQ(::pwrite(fd, "head", 4, 0), 4);
        EXPECT_EQ(::pwrite(fd, "tail", 4, size - 4), 4);
        ::close(fd);
        return path;
    }
};

TEST_F(UploadMemoryTest, AGibibyteGoesInOnePutWithoutBeingReadIntoMemory) {
    const std::string path = sparseFile("large.mov", kSize);
    const int64_t before = statusBytes("VmRSS");
    ASSERT_GT(before, 0);
    const bool peakReset = resetPeak();
    int64_t sampledPeak = before;

    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    ASSERT_TRUE(pumpUntil(
        [&] {
            sampledPeak = std::max(sampledPeak, statusBytes("VmRSS"));
            return delegate->outcomes() > 0;
        },
        600));
    ASSERT_EQ(delegate->uploaded.size(), 1u) << delegate->failureText();

    const int64_t peak = peakReset ? std::max(sampledPeak, statusBytes("VmHWM")) : sampledPeak;
    EXPECT_LT(peak - before, kAllowedGrowth)
        << "resident memory grew from " << before << " to " << peak << " bytes";
    RecordProperty("resident_growth_kib", std::to_string((peak - before) / 1024));
    // The engine leaves out the first count it takes of a body still being sent (it
    // reads it as the socket's buffer), so the reports add up to at most the file.
    EXPECT_GT(delegate->progressSum(), 0);
    EXPECT_LE(delegate->progressSum(), kSize);
    for (int64_t p : delegate->progress) {
        EXPECT_GE(p, 0);
    }
    EXPECT_EQ(storage.stat("puts"), 1);
    EXPECT_EQ(storage.stat("parts"), 0);
    EXPECT_EQ(storage.stat("signature_failures"), 0);
}

}  // namespace
