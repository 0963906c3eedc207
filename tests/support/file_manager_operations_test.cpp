#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "base/RunLoop.h"
#include "platform/system/FileOps.h"
#include "support/OWFileManager.h"
#include "tests/helpers/MainThread.h"
#include "tests/support/FileManagerTestTree.h"

namespace fileops = platform::system::fileops;
using filemanagertest::put;
using platform::system::PrivilegedCommand;
using testsupport::readFile;
using namespace std::chrono_literals;

class FileManagerOperations : public filemanagertest::FileManagerTest {};

TEST_F(FileManagerOperations, TrashKeepsEveryVersionAndAnswersYesForNothing) {
    EXPECT_TRUE(OWFileManager::trashFile(dir_.file("nothing-here")));
    for (int i = 0; i < 3; ++i) {
        std::string f = put(dir_, "report.pdf", "v" + std::to_string(i));
        ASSERT_TRUE(OWFileManager::trashFile(f));
        EXPECT_FALSE(OWFileManager::fileExistsAtPath(f));
    }
    auto trashed = fileops::listDirectory(trashFiles());
    ASSERT_TRUE(trashed);
    EXPECT_EQ(trashed->size(), 3u);
    EXPECT_TRUE(recording_->commands().empty());  // no privileges were needed

    std::string folder = dir_.makeFolder("box");
    put(dir_, "box/a", "a");
    put(dir_, "box/b", "b");
    EXPECT_TRUE(OWFileManager::trashDirectoryContents(folder));
    EXPECT_TRUE(OWFileManager::isDirectoryAtPath(folder));
    EXPECT_EQ(fileops::listDirectory(folder)->size(), 0u);
}

TEST_F(FileManagerOperations, TrashByTypeAndNameSearchesFoldersButNotLinks) {
    put(dir_, "media/movie.mov", "1");
    put(dir_, "media/deep/clip.Mov", "2");
    put(dir_, "media/Show.fcpbundle/inner.MOV", "3");
    put(dir_, "media/keep.mp4", "4");
    put(dir_, "outside/far.mov", "5");
    ::symlink(dir_.file("outside").c_str(), dir_.file("media/linked").c_str());

    auto trashed = OWFileManager::trashFilesOfType("MOV", dir_.file("media"));
    std::vector<std::string> expected = {dir_.file("media/Show.fcpbundle/inner.MOV"),
                                         dir_.file("media/deep/clip.Mov"),
                                         dir_.file("media/movie.mov")};
    EXPECT_EQ(trashed, expected);
    EXPECT_TRUE(OWFileManager::fileExistsAtPath(dir_.file("media/keep.mp4")));
    EXPECT_TRUE(OWFileManager::fileExistsAtPath(dir_.file("outside/far.mov")));

    put(dir_, "named/x/notes.txt", "1");
    dir_.makeFolder("named/notes.txt");  // a folder of that name is searched, never trashed
    put(dir_, "named/Notes.txt", "case differs");
    auto named = OWFileManager::trashFilesNamed("notes.txt", dir_.file("named"));
    EXPECT_EQ(named, std::vector<std::string>{dir_.file("named/x/notes.txt")});
    EXPECT_TRUE(OWFileManager::isDirectoryAtPath(dir_.file("named/notes.txt")));
}

TEST_F(FileManagerOperations, EmptyFoldersAndRemoval) {
    std::string f = dir_.makeFolder("e");
    put(dir_, "e/.DS_Store", "");
    dir_.makeFolder("e/sub/subsub");
    EXPECT_TRUE(OWFileManager::isFolderEmpty(f));
    put(dir_, "e/sub/subsub/file", "x");
    EXPECT_FALSE(OWFileManager::isFolderEmpty(f));
    EXPECT_FALSE(OWFileManager::removeFolderIfEmpty(f));

    std::string g = dir_.makeFolder("g");
    put(dir_, "g/Icon\r", "");
    EXPECT_TRUE(OWFileManager::isFolderEmpty(g));
    ::symlink(dir_.file("e").c_str(), dir_.file("g/link").c_str());
    EXPECT_FALSE(OWFileManager::isFolderEmpty(g));  // a link is an item, not a folder
    EXPECT_TRUE(OWFileManager::isFolderEmpty(dir_.file("unreadable-or-missing")));

    EXPECT_TRUE(OWFileManager::removeFile(dir_.file("missing")));
    EXPECT_TRUE(OWFileManager::removeFile(f));
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(f));
    EXPECT_TRUE(recording_->commands().empty());
}

