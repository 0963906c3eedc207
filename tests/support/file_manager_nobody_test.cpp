// Permission failures as they really happen: this test binary runs itself again as
// "nobody" (setpriv) against a root-owned tree, with the privileged road recording.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/system/FileOps.h"
#include "platform/system/PrivilegeRecording.h"
#include "support/OWAuthorization.h"
#include "support/OWFileManager.h"
#include "tests/platform/SystemTestTree.h"

namespace fileops = platform::system::fileops;
using platform::system::PrivilegedCommand;
using platform::system::PrivilegeRecording;

TEST(FileManagerAsNobody, RefusedOperationsFallBackToThePrivilegedRoad) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "dropping to nobody needs root";
    }
    QV_REQUIRE_TOOL("setpriv");
    systemtest::TempTree tree;
    ::chmod(tree.path().c_str(), 0755);
    tree.write("protected/f.mov", "root's");
    tree.mkdir("home");
    tree.write("home/x.txt", "nobody's");
    ::chmod((tree / "home").c_str(), 0777);
    ::chmod((tree / "home/x.txt").c_str(), 0666);
    char self[PATH_MAX] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    // A copy inside the tree, because the build folder may be closed to nobody.
    const std::string exe = tree / "tests_support";
    ASSERT_TRUE(fileops::copyTree(self, exe));
    ::chmod(exe.c_str(), 0755);

    // The child's log lines reach standard output from the log's own queue and can land
    // inside GoogleTest's lines, so the child's verdict is read from its report file.
    const std::string report = tree / "home/child.xml";
    auto r = systemtest::runTool(
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--", "env",
         "QV_NOBODY_TREE=" + tree.path(), "HOME=" + (tree / "home"),
         "XDG_DATA_HOME=" + (tree / "home/data"), "XDG_STATE_HOME=" + (tree / "home/state"), exe,
         "--gtest_filter=FileManagerAsNobodyChild.*", "--gtest_output=xml:" + report});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string verdict = systemtest::readFile(report);
    EXPECT_NE(verdict.find("name=\"FallbacksAreAskedForAndFailuresReported\""), std::string::npos)
        << r.out;
    EXPECT_NE(verdict.find("result=\"completed\""), std::string::npos) << verdict;
    EXPECT_NE(verdict.find("failures=\"0\""), std::string::npos) << verdict;
    EXPECT_EQ(systemtest::readFile(tree / "protected/f.mov"), "root's");
}

// Runs only inside the process started above.
TEST(FileManagerAsNobodyChild, FallbacksAreAskedForAndFailuresReported) {
    const char* root = std::getenv("QV_NOBODY_TREE");
    if (!root) {
        GTEST_SKIP() << "runs as nobody from FileManagerAsNobody";
    }
    ASSERT_NE(::getuid(), 0u);
    std::string tree = root;
    std::string f = tree + "/protected/f.mov";
    std::string mine = tree + "/home/x.txt";
    auto backend = std::make_unique<PrivilegeRecording>();
    auto* rec = backend.get();
    OWAuthorization::sharedController().setBackend(std::move(backend));

    EXPECT_FALSE(OWFileManager::removeFile(f, false));
    EXPECT_FALSE(OWFileManager::createDirectory(tree + "/protected/new", false));
    EXPECT_FALSE(OWFileManager::copyFile(mine, tree + "/protected/x.txt", false));
    EXPECT_FALSE(OWFileManager::moveFile(f, tree + "/home/moved.mov", false));
    EXPECT_FALSE(OWFileManager::trashFile(f, false));
    EXPECT_TRUE(rec->commands().empty());

    EXPECT_TRUE(OWFileManager::removeFile(f));
    EXPECT_EQ(rec->commands().back(), (PrivilegedCommand{"/bin/rm", {"-Rdf", "--", f}}));
    EXPECT_TRUE(OWFileManager::createDirectory(tree + "/protected/new"));
    EXPECT_EQ(rec->commands().back(),
              (PrivilegedCommand{"/bin/mkdir", {"-p", "--", tree + "/protected/new"}}));
    EXPECT_TRUE(OWFileManager::copyFile(mine, tree + "/protected/x.txt"));
    EXPECT_EQ(rec->commands().back().tool, "/bin/cp");
    EXPECT_TRUE(OWFileManager::moveFile(f, tree + "/home/moved.mov"));
    EXPECT_EQ(rec->commands().back(),
              (PrivilegedCommand{"/bin/mv", {"-f", "--", f, tree + "/home/moved.mov"}}));
    EXPECT_TRUE(OWFileManager::trashFile(f));
    EXPECT_EQ(
        rec->commands().back(),
        (PrivilegedCommand{"/bin/mv", {"-f", "--", f, tree + "/home/data/Trash/files/f.mov"}}));
    EXPECT_TRUE(fileops::exists(tree + "/home/data/Trash/info/f.mov.trashinfo"));

    // The tools fail: so do the operations, and the trash slot is given back.
    rec->setExitStatus(1);
    EXPECT_FALSE(OWFileManager::removeFile(f));
    EXPECT_FALSE(OWFileManager::createDirectory(tree + "/protected/new"));
    EXPECT_FALSE(OWFileManager::moveFile(f, tree + "/home/moved.mov"));
    EXPECT_FALSE(OWFileManager::trashFile(f));
    EXPECT_FALSE(OWFileManager::touchFile(f));  // not writable: the privileged touch failed
    EXPECT_EQ(rec->commands().back(), (PrivilegedCommand{"/usr/bin/touch", {"-c", "--", f}}));
}
