#include <gtest/gtest.h>

#include "platform/system/OpenFiles.h"
#include "platform/system/Volume.h"
#include "tests/platform/SystemTestTree.h"

namespace volume = platform::system::volume;
namespace openfiles = platform::system::openfiles;
using systemtest::runTool;

TEST(SystemVolume, ParsesMountInfoWithEscapesAndOptionalFields) {
    const std::string text =
        "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
        "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
        "40 27 8:17 / /media/My\\040Disk ro,nosuid shared:7 master:2 - vfat /dev/sdb1 ro\n"
        "garbage line\n"
        "41 27 8:18 / relative rw - ext4 /dev/sdc rw\n"
        "42 27 0:50 /sub /srv/data rw - xfs /dev/sdd rw";
    auto mounts = volume::parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_EQ(mounts[2].mountPoint, "/media/My Disk");
    EXPECT_EQ(mounts[2].fsType, "vfat");
    EXPECT_EQ(mounts[2].source, "/dev/sdb1");
    EXPECT_TRUE(mounts[2].readOnly);
    EXPECT_EQ(mounts[2].major, 8u);
    EXPECT_EQ(mounts[3].root, "/sub");

    auto local = volume::localVolumes(mounts);
    ASSERT_EQ(local.size(), 3u);  // proc is not a volume
    EXPECT_EQ(volume::mountForPath("/media/My Disk/clip.mov", mounts)->mountPoint,
              "/media/My Disk");
    EXPECT_EQ(volume::mountForPath("/media/My Diskette", mounts)->mountPoint, "/");
    EXPECT_EQ(volume::mountForPath("/srv/data", mounts)->mountPoint, "/srv/data");
    EXPECT_FALSE(volume::mountForPath("relative/path", mounts));
}

TEST(SystemVolume, MountPointsAgreeWithFindmnt) {
    QV_REQUIRE_TOOL("findmnt");
    auto mounts = volume::currentMounts();
    ASSERT_FALSE(mounts.empty());
    for (std::string path : {"/", "/proc/self", "/dev/shm/x", "/tmp", "/usr/bin"}) {
        SCOPED_TRACE(path);
        auto r = runTool({"findmnt", "-n", "-o", "TARGET", "-T", path});
        if (r.status != 0) {
            continue;
        }
        std::string expected = r.out.substr(0, r.out.find('\n'));
        auto m = volume::mountForPath(path, mounts);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->mountPoint, expected);
    }
    auto space = volume::diskSpace("/");
    ASSERT_TRUE(space);
    EXPECT_GT(space->totalBytes, 0u);
    EXPECT_LE(space->availableBytes, space->freeBytes);
    EXPECT_FALSE(volume::diskSpace("/no/such/path"));
}

TEST(SystemOpenFiles, OnlyAccessModeLinesCount) {
    EXPECT_FALSE(openfiles::anyWriteAccess(""));
    EXPECT_FALSE(openfiles::anyWriteAccess("p123\nar\nar\n"));
    EXPECT_TRUE(openfiles::anyWriteAccess("p123\nar\np77\naw\n"));
    EXPECT_TRUE(openfiles::anyWriteAccess("p1\nau"));
    // lsof's usage text and warnings are full of "w" and "u": they do not count.
    EXPECT_FALSE(openfiles::anyWriteAccess(
        "lsof: WARNING: can't stat() fuse file system\nusage: [-?abhKlnNoOPRtUvVX] [+|-w]\n"));
    EXPECT_FALSE(openfiles::anyWriteAccess("p1\nawx\nfw\n"));
}
