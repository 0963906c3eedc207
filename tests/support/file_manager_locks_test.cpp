#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/system/FileFlags.h"
#include "support/OWFileManager.h"
#include "tests/platform/SystemTestTree.h"
#include "tests/support/FileManagerTestTree.h"

using filemanagertest::put;
using systemtest::runTool;

class FileManagerLocks : public filemanagertest::FileManagerTest {
  protected:
    void SetUp() override {
        FileManagerTest::SetUp();
        if (::geteuid() != 0) {
            GTEST_SKIP() << "the immutable flag needs root";
        }
        if (!platform::system::fileflags::isImmutable(dir_.path())) {
            GTEST_SKIP() << "file system without inode flags";
        }
    }
    void TearDown() override {
        runTool({"chattr", "-R", "-i", dir_.path()});
        FileManagerTest::TearDown();
    }
};

TEST_F(FileManagerLocks, UnlockFolderClearsEverythingInsideButTheFolder) {
    QV_REQUIRE_TOOL("lsattr");
    std::string folder = dir_.makeFolder("box");
    std::string a = put(dir_, "box/a", "a");
    std::string b = put(dir_, "box/sub/b", "b");
    OWFileManager::lockFolder(folder);
    EXPECT_TRUE(OWFileManager::isFileLocked(a));
    EXPECT_TRUE(OWFileManager::isFileLocked(b));
    EXPECT_FALSE(OWFileManager::isFileLocked(dir_.file("box/sub")));
    ASSERT_EQ(runTool({"chattr", "+i", folder}).status, 0);

    OWFileManager::unlockFolder(folder);
    EXPECT_FALSE(OWFileManager::isFileLocked(a));
    EXPECT_FALSE(OWFileManager::isFileLocked(b));
    EXPECT_TRUE(OWFileManager::isFileLocked(folder));  // its own flag stays
    auto ls = runTool({"lsattr", "-d", a});
    EXPECT_EQ(ls.out.substr(0, ls.out.find(' ')).find('i'), std::string::npos) << ls.out;
    OWFileManager::unlockFile(folder);
    EXPECT_FALSE(OWFileManager::isFileLocked(folder));
}

TEST_F(FileManagerLocks, ChangingOperationsUnlockFirst) {
    std::string f = put(dir_, "locked.mov", "x");
    OWFileManager::lockFile(f);
    ASSERT_TRUE(OWFileManager::isFileLocked(f));
    EXPECT_TRUE(OWFileManager::removeFile(f, false));
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(f));

    std::string g = put(dir_, "trashed.mov", "y");
    OWFileManager::lockFile(g);
    EXPECT_TRUE(OWFileManager::trashFile(g, false));
    EXPECT_TRUE(OWFileManager::fileExistsAtPath(trashFiles() + "/trashed.mov"));
    EXPECT_FALSE(OWFileManager::isFileLocked(dir_.file("missing")));
    OWFileManager::unlockFile(dir_.file("missing"));  // nothing to do, nothing logged
}

TEST(FileManagerVolumes, VolumesPrefixRulesStayLiteral) {
    EXPECT_TRUE(OWFileManager::isDriveMountedForPath("/home/user/file"));
    EXPECT_TRUE(OWFileManager::isDriveMountedForPath("/Volumes/"));
    EXPECT_TRUE(OWFileManager::isDriveMountedForPath("/Volumes"));
    EXPECT_FALSE(OWFileManager::isDriveMountedForPath("/Volumes/QvGone/a/b"));
    EXPECT_TRUE(OWFileManager::isDriveMountedForPath("/VolumesX/a/b"));
    // Without the slash "/VolumesX/a/b" is tested as the volume "a".
    EXPECT_FALSE(OWFileManager::isVolumeMountedForPath("/VolumesX/QvGone/b"));
    EXPECT_TRUE(OWFileManager::isVolumeMountedForPath("/Volumes"));
    EXPECT_FALSE(OWFileManager::isVolumeMountedForPath("/Volumes/QvGone"));
    EXPECT_TRUE(OWFileManager::isVolumeMountedForPath("/srv/x"));
}
