#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cmath>
#include <utility>

#include "platform/system/FileOps.h"
#include "support/OWFileManager.h"
#include "support/OWLocalPaths.h"
#include "tests/platform/SystemTestTree.h"
#include "tests/support/FileManagerTestTree.h"

namespace fileops = platform::system::fileops;
using filemanagertest::put;
using systemtest::runTool;
using testsupport::readFile;

class FileManagerArchive : public filemanagertest::FileManagerTest {};

TEST_F(FileManagerArchive, CompressTrashesTheOldArchiveAndMakesATestedZip) {
    QV_REQUIRE_TOOL("unzip");
    put(dir_, "Edit.fcpbundle/Info.plist", "<plist/>");
    put(dir_, "Edit.fcpbundle/media/a.mov", std::string(5000, 'a'));
    std::string zip = put(dir_, "Edit.zip", "an older archive");
    ASSERT_TRUE(OWFileManager::compressFile(dir_.file("Edit.fcpbundle"), zip));
    EXPECT_EQ(runTool({"unzip", "-t", "-q", zip}).status, 0);
    EXPECT_NE(runTool({"unzip", "-l", zip}).out.find("Edit.fcpbundle/media/a.mov"),
              std::string::npos);
    EXPECT_EQ(readFile(trashFiles() + "/Edit.zip"), "an older archive");

    ASSERT_TRUE(OWFileManager::compressFile(dir_.file("Edit.fcpbundle"), zip, false));
    EXPECT_NE(runTool({"unzip", "-l", zip}).out.find(" media/a.mov"), std::string::npos);

    // A source that cannot be read leaves no archive behind, and NO.
    EXPECT_FALSE(OWFileManager::compressFile(dir_.file("missing"), dir_.file("m.zip")));
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(dir_.file("m.zip")));
}

TEST_F(FileManagerArchive, DecompressTrashesTheOldFolderAndCleansUpFailures) {
    put(dir_, "src/one.txt", "1");
    std::string zip = dir_.file("src.zip");
    ASSERT_TRUE(OWFileManager::compressFile(dir_.file("src"), zip));
    std::string out = put(dir_, "out/stale.txt", "stale");
    out = dir_.file("out");
    ASSERT_TRUE(OWFileManager::decompressFile(zip, out));
    EXPECT_EQ(readFile(out + "/src/one.txt"), "1");
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(out + "/stale.txt"));
    EXPECT_EQ(readFile(trashFiles() + "/out/stale.txt"), "stale");

    std::string bad = put(dir_, "bad.zip", "not an archive at all");
    EXPECT_FALSE(OWFileManager::decompressFile(bad, dir_.file("bad-out")));
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(dir_.file("bad-out")));
}

TEST_F(FileManagerArchive, AttributesAndTheProgressMarker) {
    QV_REQUIRE_TOOL("python3");
    std::string f = put(dir_, "movie.mov", "x");
    EXPECT_TRUE(OWFileManager::setMetadataValue("caf\xc3\xa9", "com.example.note", f));
    EXPECT_EQ(OWFileManager::metadataValueForKey("com.example.note", f), "caf\xc3\xa9");
    EXPECT_FALSE(OWFileManager::metadataValueForKey("absent", f));
    EXPECT_FALSE(OWFileManager::setMetadataValue("v", "k", dir_.file("missing")));
    ::setxattr(f.c_str(), "user.binary", "\xff\xfe", 2, 0);
    EXPECT_FALSE(OWFileManager::metadataValueForKey("binary", f));  // not UTF-8
    ::setxattr(f.c_str(), "user.empty", "", 0, 0);
    EXPECT_FALSE(OWFileManager::metadataValueForKey("empty", f));

    OWFileManager::setFinderProgress(0.5f, f);
    auto read = runTool({"python3", "-c",
                         "import os,sys\nprint(os.getxattr(sys.argv[1], "
                         "'user.com.apple.progress.fractionCompleted').decode())",
                         f});
    EXPECT_EQ(read.out, "0.500\n");
    OWFileManager::removeFinderProgressForFile(f);
    EXPECT_FALSE(OWFileManager::metadataValueForKey("com.apple.progress.fractionCompleted", f));
    OWFileManager::setFinderProgress(std::nanf(""), f);  // not a number: removal, no crash
    OWFileManager::removeFinderProgressForFile(dir_.file("missing"));

    OWFileManager::setPosixPermissions(0640, f);
    EXPECT_EQ(fileops::itemInfo(f)->mode & 0777, 0640u);
    OWFileManager::setPosixPermissions(0640, dir_.file("missing"));  // logged only
}

TEST_F(FileManagerArchive, LabelsUseTheTableAtTwiceTheLabelNumber) {
    EXPECT_EQ(OWFileManager::finderColorForColorIndex(4),
              OWFileManager::finderColorForColorIndex(5));
    EXPECT_EQ(OWFileManager::finderColorForColorIndex(2)->brightness, 0.72);
    for (int index : {0, 1, 16, -2}) {
        EXPECT_FALSE(OWFileManager::finderColorForColorIndex(index)) << index;
    }
    std::string f = put(dir_, "f", "x");
    EXPECT_EQ(OWFileManager::finderColorIndexForPath(f), 0);
    EXPECT_FALSE(OWFileManager::finderColorForPath(f));
    OWFileManager::setFinderColorIndex(6, f);
    EXPECT_EQ(OWFileManager::finderColorIndexForPath(f), 6);
    EXPECT_EQ(OWFileManager::finderColorForPath(f), OWFileManager::finderColorForColorIndex(12));
    OWFileManager::setFinderColorIndex(0, f);
    EXPECT_EQ(OWFileManager::finderColorIndexForPath(f), 0);
}