TEST_F(FileManagerOperations, FoldersAndTheUnmountedVolume) {
    EXPECT_TRUE(OWFileManager::createDirectory(dir_.file("a/b/c")));
    EXPECT_TRUE(OWFileManager::createDirectory(dir_.file("a/b/c")));
    EXPECT_FALSE(OWFileManager::createDirectory("/Volumes/QvGoneVolume/x"));
    EXPECT_TRUE(recording_->commands().empty());  // no privileges asked for

    std::string plain = dir_.makeFolder("src/folder");
    std::string pkg = dir_.makeFolder("src/Edit.fcpbundle");
    std::string dest = dir_.makeFolder("dest");
    EXPECT_EQ(OWFileManager::createDirectoryStructure(plain, dest), dest + plain);
    EXPECT_TRUE(OWFileManager::isDirectoryAtPath(dest + plain));
    EXPECT_EQ(OWFileManager::createDirectoryStructure(pkg, dest), dest + dir_.file("src"));
    std::string file = put(dir_, "src/clip.mov", "x");
    EXPECT_EQ(OWFileManager::createDirectoryStructure(file, dest), dest + dir_.file("src"));
}

TEST_F(FileManagerOperations, PackagesLinksDatesAndSizes) {
    std::string app = dir_.makeFolder("My.APP");
    EXPECT_TRUE(OWFileManager::isPackageAtPath(app)) << app;
    EXPECT_TRUE(OWFileManager::isPackageAtPath(dir_.makeFolder("Edit.fcpbundle")));
    put(dir_, "Bundle/Contents/Info.plist", "<plist/>");
    EXPECT_TRUE(OWFileManager::isPackageAtPath(dir_.file("Bundle")));
    EXPECT_FALSE(OWFileManager::isPackageAtPath(dir_.makeFolder("Plain/Contents")));
    EXPECT_FALSE(OWFileManager::isPackageAtPath(dir_.makeFolder("folder.d")));
    EXPECT_FALSE(OWFileManager::isPackageAtPath(put(dir_, "file.app", "")));

    std::string f = put(dir_, "sized/a", std::string(1000, 'x'));
    put(dir_, "sized/sub/b", std::string(24, 'y'));
    EXPECT_EQ(OWFileManager::fileSize(dir_.file("sized")), 1024u);
    EXPECT_EQ(OWFileManager::fileSize(dir_.file("nothing")), 0u);

    ASSERT_TRUE(OWFileManager::setModificationDate(base::Date{1'500'000'000}, f));
    EXPECT_EQ(OWFileManager::modificationDateForFile(f)->secondsSince1970, 1'500'000'000);
    EXPECT_TRUE(OWFileManager::creationDateForFile(f).has_value());
    EXPECT_FALSE(OWFileManager::modificationDateForFile(dir_.file("nothing")));
    ::symlink("a", dir_.file("sized/link").c_str());
    EXPECT_TRUE(OWFileManager::isSymbolicLinkAtPath(dir_.file("sized/link")));
}

TEST_F(FileManagerOperations, CopyOntoExistingFallsBackToThePrivilegedCopy) {
    std::string src = put(dir_, "src.txt", "new");
    std::string dst = put(dir_, "dst.txt", "old");
    EXPECT_FALSE(OWFileManager::copyFile(src, dst, false));
    EXPECT_TRUE(recording_->commands().empty());
    EXPECT_TRUE(OWFileManager::copyFile(src, dst));
    ASSERT_EQ(recording_->commands().size(), 1u);
    EXPECT_EQ(recording_->commands()[0],
              (PrivilegedCommand{"/bin/cp", {"-f", "-p", "-R", "--", src, dst}}));
    // A failing privileged tool is a failure.
    recording_->setExitStatus(1);
    EXPECT_FALSE(OWFileManager::copyFile(src, dst));

    EXPECT_FALSE(OWFileManager::copyFile("", dst));
    EXPECT_FALSE(OWFileManager::copyFile(src, ""));
    EXPECT_TRUE(OWFileManager::copyFile(src, dir_.file("fresh.txt")));
    EXPECT_EQ(readFile(dir_.file("fresh.txt")), "new");
}

TEST_F(FileManagerOperations, CopyContentsStopsAtTheFirstFailure) {
    put(dir_, "from/1.txt", "1");
    put(dir_, "from/2.txt", "2");
    put(dir_, "from/3.txt", "3");
    std::string to = dir_.makeFolder("to");
    put(dir_, "to/2.txt", "blocker");
    recording_->setExitStatus(1);
    EXPECT_FALSE(OWFileManager::copyContentsOfDirectory(dir_.file("from"), to, 1s));
    EXPECT_EQ(readFile(dir_.file("to/1.txt")), "1");
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(dir_.file("to/3.txt")));
    EXPECT_TRUE(OWFileManager::copyContentsOfDirectory(dir_.file("empty-or-missing"), to, 1s));
}

TEST_F(FileManagerOperations, MovesNeverReplaceAndCaseRenamesAreDirect) {
    std::string a = put(dir_, "movie.mov", "a");
    std::string b = put(dir_, "other.mov", "b");
    EXPECT_FALSE(OWFileManager::moveFile(a, b, false));
    EXPECT_EQ(readFile(b), "b");
    EXPECT_TRUE(OWFileManager::moveFile(a, b));  // privileged mv -f
    ASSERT_EQ(recording_->commands().size(), 1u);
    EXPECT_EQ(recording_->commands()[0], (PrivilegedCommand{"/bin/mv", {"-f", "--", a, b}}));

    // A case-only rename on a case-sensitive file system is a plain rename: no detour
    // through "Movie 2.mov", and it reports its success.
    std::string lower = put(dir_, "clip.mov", "c");
    std::string upper = dir_.file("Clip.mov");
    EXPECT_TRUE(OWFileManager::moveFile(lower, upper, 5s));
    EXPECT_EQ(readFile(upper), "c");
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(lower));
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(dir_.file("Clip 2.mov")));

    // A missing source ends in the privileged move, which refuses it.
    EXPECT_FALSE(OWFileManager::moveFile(dir_.file("gone"), dir_.file("x")));
    EXPECT_EQ(recording_->commands().size(), 1u);
}

TEST_F(FileManagerOperations, UniqueNamesAndEmptyFiles) {
    std::string movie = dir_.file("movie.mov");
    EXPECT_EQ(OWFileManager::uniqueFilename(movie), movie);
    put(dir_, "movie.mov", "");
    EXPECT_EQ(OWFileManager::uniqueFilename(movie), dir_.file("movie 2.mov"));
    put(dir_, "movie 2.mov", "");
    EXPECT_EQ(OWFileManager::uniqueFilename(movie), dir_.file("movie 3.mov"));
    put(dir_, "README", "");
    EXPECT_EQ(OWFileManager::uniqueFilename(dir_.file("README")), dir_.file("README 2"));

    EXPECT_TRUE(OWFileManager::createEmptyFile(dir_.file("empty")));
    EXPECT_EQ(OWFileManager::fileSize(dir_.file("empty")), 0u);
    recording_->setExitStatus(1);
    EXPECT_FALSE(OWFileManager::createEmptyFile(dir_.file("empty")));  // exists: no replace
}

class FileManagerWaiting : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        auto backend = std::make_unique<platform::system::PrivilegeRecording>();
        recording_ = backend.get();
        OWAuthorization::sharedController().setBackend(std::move(backend));
    }
    void TearDown() override {
        OWAuthorization::sharedController().setBackend(
            platform::system::makeDefaultPrivilegeBackend());
        MainThreadTest::TearDown();
    }
    testsupport::TempDir dir_;
    platform::system::PrivilegeRecording* recording_ = nullptr;
};

