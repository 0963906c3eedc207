#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/system/Archive.h"
#include "platform/system/FileOps.h"
#include "tests/platform/SystemTestTree.h"

namespace fileops = platform::system::fileops;
namespace archive = platform::system::archive;
using systemtest::readFile;
using systemtest::runTool;
using systemtest::TempTree;

namespace {

std::vector<std::string> zipNames(const std::string& zip) {
    auto r = runTool({"python3", "-c",
                      "import sys,zipfile\nfor n in zipfile.ZipFile(sys.argv[1]).namelist(): "
                      "print(n)",
                      zip});
    std::vector<std::string> names;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        names.push_back(line);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A folder like an editor's bundle: nested files, an empty folder, a link.
void makeBundle(const TempTree& t) {
    t.write("Movie.fcpbundle/Info.plist", "<plist/>");
    t.write("Movie.fcpbundle/Media/clip.mov", std::string(300000, 'x') + "end");
    t.write("Movie.fcpbundle/caf\xc3\xa9.txt", "accent");
    t.mkdir("Movie.fcpbundle/Empty");
    ::symlink("Media/clip.mov", (t / "Movie.fcpbundle/latest").c_str());
    ::chmod((t / "Movie.fcpbundle/Info.plist").c_str(), 0640);
}

}  // namespace

TEST(SystemArchive, ZipIsReadByInfoZipPythonAndBsdtar) {
    QV_REQUIRE_TOOL("unzip");
    QV_REQUIRE_TOOL("python3");
    TempTree t;
    makeBundle(t);
    std::string zip = t / "out.zip";
    ASSERT_TRUE(archive::zip(t / "Movie.fcpbundle", zip, true));

    EXPECT_EQ(runTool({"unzip", "-t", "-q", zip}).status, 0);
    std::vector<std::string> expected = {"Movie.fcpbundle/",
                                         "Movie.fcpbundle/Empty/",
                                         "Movie.fcpbundle/Info.plist",
                                         "Movie.fcpbundle/Media/",
                                         "Movie.fcpbundle/Media/clip.mov",
                                         "Movie.fcpbundle/caf\xc3\xa9.txt",
                                         "Movie.fcpbundle/latest"};
    EXPECT_EQ(zipNames(zip), expected);

    auto content = runTool({"python3", "-c",
                            "import sys,zipfile\nz=zipfile.ZipFile(sys.argv[1])\n"
                            "d=z.read('Movie.fcpbundle/Media/clip.mov')\n"
                            "print(len(d), d[-3:].decode())\n"
                            "i=z.getinfo('Movie.fcpbundle/latest')\n"
                            "import stat\nprint(stat.S_ISLNK(i.external_attr>>16), "
                            "z.read(i).decode())\n"
                            "print(oct((z.getinfo('Movie.fcpbundle/Info.plist').external_attr>>16)"
                            "&0o777))\n"
                            "print(z.getinfo('Movie.fcpbundle/Media/clip.mov').compress_type)",
                            zip});
    EXPECT_EQ(content.out, "300003 end\nTrue Media/clip.mov\n0o640\n8\n");

    if (systemtest::haveTool("bsdtar")) {
        auto listing = runTool({"bsdtar", "-tf", zip});
        EXPECT_NE(listing.out.find("Movie.fcpbundle/Media/clip.mov"), std::string::npos);
    }
}

TEST(SystemArchive, WithoutParentNamesAreRelativeAndFilesKeepTheirName) {
    TempTree t;
    makeBundle(t);
    ASSERT_TRUE(archive::zip(t / "Movie.fcpbundle", t / "flat.zip", false));
    auto names = zipNames(t / "flat.zip");
    EXPECT_NE(std::find(names.begin(), names.end(), "Info.plist"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "Media/clip.mov"), names.end());

    ASSERT_TRUE(archive::zip(t / "Movie.fcpbundle/Info.plist", t / "one.zip", false));
    EXPECT_EQ(zipNames(t / "one.zip"), std::vector<std::string>{"Info.plist"});
}

TEST(SystemArchive, RoundTripKeepsContentLinksModesAndDates) {
    TempTree t;
    makeBundle(t);
    fileops::setModificationTime(t / "Movie.fcpbundle/Info.plist", 1'000'000'000);
    ASSERT_TRUE(archive::zip(t / "Movie.fcpbundle", t / "a.zip", true));
    auto unzipped = archive::unzip(t / "a.zip", t / "out");
    ASSERT_TRUE(unzipped) << unzipped.description();

    std::string root = t / "out/Movie.fcpbundle";
    EXPECT_EQ(readFile(root + "/Media/clip.mov"), readFile(t / "Movie.fcpbundle/Media/clip.mov"));
    EXPECT_EQ(readFile(root + "/caf\xc3\xa9.txt"), "accent");
    EXPECT_TRUE(fileops::isSymbolicLink(root + "/latest"));
    EXPECT_EQ(readFile(root + "/latest"), readFile(root + "/Media/clip.mov"));
    EXPECT_TRUE(fileops::isDirectory(root + "/Empty"));
    auto info = fileops::itemInfo(root + "/Info.plist");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->mode & 0777, 0640u);
    EXPECT_DOUBLE_EQ(info->modified, 1'000'000'000);
}

TEST(SystemArchive, ExtractsWhatInfoZipMade) {
    QV_REQUIRE_TOOL("zip");
    TempTree t;
    makeBundle(t);
    // zip works relative to its current folder; run it through a shell-free `env -C`.
    auto made =
        runTool({"env", "-C", t.path(), "zip", "-r", "-y", "-q", "made.zip", "Movie.fcpbundle"});
    ASSERT_EQ(made.status, 0);
    ASSERT_TRUE(archive::unzip(t / "made.zip", t / "x"));
    EXPECT_EQ(readFile(t / "x/Movie.fcpbundle/Info.plist"), "<plist/>");
    EXPECT_TRUE(fileops::isSymbolicLink(t / "x/Movie.fcpbundle/latest"));
}

TEST(SystemArchive, HostileEntriesWriteNothingOutside) {
    QV_REQUIRE_TOOL("python3");
    TempTree t;
    t.mkdir("victim");
    const std::string script =
        "import sys,zipfile,stat\n"
        "z=zipfile.ZipFile(sys.argv[1],'w')\n"
        "def link(name,target):\n"
        "  i=zipfile.ZipInfo(name); i.external_attr=(stat.S_IFLNK|0o777)<<16\n"
        "  z.writestr(i,target)\n"
        "kind=sys.argv[2]\n"
        "if kind=='dotdot': z.writestr('../evil','x')\n"
        "if kind=='inner': z.writestr('ok/../../evil','x')\n"
        "if kind=='absolute': z.writestr('/' + sys.argv[3] + '/abs','x')\n"
        "if kind=='link':\n"
        "  link('escape', sys.argv[3])\n"
        "  z.writestr('escape/evil','x')\n"
        "z.close()\n";
    for (std::string kind : {"dotdot", "inner", "absolute", "link"}) {
        SCOPED_TRACE(kind);
        std::string zip = t / (kind + ".zip");
        ASSERT_EQ(runTool({"python3", "-c", script, zip, kind, t / "victim"}).status, 0);
        std::string dest = t / ("dest-" + kind);
        EXPECT_FALSE(archive::unzip(zip, dest));
        EXPECT_FALSE(fileops::existsOrIsLink(t / "evil"));
        EXPECT_EQ(fileops::listDirectory(t / "victim")->size(), 0u);
    }
}

TEST(SystemArchive, FailedZipLeavesNoArchiveAndNoTemporaryFile) {
    TempTree t;
    EXPECT_FALSE(archive::zip(t / "missing", t / "a.zip", true));
    EXPECT_FALSE(archive::zip(t.write("f", "x"), t / "no/such/folder/a.zip", true));

    // A kernel file claims 4096 bytes and delivers fewer: the archive would be short.
    const std::string shrinking = "/sys/kernel/mm/transparent_hugepage/enabled";
    if (fileops::exists(shrinking)) {
        EXPECT_FALSE(archive::zip(shrinking, t / "short.zip", false));
    }
    EXPECT_FALSE(fileops::existsOrIsLink(t / "a.zip"));
    EXPECT_FALSE(fileops::existsOrIsLink(t / "short.zip"));
    EXPECT_EQ(fileops::listDirectory(t.path())->size(), 1u);  // only "f"
}

TEST(SystemArchive, GarbageIsNotAnArchive) {
    TempTree t;
    std::string bogus = t.write("bogus.zip", "PK\x03\x04 this is not really a zip");
    EXPECT_FALSE(archive::unzip(bogus, t / "out"));
    EXPECT_FALSE(archive::unzip(t / "missing.zip", t / "out2"));
}