TEST_F(FileManagerArchive, NamesSizesAndWildcards) {
    EXPECT_EQ(OWFileManager::formatFileSize(1023), "1023 B");
    EXPECT_EQ(OWFileManager::formatFileSize(1024), "1.00 KB");
    EXPECT_EQ(OWFileManager::formatFileSize(1048575), "1024.00 KB");
    EXPECT_EQ(OWFileManager::formatFileSize(1048576), "1.00 MB");
    EXPECT_EQ(OWFileManager::formatFileSize(1073741824.0 * 3), "3.00 GB");
    EXPECT_EQ(OWFileManager::formatFileSize(1099511627776.0 * 2), "2.00 TB");

    EXPECT_EQ(OWFileManager::validateFilename("."), "");
    EXPECT_EQ(OWFileManager::validateFilename(".."), ".");
    EXPECT_EQ(OWFileManager::validateFilename(".hidden"), "hidden");
    EXPECT_EQ(OWFileManager::validateFilename(" a/b\n"), "ab");
    EXPECT_EQ(OWFileManager::validateFilename("a:b"), "ab");

    put(dir_, "proj/v1/render.mov", "");
    put(dir_, "proj/v2/render.mov", "");
    put(dir_, "proj/v2/other.mp4", "");
    put(dir_, "proj/x1/render.mov", "");
    std::string base = dir_.file("proj");
    EXPECT_EQ(OWFileManager::filesMatchingWildcardPath("v*/render.mov", base),
              (std::vector<std::string>{base + "/v1/render.mov", base + "/v2/render.mov"}));
    EXPECT_EQ(OWFileManager::filesMatchingWildcardPath("*2/*.m??", base),
              (std::vector<std::string>{base + "/v2/other.mp4", base + "/v2/render.mov"}));
    // Without a "*" anywhere the pattern is not looked up at all, "?" included.
    EXPECT_EQ(OWFileManager::filesMatchingWildcardPath("?2/render.mov", base),
              std::vector<std::string>{base + "/?2/render.mov"});
    EXPECT_EQ(OWFileManager::filesMatchingWildcardPath(base + "/V*/render.mov"),
              std::vector<std::string>{});  // case-sensitive
    EXPECT_EQ(OWFileManager::filesMatchingWildcardPath("no/star/here", base),
              std::vector<std::string>{base + "/no/star/here"});
    EXPECT_EQ(OWFileManager::decodeWildcardPath("v*/render.mov", base), base + "/v1/render.mov");
    EXPECT_EQ(OWFileManager::decodeWildcardPath("z*/none", base), base + "/z*/none");
    EXPECT_FALSE(OWFileManager::decodeWildcardPath("/z*/none", std::nullopt));
}

TEST_F(FileManagerArchive, OpenFilesTouchingAndWaitingForWrites) {
    QV_REQUIRE_TOOL("lsof");
    std::string f = put(dir_, "render.mov", "frames");
    int reader = ::open(f.c_str(), O_RDONLY);
    EXPECT_FALSE(OWFileManager::fileIsOpenForWriting(f));
    int writer = ::open(f.c_str(), O_WRONLY | O_APPEND);
    EXPECT_TRUE(OWFileManager::fileIsOpenForWriting(f));
    ::close(writer);
    ::close(reader);
    EXPECT_FALSE(OWFileManager::fileIsOpenForWriting(f));
    EXPECT_FALSE(OWFileManager::fileIsOpenForWriting(dir_.file("missing")));  // usage/errors

    ASSERT_TRUE(OWFileManager::setModificationDate(base::Date{1'000'000'000}, f));
    EXPECT_TRUE(OWFileManager::touchFile(f));
    EXPECT_GT(OWFileManager::modificationDateForFile(f)->secondsSince1970, 1'000'000'000);
    EXPECT_FALSE(OWFileManager::touchFile(""));
    EXPECT_TRUE(OWFileManager::touchFile(dir_.file("not-created"), true));  // -c: nothing made
    EXPECT_FALSE(OWFileManager::fileExistsAtPath(dir_.file("not-created")));

    // Last changed long ago and no lock file: back at once.
    OWFileManager::setModificationDate(base::Date{1'000'000'000}, f);
    OWFileManager::waitForFileWrites(f);
    OWFileManager::waitForFileWrites(dir_.file("missing"), dir_.file("no-lock"));
    OWFileManager::waitForFileCreation(f, 0);
    OWFileManager::waitForFileCreation(dir_.file("never"), 0);
}

TEST_F(FileManagerArchive, VolumesAndDisks) {
    EXPECT_EQ(OWFileManager::volumeMountPointForPath("/"), "/");
    if (fileops::isDirectory("/dev/shm")) {
        EXPECT_EQ(OWFileManager::volumeMountPointForPath("/dev/shm/x"), "/dev/shm");
    }
    EXPECT_FALSE(OWFileManager::volumeMountPointForPath("/Volumes/QvNone/file"));
    auto info = OWFileManager::infoForDiskAtMountpoint("/");
    ASSERT_TRUE(info);
    ASSERT_TRUE(info->isDictionary());
    EXPECT_EQ(*std::as_const(*info).dictionary()->find("MountPoint")->string(), "/");
    EXPECT_FALSE(OWFileManager::infoForDiskAtMountpoint(dir_.path()));

    auto ref = OWFileManager::stringToFSRef(dir_.path());
    ASSERT_TRUE(ref);
    EXPECT_EQ(OWFileManager::stringWithFSRef(*ref), dir_.path());
    EXPECT_FALSE(OWFileManager::stringToFSRef(dir_.file("missing")));
}
