#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <regex>

#include "base/Console.h"
#include "platform/system/FileOps.h"
#include "platform/system/PrivilegeDirect.h"
#include "support/OWAuthorization.h"
#include "support/OWFileManager.h"
#include "support/OWLocalPaths.h"
#include "tests/platform/SystemTestTree.h"
#include "tests/support/FileManagerTestTree.h"

namespace fileops = platform::system::fileops;
using filemanagertest::put;
using platform::system::PrivilegedCommand;
using platform::system::PrivilegeRecording;

class Authorization : public filemanagertest::FileManagerTest {
  protected:
    OWAuthorization& auth() { return OWAuthorization::sharedController(); }
};

TEST_F(Authorization, OneSharedInstanceAndItsRightsLifecycle) {
    EXPECT_EQ(&OWAuthorization::sharedController(false), &OWAuthorization::sharedController());
    useRecording({.grantAvailable = false, .user = "ann", .password = "pw"});
    EXPECT_FALSE(auth().isAuthorized());
    auth().setHasGUI(false);
    EXPECT_FALSE(auth().canAuthorize());
    EXPECT_FALSE(auth().authStart());  // "Unable to authorize"
    EXPECT_EQ(recording_->obtainCount(), 0);
    auth().setHasGUI(true);
    EXPECT_FALSE(auth().authStart());  // refused
    EXPECT_FALSE(auth().authStartWithUser("ann", "wrong"));
    EXPECT_FALSE(auth().isAuthorized());
    EXPECT_FALSE(auth().authStartWithUser("", "pw"));
    EXPECT_TRUE(auth().authStartWithUser("ann", "pw"));
    EXPECT_TRUE(auth().isAuthorized());
    EXPECT_TRUE(auth().authStart());  // already held
    EXPECT_EQ(recording_->obtainCount(), 1);
    auth().authEnd();
    EXPECT_FALSE(auth().isAuthorized());

    // Without a right every operation answers NO and nothing runs.
    std::string f = put(dir_, "f", "x");
    EXPECT_FALSE(auth().authRemoveFile(f));
    EXPECT_EQ(auth().authExecTask("/bin/true", {}, false), -1);
    EXPECT_TRUE(recording_->commands().empty());

    useRecording({.runsAsRoot = true});
    EXPECT_TRUE(auth().isAuthorized());
    EXPECT_TRUE(auth().canAuthorize());
}

TEST_F(Authorization, CommandLinesAndSystemFolderRefusals) {
    std::string f = put(dir_, "a b.txt", "x");
    std::string d = dir_.file("dest");
    EXPECT_TRUE(auth().authRemoveFile(f));
    EXPECT_TRUE(auth().authMoveFile(f, d));
    EXPECT_TRUE(auth().authCopyFile(f, d));
    EXPECT_TRUE(auth().authCreateDir(dir_.file("new dir")));
    std::vector<PrivilegedCommand> expected = {
        {"/bin/rm", {"-Rdf", "--", f}},
        {"/bin/mv", {"-f", "--", f, d}},
        {"/bin/cp", {"-f", "-p", "-R", "--", f, d}},
        {"/bin/mkdir", {"-p", "--", dir_.file("new dir")}},
    };
    EXPECT_EQ(recording_->commands(), expected);

    EXPECT_FALSE(auth().authRemoveFile("/usr"));
    EXPECT_FALSE(auth().authRemoveFile("/usr/"));
    EXPECT_FALSE(auth().authMoveFile("/usr", d));
    EXPECT_FALSE(auth().authTrashFile("/usr"));
    EXPECT_FALSE(auth().authTrashFolderContents("/usr"));
    EXPECT_FALSE(auth().authMoveFolderContents("/usr", d));
    EXPECT_EQ(recording_->commands().size(), expected.size());
    // Inside a system folder is allowed; copy and mkdir never refuse.
    EXPECT_TRUE(auth().authRemoveFile("/usr/qv-no-such-file"));
    EXPECT_TRUE(auth().authCreateDir("/usr"));

    // Missing or empty arguments: NO, nothing started.
    size_t before = recording_->commands().size();
    EXPECT_FALSE(auth().authMoveFile("", d));
    EXPECT_FALSE(auth().authMoveFile(f, ""));
    EXPECT_FALSE(auth().authCopyFile("", d));
    EXPECT_FALSE(auth().authCopyFile(dir_.file("missing"), d));
    EXPECT_EQ(auth().authExecTask("/no/such/tool", {}), -2);
    EXPECT_EQ(recording_->commands().size(), before);
}

