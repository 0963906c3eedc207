#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/system/FileFlags.h"
#include "platform/system/XAttr.h"
#include "tests/platform/SystemTestTree.h"

namespace xattr = platform::system::xattr;
namespace fileflags = platform::system::fileflags;
using systemtest::runTool;
using systemtest::TempTree;

TEST(SystemXAttr, NamesWithoutNamespaceAreUserAttributes) {
    EXPECT_EQ(xattr::qualifiedName("com.example.progress"), "user.com.example.progress");
    EXPECT_EQ(xattr::qualifiedName("user.tag"), "user.tag");
    EXPECT_EQ(xattr::qualifiedName("trusted.x"), "trusted.x");
    EXPECT_EQ(xattr::qualifiedName("usertag"), "user.usertag");
}

TEST(SystemXAttr, WrittenValuesAreReadByPythonAndGetfattr) {
    QV_REQUIRE_TOOL("python3");
    TempTree t;
    std::string f = t.write("f", "x");
    ASSERT_TRUE(xattr::set(f, "com.example.note", "caf\xc3\xa9 0.500"));
    auto py = runTool({"python3", "-c",
                       "import os,sys\nsys.stdout.buffer.write(os.getxattr(sys.argv[1], "
                       "'user.com.example.note'))",
                       f});
    EXPECT_EQ(py.out, "caf\xc3\xa9 0.500");
    if (systemtest::haveTool("getfattr")) {
        auto g = runTool({"getfattr", "--only-values", "-n", "user.com.example.note", f});
        EXPECT_EQ(g.out, "caf\xc3\xa9 0.500");
    }
    EXPECT_EQ(*xattr::get(f, "com.example.note"), "caf\xc3\xa9 0.500");
    EXPECT_EQ(xattr::size(f, "com.example.note"), 11);

    ASSERT_TRUE(xattr::remove(f, "com.example.note"));
    int err = 0;
    EXPECT_FALSE(xattr::get(f, "com.example.note", &err));
    EXPECT_EQ(err, ENODATA);
    EXPECT_FALSE(xattr::set(t / "missing", "a", "b"));
    // An empty value is a value.
    ASSERT_TRUE(xattr::set(f, "empty", ""));
    EXPECT_EQ(*xattr::get(f, "empty"), "");
}

TEST(SystemXAttr, ReadingWhileAnotherWriterResizesNeverTruncates) {
    TempTree t;
    std::string f = t.write("f", "x");
    const std::string small(10, 's');
    const std::string large(3000, 'L');
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            xattr::set(f, "flip", (i % 2) ? large : small);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        auto v = xattr::get(f, "flip");
        if (v) {
            ASSERT_TRUE(*v == small || *v == large) << v->size();
        }
    }
    stop = true;
    writer.join();
}

TEST(SystemFileFlags, ImmutableFlagMatchesLsattrAndChattr) {
    QV_REQUIRE_TOOL("lsattr");
    if (::geteuid() != 0) {
        GTEST_SKIP() << "changing the immutable flag needs root";
    }
    TempTree t;
    std::string f = t.write("f", "x");
    auto before = fileflags::isImmutable(f);
    if (!before) {
        GTEST_SKIP() << "file system without inode flags";
    }
    EXPECT_FALSE(*before);
    ASSERT_TRUE(fileflags::setImmutable(f, true));
    auto ls = runTool({"lsattr", "-d", f});
    EXPECT_EQ(ls.out.substr(0, ls.out.find(' ')).find('i') != std::string::npos, true) << ls.out;
    EXPECT_NE(::unlink(f.c_str()), 0);  // really immutable

    ASSERT_EQ(runTool({"chattr", "-i", f}).status, 0);
    EXPECT_FALSE(*fileflags::isImmutable(f));
    ASSERT_EQ(runTool({"chattr", "+i", f}).status, 0);
    EXPECT_TRUE(*fileflags::isImmutable(f));
    ASSERT_TRUE(fileflags::setImmutable(f, false));
    EXPECT_TRUE(fileflags::setImmutable(f, false));  // already clear
    EXPECT_EQ(::unlink(f.c_str()), 0);

    ::symlink("/etc/passwd", (t / "link").c_str());
    EXPECT_FALSE(fileflags::isImmutable(t / "link"));
    EXPECT_FALSE(fileflags::setImmutable(t / "link", true));
}
