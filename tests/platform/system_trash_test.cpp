#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/system/FileOps.h"
#include "platform/system/Trash.h"
#include "tests/platform/SystemTestTree.h"

namespace fileops = platform::system::fileops;
using platform::system::Trash;
using systemtest::readFile;
using systemtest::runTool;
using systemtest::TempTree;

TEST(SystemTrash, CandidateNames) {
    EXPECT_EQ(Trash::candidateName("report.pdf", 0, "20240131235959"), "report.pdf");
    EXPECT_EQ(Trash::candidateName("report.pdf", 1, "20240131235959"), "report_20240131235959.pdf");
    EXPECT_EQ(Trash::candidateName("report.pdf", 2, "20240131235959"),
              "report_20240131235959_2.pdf");
    EXPECT_EQ(Trash::candidateName("README", 1, "20240131235959"), "README_20240131235959.");
    EXPECT_EQ(Trash::stamp(0).size(), 14u);
    EXPECT_EQ(Trash::encodePath("/a b/caf\xc3\xa9%.mov"), "/a%20b/caf%C3%A9%25.mov");
}

TEST(SystemTrash, SameNameTwiceInOneSecondKeepsBoth) {
    TempTree t;
    Trash trash(t / "data/Trash");
    std::vector<std::string> trashed;
    for (int i = 0; i < 3; ++i) {
        std::string f = t.write("docs/report.pdf", "version " + std::to_string(i));
        std::string as;
        auto s = trash.moveToTrash(f, &as);
        ASSERT_TRUE(s) << s.description();
        trashed.push_back(as);
    }
    EXPECT_EQ(readFile(trashed[0]), "version 0");
    EXPECT_EQ(readFile(trashed[1]), "version 1");
    EXPECT_EQ(readFile(trashed[2]), "version 2");
    EXPECT_EQ(fileops::lastComponent(trashed[0]), "report.pdf");
    EXPECT_NE(trashed[1], trashed[2]);

    std::string info = readFile(t / "data/Trash/info/report.pdf.trashinfo");
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + Trash::encodePath(t / "docs/report.pdf") +
                             "\nDeletionDate=",
                         0),
              0u)
        << info;
    EXPECT_EQ(fileops::itemInfo(t / "data/Trash/files")->mode & 0777, 0700u);
    EXPECT_FALSE(trash.moveToTrash(t / "docs/missing"));
}

TEST(SystemTrash, EntriesAreListedByTrashCliBesideGioEntries) {
    QV_REQUIRE_TOOL("trash-list");
    TempTree t;
    std::string data = t / "data";
    Trash trash(data + "/Trash");
    std::string ours = t.write("work/clip one.mov", "ours");
    ASSERT_TRUE(trash.moveToTrash(ours));
    const std::string env = "XDG_DATA_HOME=" + data;
    if (systemtest::haveTool("gio")) {
        std::string theirs = t.write("work/theirs.txt", "gio");
        auto g = runTool({"gio", "trash", theirs}, {env, "HOME=" + t.path()});
        if (g.status == 0) {
            EXPECT_FALSE(fileops::exists(theirs));
            // A gio entry of the same name, then ours again beside it.
            std::string again = t.write("work/theirs.txt", "ours again");
            ASSERT_TRUE(trash.moveToTrash(again));
        }
    }
    auto listing = runTool({"trash-list"}, {env});
    EXPECT_NE(listing.out.find(t / "work/clip one.mov"), std::string::npos) << listing.out;
    if (listing.out.find("theirs.txt") != std::string::npos) {
        size_t first = listing.out.find(t / "work/theirs.txt");
        EXPECT_NE(listing.out.find(t / "work/theirs.txt", first + 1), std::string::npos)
            << listing.out;
    }
}

TEST(SystemTrash, OtherFileSystemsUseTheirOwnTrash) {
    if (!fileops::isDirectory("/dev/shm") || !fileops::isWritable("/dev/shm")) {
        GTEST_SKIP() << "no writable /dev/shm";
    }
    TempTree home;
    TempTree shm("/dev/shm");
    Trash trash(home / "Trash");
    std::string f = shm.write("clip.mov", "on tmpfs");
    std::string as;
    auto s = trash.moveToTrash(f, &as);
    ASSERT_TRUE(s) << s.description();
    std::string root = "/dev/shm/.Trash-" + std::to_string(::getuid());
    EXPECT_EQ(as.rfind(root + "/files/", 0), 0u) << as;
    EXPECT_EQ(readFile(as), "on tmpfs");
    // The volume trash records the path relative to its mount point.
    std::string infoPath = root + "/info/" + fileops::lastComponent(as) + ".trashinfo";
    std::string info = readFile(infoPath);
    std::string rel = shm.path().substr(std::string("/dev/shm/").size()) + "/clip.mov";
    EXPECT_NE(info.find("Path=" + Trash::encodePath(rel) + "\n"), std::string::npos) << info;
    fileops::removeTree(as);
    ::unlink(infoPath.c_str());
}
