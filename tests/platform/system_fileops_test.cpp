#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/system/FileOps.h"
#include "tests/platform/SystemTestTree.h"

namespace fileops = platform::system::fileops;
using systemtest::readFile;
using systemtest::TempTree;

TEST(SystemFileOps, CopyNeverReplacesAndKeepsLinksModesDatesAndAttributes) {
    TempTree t;
    t.write("src/a.txt", "alpha");
    t.write("src/sub/b.txt", "beta");
    ::symlink("/etc", (t / "src/outside").c_str());
    ::chmod((t / "src/a.txt").c_str(), 0600);
    fileops::setModificationTime(t / "src/a.txt", 1'234'567'890.5);
    ::setxattr((t / "src/a.txt").c_str(), "user.tag", "red", 3, 0);

    ASSERT_TRUE(fileops::copyTree(t / "src", t / "dst"));
    EXPECT_EQ(readFile(t / "dst/sub/b.txt"), "beta");
    EXPECT_TRUE(fileops::isSymbolicLink(t / "dst/outside"));
    auto info = fileops::itemInfo(t / "dst/a.txt");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->mode & 0777, 0600u);
    EXPECT_DOUBLE_EQ(info->modified, 1'234'567'890.5);
    char tag[8] = {};
    EXPECT_EQ(::getxattr((t / "dst/a.txt").c_str(), "user.tag", tag, sizeof tag), 3);

    // Onto an existing file or folder: refused, and the destination is untouched.
    t.write("other.txt", "keep");
    auto s = fileops::copyTree(t / "src/a.txt", t / "other.txt");
    EXPECT_EQ(s.error(), EEXIST);
    EXPECT_EQ(readFile(t / "other.txt"), "keep");
    EXPECT_EQ(fileops::copyTree(t / "src", t / "dst").error(), EEXIST);
    EXPECT_FALSE(fileops::copyTree(t / "missing", t / "x"));
    EXPECT_FALSE(fileops::existsOrIsLink(t / "x"));
}

TEST(SystemFileOps, FailedFolderCopyLeavesNothingBehind) {
    TempTree t;
    t.write("src/a.txt", "alpha");
    ::mkfifo((t / "src/pipe").c_str(), 0600);  // copied as a FIFO
    ASSERT_TRUE(fileops::copyTree(t / "src", t / "ok"));
    // A socket cannot be copied: the half-made destination is removed again.
    std::string sock = t / "src/zz.sock";
    ::mknod(sock.c_str(), S_IFSOCK | 0600, 0);
    EXPECT_FALSE(fileops::copyTree(t / "src", t / "bad"));
    EXPECT_FALSE(fileops::existsOrIsLink(t / "bad"));
}

TEST(SystemFileOps, MoveNeverReplacesAndCrossesFileSystems) {
    TempTree t;
    t.write("a", "A");
    t.write("b", "B");
    EXPECT_EQ(fileops::moveItem(t / "a", t / "b").error(), EEXIST);
    EXPECT_EQ(readFile(t / "b"), "B");
    ASSERT_TRUE(fileops::moveItem(t / "a", t / "c"));
    EXPECT_FALSE(fileops::exists(t / "a"));
    EXPECT_FALSE(fileops::moveItem(t / "missing", t / "d"));

    // /dev/shm is a tmpfs of its own: the move copies and removes.
    if (!fileops::isDirectory("/dev/shm")) {
        GTEST_SKIP() << "no /dev/shm";
    }
    TempTree shm("/dev/shm");
    t.write("tree/x/y.txt", "deep");
    ::symlink("x/y.txt", (t / "tree/link").c_str());
    auto s = fileops::moveItem(t / "tree", shm / "tree");
    ASSERT_TRUE(s) << s.description();
    EXPECT_FALSE(fileops::existsOrIsLink(t / "tree"));
    EXPECT_EQ(readFile(shm / "tree/x/y.txt"), "deep");
    EXPECT_TRUE(fileops::isSymbolicLink(shm / "tree/link"));
}

TEST(SystemFileOps, RemovalAndSizesNeverFollowLinkedFolders) {
    TempTree t;
    t.write("keep/precious.txt", "0123456789");
    t.write("tree/file.txt", "abc");
    ::symlink((t / "keep").c_str(), (t / "tree/linked").c_str());
    ::symlink((t / "tree").c_str(), (t / "tree/loop").c_str());

    // Three bytes of file plus the two link items themselves, nothing from "keep".
    uint64_t linkSizes = (t / "keep").size() + (t / "tree").size();
    EXPECT_EQ(fileops::treeSize(t / "tree"), 3 + linkSizes);
    EXPECT_EQ(fileops::treeSize(t / "keep/precious.txt"), 10u);
    EXPECT_EQ(fileops::treeSize(t / "missing"), 0u);

    ASSERT_TRUE(fileops::removeTree(t / "tree"));
    EXPECT_FALSE(fileops::existsOrIsLink(t / "tree"));
    EXPECT_EQ(readFile(t / "keep/precious.txt"), "0123456789");
    EXPECT_EQ(fileops::removeTree(t / "tree").error(), ENOENT);
}

TEST(SystemFileOps, CreateDirectoriesAndListing) {
    TempTree t;
    ASSERT_TRUE(fileops::createDirectories(t / "a/b/c"));
    EXPECT_TRUE(fileops::createDirectories(t / "a/b"));  // existing counts
    t.write("file", "x");
    EXPECT_FALSE(fileops::createDirectories(t / "file/sub"));
    EXPECT_FALSE(fileops::createDirectories(t / "file"));
    t.write("a/zeta", "");
    t.write("a/Alpha", "");
    EXPECT_EQ(*fileops::listDirectory(t / "a"), (std::vector<std::string>{"Alpha", "b", "zeta"}));
    EXPECT_FALSE(fileops::listDirectory(t / "missing"));
    EXPECT_TRUE(fileops::createEmptyFile(t / "empty"));
    EXPECT_EQ(fileops::createEmptyFile(t / "empty").error(), EEXIST);
}

TEST(SystemFileOps, DatesAndLinkQueries) {
    TempTree t;
    std::string f = t.write("f", "x");
    ::symlink("nowhere", (t / "dangling").c_str());
    EXPECT_TRUE(fileops::isSymbolicLink(t / "dangling"));
    EXPECT_FALSE(fileops::exists(t / "dangling"));
    EXPECT_TRUE(fileops::existsOrIsLink(t / "dangling"));
    ASSERT_TRUE(fileops::setModificationTime(f, 86400.25));
    EXPECT_DOUBLE_EQ(fileops::itemInfo(f)->modified, 86400.25);
    EXPECT_TRUE(fileops::itemInfo(f)->created.has_value());  // ext4 and tmpfs keep it
    EXPECT_FALSE(fileops::setModificationTime(t / "missing", 1));
}

TEST(SystemFileOps, PathHelpers) {
    EXPECT_EQ(fileops::lastComponent("/a/b/"), "b");
    EXPECT_EQ(fileops::lastComponent("/"), "/");
    EXPECT_EQ(fileops::parentPath("/a/b"), "/a");
    EXPECT_EQ(fileops::parentPath("/a"), "/");
    EXPECT_EQ(fileops::parentPath("a"), "");
    EXPECT_EQ(fileops::joinPath("/dest", "/a/b"), "/dest/a/b");
    EXPECT_EQ(fileops::joinPath("/", "x"), "/x");
    EXPECT_EQ(fileops::joinPath("/dest/", "x"), "/dest/x");
    using Parts = std::vector<std::string>;
    EXPECT_EQ(fileops::pathComponents("/Volumes//Disk/a/"), (Parts{"/", "Volumes", "Disk", "a"}));
    EXPECT_EQ(fileops::pathComponents("a/*.mov"), (Parts{"a", "*.mov"}));
    EXPECT_EQ(fileops::pathComponents(""), Parts{});
    EXPECT_EQ(fileops::pathExtension("/m/movie.MOV"), "MOV");
    EXPECT_EQ(fileops::pathExtension("/m/.hidden"), "");
    EXPECT_EQ(fileops::pathExtension("/m.d/README"), "");
    EXPECT_EQ(fileops::deletingPathExtension("/m/movie.mov"), "/m/movie");
    EXPECT_EQ(fileops::deletingPathExtension("/m.d/README"), "/m.d/README");
}