TEST_F(FileManagerWaiting, MainThreadWaitsServeOnlyTheModalPanelMode) {
    std::string src = put(dir_, "src", "x");
    std::string dst = dir_.file("later/dst");
    // The ordinary copy fails (no parent folder); the recorded privileged copy
    // "succeeds" without making anything, so the copy waits for the destination. A
    // modal-panel timer makes it; a default-mode timer must not fire meanwhile.
    bool defaultFired = false;
    base::RunLoop::main().addTimer(0.05, 0, [&] { defaultFired = true; });
    base::RunLoop::main().addTimer(0.05, 0,
                                   [&] { put(dir_, "later/dst", "made by the modal timer"); },
                                   {base::kModalPanelRunLoopMode});
    EXPECT_TRUE(OWFileManager::copyFile(src, dst, 10s));
    EXPECT_EQ(recording_->commands().size(), 1u);
    EXPECT_FALSE(defaultFired);
    EXPECT_TRUE(pumpUntil([&] { return defaultFired; }, 5));

    // Nothing makes this one: the time-out answers NO without undoing anything.
    EXPECT_FALSE(OWFileManager::copyFile(src, dir_.file("never/dst"), 1s));
}

TEST(FileManagerWaitingOffMain, OtherThreadsPollAndAnswerFromTheDisk) {
    testsupport::TempDir dir;
    bool ok = false;
    std::thread worker([&] {
        ok = OWFileManager::createDirectory(dir.file("made"), 1s) &&
             OWFileManager::removeFile(dir.file("made"), 1s) &&
             OWFileManager::moveFile(put(dir, "m", "x"), dir.file("n"), 1s);
    });
    worker.join();
    EXPECT_TRUE(ok);
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(dir.file("m")));
    EXPECT_TRUE(OWFileManager::fileExistsAtPath(dir.file("n")));
}