TEST_F(Authorization, AToolThatFailsMakesTheOperationFail) {
    std::string f = put(dir_, "f", "x");
    recording_->setExitStatus(1);
    EXPECT_FALSE(auth().authRemoveFile(f));
    EXPECT_FALSE(auth().authMoveFile(f, dir_.file("g")));
    EXPECT_FALSE(auth().authCopyFile(f, dir_.file("g")));
    EXPECT_FALSE(auth().authCreateDir(dir_.file("d")));
    EXPECT_EQ(auth().authExecTask("/bin/true", {}, false), 1);
    EXPECT_EQ(auth().authExecTask("/bin/true", {}, true), 1);  // as the backend answers
}

TEST_F(Authorization, TrashingTheSameNameTwiceNeverOverwrites) {
    // Performed for real: root runs mv itself; others keep the recorded answer.
    bool root = ::getuid() == 0;
    useRecording({.runsAsRoot = false, .perform = root});
    std::vector<std::string> targets;
    for (int i = 0; i < 3; ++i) {
        std::string f = put(dir_, "docs/report.pdf", "v" + std::to_string(i));
        ASSERT_TRUE(auth().authTrashFile(f));
        targets.push_back(recording_->commands().back().arguments.back());
    }
    std::string trash = OWLocalPaths::trashDirectory() + "/files/";
    EXPECT_EQ(targets[0], trash + "report.pdf");
    EXPECT_TRUE(std::regex_match(targets[1], std::regex(".*/report_[0-9]{14}\\.pdf")));
    // The third takes the second's stamp with "_2", or its own when a second has passed.
    EXPECT_TRUE(std::regex_match(targets[2], std::regex(".*/report_[0-9]{14}(_2)?\\.pdf")));
    EXPECT_NE(targets[2], targets[1]);
    if (root) {
        EXPECT_EQ(testsupport::readFile(targets[0]), "v0");
        EXPECT_EQ(testsupport::readFile(targets[2]), "v2");
    }
    // Each slot has its info file, so other trash tools see it too.
    EXPECT_TRUE(fileops::exists(OWLocalPaths::trashDirectory() + "/info/" +
                                fileops::lastComponent(targets[1]) + ".trashinfo"));

    put(dir_, "README", "r");
    put(dir_, "again/README", "r2");
    ASSERT_TRUE(auth().authTrashFile(dir_.file("README")));
    ASSERT_TRUE(auth().authTrashFile(dir_.file("again/README")));
    EXPECT_TRUE(std::regex_match(recording_->commands().back().arguments.back(),
                                 std::regex(".*/README_[0-9]{14}\\.")));

    // A failed move gives its reserved name back.
    useRecording({});
    recording_->setExitStatus(1);
    put(dir_, "lost.txt", "x");
    EXPECT_FALSE(auth().authTrashFile(dir_.file("lost.txt")));
    EXPECT_FALSE(fileops::exists(OWLocalPaths::trashDirectory() + "/info/lost.txt.trashinfo"));
    EXPECT_FALSE(auth().authTrashFile(dir_.file("never-existed")));
}

TEST_F(Authorization, RootAccountDeletesInsteadOfTrashingWhenAsked) {
    useRecording({.runsAsRoot = true});
    std::string f = put(dir_, "box/one", "1");
    put(dir_, "box/two", "2");
    EXPECT_TRUE(auth().authTrashFile(f, true));
    EXPECT_EQ(recording_->commands().back(), (PrivilegedCommand{"/bin/rm", {"-Rdf", "--", f}}));
    EXPECT_TRUE(auth().authTrashFolderContents(dir_.file("box"), true));
    auto cmds = recording_->commands();
    EXPECT_EQ(cmds[cmds.size() - 2],
              (PrivilegedCommand{"/bin/rm", {"-R", "-f", "--", dir_.file("box/one")}}));
    EXPECT_EQ(cmds.back(),
              (PrivilegedCommand{"/bin/rm", {"-R", "-f", "--", dir_.file("box/two")}}));

    // Not asked to delete: the entries are moved to the Trash one by one.
    EXPECT_TRUE(auth().authTrashFolderContents(dir_.file("box"), false));
    EXPECT_EQ(recording_->commands().back().tool, "/bin/mv");
    EXPECT_TRUE(auth().authTrashFolderContents(dir_.file("missing")));

    EXPECT_TRUE(auth().authMoveFolderContents(dir_.file("box"), dir_.file("to")));
    EXPECT_EQ(
        recording_->commands().back(),
        (PrivilegedCommand{"/bin/mv", {"-f", "--", dir_.file("box/two"), dir_.file("to/two")}}));
}

