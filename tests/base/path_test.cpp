#include "base/Path.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace base {
namespace {

struct Case {
    const char* in;
    const char* out;
};

TEST(PathTest, LastPathComponent) {
    for (Case c : {Case{"/tmp/scratch.tiff", "scratch.tiff"},
                   {"/tmp/scratch", "scratch"},
                   {"/tmp/", "tmp"},
                   {"scratch///", "scratch"},
                   {"/", "/"},
                   {"///", "/"},
                   {"", ""},
                   {"a", "a"}}) {
        EXPECT_EQ(lastPathComponent(c.in), c.out) << c.in;
    }
}

TEST(PathTest, PathExtensionIgnoresLeadingDotAndTrailingSlash) {
    for (Case c : {Case{"/tmp/scratch.tiff", "tiff"},
                   {".scratch.tiff", "tiff"},
                   {"/tmp/", ""},
                   {"/scratch..tiff", "tiff"},
                   {"/scratch.tiff/", "tiff"},
                   {"/tmp/.bashrc", ""},
                   {".bashrc", ""},
                   {"scratch.", ""},
                   {"a.b/c", ""},
                   {"/", ""},
                   {"archive.tar.gz", "gz"}}) {
        EXPECT_EQ(pathExtension(c.in), c.out) << c.in;
    }
}

TEST(PathTest, DeletingPathExtension) {
    for (Case c : {Case{"/tmp/scratch.tiff", "/tmp/scratch"},
                   {"/tmp/", "/tmp"},
                   {"scratch.bundle/", "scratch"},
                   {"scratch..tiff", "scratch."},
                   {".tiff", ".tiff"},
                   {"/", "/"},
                   {"/a.b/c", "/a.b/c"},
                   {"~/.bashrc", "~/.bashrc"}}) {
        EXPECT_EQ(deletingPathExtension(c.in), c.out) << c.in;
    }
}

TEST(PathTest, DeletingLastPathComponent) {
    for (Case c : {Case{"/tmp/scratch.tiff", "/tmp"},
                   {"/tmp/lock/", "/tmp"},
                   {"/tmp/", "/"},
                   {"/tmp", "/"},
                   {"/", "/"},
                   {"scratch.tiff", ""},
                   {"a//b", "a"},
                   {"", ""}}) {
        EXPECT_EQ(deletingLastPathComponent(c.in), c.out) << c.in;
    }
}

TEST(PathTest, AppendingComponentsAndExtensions) {
    EXPECT_EQ(appendingPathComponent("/tmp", "scratch.tiff"), "/tmp/scratch.tiff");
    EXPECT_EQ(appendingPathComponent("/tmp/", "scratch.tiff"), "/tmp/scratch.tiff");
    EXPECT_EQ(appendingPathComponent("/", "scratch.tiff"), "/scratch.tiff");
    EXPECT_EQ(appendingPathComponent("", "scratch.tiff"), "scratch.tiff");
    EXPECT_EQ(appendingPathComponent("/tmp//", "/a/b/"), "/tmp/a/b");
    EXPECT_EQ(appendingPathComponent("/tmp", ""), "/tmp");

    EXPECT_EQ(appendingPathExtension("/tmp/scratch.old", "tiff"), "/tmp/scratch.old.tiff");
    EXPECT_EQ(appendingPathExtension("/tmp/scratch.", "tiff"), "/tmp/scratch..tiff");
    EXPECT_EQ(appendingPathExtension("/tmp/", "tiff"), "/tmp.tiff");
    EXPECT_EQ(appendingPathExtension("scratch", "tiff"), "scratch.tiff");
    // Nothing to hang an extension on, or an extension that would add a folder.
    EXPECT_EQ(appendingPathExtension("/", "tiff"), "/");
    EXPECT_EQ(appendingPathExtension("", "tiff"), "");
    EXPECT_EQ(appendingPathExtension("/tmp/a", "x/y"), "/tmp/a");
}

TEST(PathTest, PathComponents) {
    using V = std::vector<std::string>;
    EXPECT_EQ(pathComponents("tmp/scratch"), (V{"tmp", "scratch"}));
    EXPECT_EQ(pathComponents("/tmp/scratch"), (V{"/", "tmp", "scratch"}));
    EXPECT_EQ(pathComponents("/tmp/scratch/"), (V{"/", "tmp", "scratch", "/"}));
    EXPECT_EQ(pathComponents("a//b"), (V{"a", "b"}));
    EXPECT_EQ(pathComponents("/"), (V{"/"}));
    EXPECT_EQ(pathComponents(""), V{});
}

class PathHomeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* home = getenv("HOME")) {
            saved_ = home;
        }
        setenv("HOME", "/home/tester", 1);
    }
    void TearDown() override {
        if (saved_) {
            setenv("HOME", saved_->c_str(), 1);
        } else {
            unsetenv("HOME");
        }
    }
    std::optional<std::string> saved_;
};

TEST_F(PathHomeTest, ExpandsTilde) {
    EXPECT_EQ(expandingTildeInPath("~"), "/home/tester");
    EXPECT_EQ(expandingTildeInPath("~/"), "/home/tester");
    EXPECT_EQ(expandingTildeInPath("~/Library/x.plist"), "/home/tester/Library/x.plist");
    EXPECT_EQ(expandingTildeInPath("~root/a"), "/root/a");
    EXPECT_EQ(expandingTildeInPath("~no-such-user-qv/a"), "~no-such-user-qv/a");
    EXPECT_EQ(expandingTildeInPath("/a/~/b"), "/a/~/b");
    EXPECT_EQ(expandingTildeInPath("a~"), "a~");
}

TEST_F(PathHomeTest, StandardizesLexically) {
    EXPECT_EQ(standardizingPath("/a/./b//c/"), "/a/b/c");
    EXPECT_EQ(standardizingPath("/a/b/../c"), "/a/c");
    EXPECT_EQ(standardizingPath("/../.."), "/");
    EXPECT_EQ(standardizingPath("/a/b/../../../c"), "/c");
    EXPECT_EQ(standardizingPath("~/x/../y"), "/home/tester/y");
    // Relative paths cannot resolve "..": there is nothing to resolve it against.
    EXPECT_EQ(standardizingPath("a/../b"), "a/../b");
    EXPECT_EQ(standardizingPath("./a/."), "a");
    EXPECT_EQ(standardizingPath("."), ".");
    EXPECT_EQ(standardizingPath(""), "");
}

}  // namespace
}  // namespace base
