#include "base/Console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/helpers/TempDir.h"

namespace base {
namespace {

// Sends the console into a file for the length of a test.
class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_.file("console.log");
        fd_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        ASSERT_GE(fd_, 0);
        previous_ = Console::setOutput(fd_);
    }
    void TearDown() override {
        Console::setOutput(previous_);
        close(fd_);
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::istringstream in(testsupport::readFile(path_));
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

    testsupport::TempDir dir_;
    std::string path_;
    int fd_ = -1;
    int previous_ = -1;
};

const std::regex kLineShape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [^\[]+\[\d+:\d+\] (.*))");

TEST_F(ConsoleTest, WritesOneLineWithDateAndProcess) {
    Console::log("Uploaded %@ of %lu bytes in %0.2f s", "movie.mov", 1024ul, 1.5);
    Console::write("already ended\n");
    std::vector<std::string> written = lines();
    ASSERT_EQ(written.size(), 2u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(written[0], match, kLineShape)) << written[0];
    EXPECT_EQ(match[1], "Uploaded movie.mov of 1024 bytes in 1.50 s");
    EXPECT_NE(written[0].find(std::string(program_invocation_short_name) + "[" +
                              std::to_string(getpid()) + ":"),
              std::string::npos);
    ASSERT_TRUE(std::regex_match(written[1], match, kLineShape)) << written[1];
    EXPECT_EQ(match[1], "already ended");
}

TEST_F(ConsoleTest, FormatsTheLocalTime) {
    setenv("TZ", "UTC", 1);
    tzset();
    std::string line = Console::line("x", 1700000000.25);
    EXPECT_TRUE(line.starts_with("2023-11-14 22:13:20.250 ")) << line;
    EXPECT_TRUE(line.ends_with("] x\n")) << line;
    unsetenv("TZ");
    tzset();
}

TEST_F(ConsoleTest, LinesFromManyThreadsStayWhole) {
    constexpr int kThreads = 8;
    constexpr int kLines = 300;
    const std::string padding(200, 'p');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &padding] {
            for (int i = 0; i < kLines; ++i) {
                Console::log("thread %d line %d %@", t, i, padding);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<std::string> written = lines();
    ASSERT_EQ(written.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : written) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, kLineShape)) << line;
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(match[1].str().c_str(), "thread %d line %d", &t, &i), 2) << line;
        ASSERT_TRUE(t >= 0 && t < kThreads);
        EXPECT_EQ(i, next[t]++);  // each thread's lines in order
        EXPECT_TRUE(line.ends_with(padding));
    }
}

}  // namespace
}  // namespace base
