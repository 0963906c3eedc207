#include "base/UniqueFd.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

struct Pipe {
    Pipe() {
        int fds[2] = {-1, -1};
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        in.reset(fds[0]);
        out.reset(fds[1]);
    }
    base::UniqueFd in;
    base::UniqueFd out;
};

TEST(UniqueFd, ClosesWhatItOwnsOnceAndHandsItOverOnMoveOrRelease) {
    Pipe p;
    const int fd = p.in.get();
    {
        base::UniqueFd moved(std::move(p.in));
        EXPECT_FALSE(p.in.valid());
        EXPECT_EQ(moved.get(), fd);
        base::UniqueFd target;
        target = std::move(moved);
        EXPECT_FALSE(moved.valid());
        EXPECT_TRUE(isOpen(fd));
    }
    EXPECT_FALSE(isOpen(fd));

    const int writer = p.out.release();
    EXPECT_FALSE(p.out.valid());
    EXPECT_TRUE(isOpen(writer));
    base::UniqueFd again(writer);
    again.reset();
    EXPECT_FALSE(isOpen(writer));
}

TEST(UniqueFd, ReadFullyGathersShortReadsUntilTheEnd) {
    Pipe p;
    std::thread writer([out = std::move(p.out)] {
        for (const char* piece : {"ab", "cde", "f"}) {
            ASSERT_TRUE(base::writeFully(out.get(), std::string_view(piece)));
        }
    });
    char buffer[4] = {};
    bool failed = true;
    EXPECT_EQ(base::readFully(p.in.get(), buffer, sizeof buffer, &failed), 4u);
    EXPECT_FALSE(failed);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    writer.join();
    // The writer has gone: what is left, then end of file without an error.
    EXPECT_EQ(base::readFully(p.in.get(), buffer, sizeof buffer, &failed), 2u);
    EXPECT_FALSE(failed);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_EQ(base::readFully(p.in.get(), buffer, sizeof buffer, &failed), 0u);
    EXPECT_FALSE(failed);
}

TEST(UniqueFd, ErrorsAreReportedWithErrno) {
    Pipe p;
    char buffer[8];
    bool failed = false;
    EXPECT_EQ(base::readFully(p.out.get(), buffer, sizeof buffer, &failed), 0u);
    EXPECT_TRUE(failed);
    EXPECT_EQ(errno, EBADF);
    EXPECT_FALSE(base::writeFully(p.in.get(), "x", 1));
    EXPECT_EQ(errno, EBADF);
}

}  // namespace