TEST_F(Authorization, TheDirectRoadActsOnRealTreesAndReportsFailures) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "the direct road is the root road";
    }
    auth().setBackend(std::make_unique<platform::system::PrivilegeDirect>());
    std::string src = put(dir_, "src/a.txt", "new");
    std::string dst = put(dir_, "dst.txt", "old");
    EXPECT_TRUE(auth().authCopyFile(src, dst));
    EXPECT_EQ(testsupport::readFile(dst), "new");
    EXPECT_TRUE(auth().authCreateDir(dir_.file("x/y/z")));
    EXPECT_TRUE(fileops::isDirectory(dir_.file("x/y/z")));
    EXPECT_TRUE(auth().authMoveFile(dst, dir_.file("x/moved.txt")));
    EXPECT_TRUE(auth().authRemoveFile(dir_.file("x")));
    EXPECT_FALSE(fileops::exists(dir_.file("x")));
    // mv onto a path it cannot make: the tool fails and so does the operation.
    EXPECT_FALSE(auth().authMoveFile(src, dir_.file("no/such/folder/a.txt")));
    EXPECT_FALSE(auth().authCreateDir(src + "/below-a-file"));
    EXPECT_EQ(auth().authExecTask("/bin/false", {}, false), 1);
    EXPECT_EQ(auth().authExecTask("/bin/false", {}, true), 0);  // started, not waited for
}

TEST_F(Authorization, ConsoleMessagesNameWhatWasRefused) {
    std::string log = dir_.file("console.txt");
    int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int previous = base::Console::setOutput(fd);
    auth().authRemoveFile("/usr");
    auth().authTrashFile("/usr");
    auth().authMoveFile("", "/x");
    auth().authExecTask("/no/such/tool", {});
    useRecording({.grantAvailable = false});
    auth().setHasGUI(false);
    auth().authStart();
    OWFileManager::createDirectory("/Volumes/QvGoneVolume/x");
    useRecording({.user = "ann", .password = "pw", .passwordCheckError = ENOENT});
    EXPECT_FALSE(auth().authStartWithUser("ann", "pw"));
    EXPECT_EQ(recording_->obtainCount(), 0);
    useRecording({.user = "ann", .password = "pw"});
    EXPECT_FALSE(auth().authStartWithUser("ann", "wrong"));
    base::Console::setOutput(previous);
    ::close(fd);
    std::string text = testsupport::readFile(log);
    for (const char* expected :
         {"Unable to delete path /usr because it is a system directory.",
          "Unable to trash path /usr because it is a system directory.",
          "Error in authMoveFile: old path is null",
          "Unable to execute task: path /no/such/tool doesn't exist", "Unable to authorize",
          "Unable to create directory. Drive is not mounted.", "Unable to create authRef - error 2",
          "Authorization failed. Invalid username or password"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
}

// An ordinary user in a graphical session is asked the desktop's way: the fallback runs
// each tool through pkexec, and a dismissed dialog fails the operation.
TEST_F(Authorization, AGraphicalSessionIsAskedThroughPolkit) {
    systemtest::TempTree t;
    const std::string pkexec = systemtest::writePrivilegeStandIn(t, "pkexec");
    auth().setBackend(
        platform::system::makePrivilegeBackend({.graphical = true}, {pkexec, t / "no-sudo"}));
    EXPECT_FALSE(auth().runsAsRoot());
    const std::string f = put(dir_, "f", "x");
    EXPECT_TRUE(auth().authCreateDir(dir_.file("made")));
    EXPECT_TRUE(fileops::isDirectory(dir_.file("made")));
    EXPECT_TRUE(auth().isAuthorized());
    t.write("pkexec.deny", "");
    EXPECT_FALSE(auth().authRemoveFile(f));
    EXPECT_TRUE(fileops::exists(f));
    EXPECT_EQ(systemtest::readFile(pkexec + ".calls"),
              "--disable-internal-agent|/bin/mkdir|-p|--|" + dir_.file("made") +
                  "|\n--disable-internal-agent|/bin/rm|-Rdf|--|" + f + "|\n");
}
