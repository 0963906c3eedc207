#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>

#include "platform/system/ConsoleUser.h"
#include "support/OWLocalPaths.h"

namespace fs = std::filesystem;
using platform::system::ConsoleUser;

namespace {

// Sets (or unsets) an environment variable for the lifetime of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

class LocalPathsTest : public testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("lp-" + OWLocalPaths::randomString(10));
        fs::create_directories(dir / "home");
        fs::create_directories(dir / "logind/seats");
        fs::create_directories(dir / "logind/sessions");
        ConsoleUser::setLogindDirectory((dir / "logind").string());
    }
    void TearDown() override {
        ConsoleUser::setRootOverride(std::nullopt);
        ConsoleUser::setLogindDirectory("");
        OWLocalPaths::setLocalDomainRoot("");
        fs::remove_all(dir);
    }
    void stageSeat(uid_t uid, const std::string& sessionClass) {
        std::ofstream(dir / "logind/seats/seat0")
            << "# seat\nACTIVE=c7\nACTIVE_UID=" << uid << "\n";
        std::ofstream(dir / "logind/sessions/c7")
            << "UID=" << uid << "\nCLASS=" << sessionClass << "\n";
    }
    fs::path dir;
    ScopedEnv home{"HOME", std::nullopt};
    ScopedEnv dataHome{"XDG_DATA_HOME", std::nullopt};
    ScopedEnv configHome{"XDG_CONFIG_HOME", std::nullopt};
    ScopedEnv stateHome{"XDG_STATE_HOME", std::nullopt};
    ScopedEnv cacheHome{"XDG_CACHE_HOME", std::nullopt};
    ScopedEnv sudo{"SUDO_UID", std::nullopt};
    ScopedEnv pkexec{"PKEXEC_UID", std::nullopt};
};

TEST_F(LocalPathsTest, UserFoldersFollowXdgAndHome) {
    ConsoleUser::setRootOverride(false);
    setenv("HOME", (dir / "home").c_str(), 1);
    const std::string h = (dir / "home").string();
    EXPECT_EQ(OWLocalPaths::userDirectory(), h);
    EXPECT_EQ(OWLocalPaths::libraryDirectory(true), h + "/.local/share");
    EXPECT_EQ(OWLocalPaths::prefsDirectory(true), h + "/.config");
    EXPECT_EQ(OWLocalPaths::logDirectory(true), h + "/.local/state");
    EXPECT_EQ(OWLocalPaths::cacheDirectory(true), h + "/.cache");
    EXPECT_EQ(OWLocalPaths::darwinCacheDirectory(), h + "/.cache/");
    EXPECT_EQ(OWLocalPaths::movieDirectory(), h + "/Videos");
    EXPECT_EQ(OWLocalPaths::trashDirectory(), h + "/.local/share/Trash");

    setenv("XDG_DATA_HOME", "/data/x", 1);
    setenv("XDG_STATE_HOME", "relative/ignored", 1);
    EXPECT_EQ(OWLocalPaths::libraryDirectory(true), "/data/x");
    EXPECT_EQ(OWLocalPaths::logDirectory(true), h + "/.local/state");

    fs::create_directories(dir / "home/.config");
    std::ofstream(dir / "home/.config/user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_VIDEOS_DIR=\"$HOME/Filme\"\n"
           "XDG_DESKTOP_DIR=\"$HOME/\"\n";
    EXPECT_EQ(OWLocalPaths::movieDirectory(), h + "/Filme");
    EXPECT_EQ(OWLocalPaths::desktopDirectory(), h + "/Desktop");  // $HOME itself means unset
}

TEST_F(LocalPathsTest, LocalDomainUnderMovableRoot) {
    EXPECT_EQ(OWLocalPaths::libraryDirectory(false), "/var/lib");
    EXPECT_EQ(OWLocalPaths::logDirectory(false), "/var/log");
    EXPECT_EQ(OWLocalPaths::prefsDirectory(false), "/etc/xdg");
    OWLocalPaths::setLocalDomainRoot((dir / "root").string());
    EXPECT_EQ(OWLocalPaths::libraryDirectory(false), (dir / "root/var/lib").string());
    EXPECT_EQ(OWLocalPaths::documentDirectory(false), std::nullopt);
    EXPECT_EQ(OWLocalPaths::systemLibraryDirectory(), "/usr/lib");
    EXPECT_EQ(
        OWLocalPaths::pathForDirectory(OWLocalPaths::Directory::Documentation,
                                       OWLocalPaths::kUserDomain | OWLocalPaths::kLocalDomain),
        (dir / "root/usr/local/share/doc").string());
}

TEST_F(LocalPathsTest, RootWorksInTheConsoleUsersHome) {
    setenv("HOME", "/root", 1);
    ConsoleUser::setRootOverride(true);
    // Another account than ours when the system has one ("nobody"), so the move shows.
    const uid_t other = getpwuid(65534) ? 65534 : getuid();
    setenv("SUDO_UID", std::to_string(other).c_str(), 1);
    const auto console = ConsoleUser::current();
    ASSERT_TRUE(console);
    ASSERT_EQ(console->uid, other);
    ASSERT_NE(console->home, "/root");
    EXPECT_EQ(OWLocalPaths::userDirectory(), console->home);
    EXPECT_EQ(OWLocalPaths::username(), console->name);
    EXPECT_EQ(OWLocalPaths::currentConsoleUser(), console->name);
    // Root's own Library (/root/.local/share) moves into the console user's home.
    EXPECT_EQ(OWLocalPaths::libraryDirectory(true), console->home + "/.local/share");
    EXPECT_EQ(OWLocalPaths::logDirectory(true), console->home + "/.local/state");
    // PKEXEC_UID wins over SUDO_UID; garbage is ignored.
    setenv("PKEXEC_UID", "12abc", 1);
    EXPECT_EQ(ConsoleUser::current()->uid, other);
    setenv("PKEXEC_UID", std::to_string(getuid()).c_str(), 1);
    EXPECT_EQ(ConsoleUser::current()->uid, getuid());
}

TEST_F(LocalPathsTest, RootWithoutConsoleUserKeepsItsOwnHome) {
    setenv("HOME", (dir / "home").c_str(), 1);
    ConsoleUser::setRootOverride(true);
    EXPECT_EQ(ConsoleUser::current(), std::nullopt);
    EXPECT_EQ(OWLocalPaths::currentConsoleUser(), std::nullopt);
    EXPECT_EQ(OWLocalPaths::userDirectory(), (dir / "home").string());
    EXPECT_EQ(OWLocalPaths::libraryDirectory(true), (dir / "home/.local/share").string());
}

TEST_F(LocalPathsTest, NonRootIgnoresTheConsoleUser) {
    setenv("HOME", (dir / "home").c_str(), 1);
    setenv("SUDO_UID", "0", 1);
    ConsoleUser::setRootOverride(false);
    EXPECT_EQ(OWLocalPaths::userDirectory(), (dir / "home").string());
    EXPECT_EQ(OWLocalPaths::username(), ConsoleUser::processAccount().name);
}

TEST_F(LocalPathsTest, LogindSeatAndGreeter) {
    stageSeat(getuid(), "user");
    const auto user = ConsoleUser::current();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->uid, getuid());
    stageSeat(getuid(), "greeter");  // the login screen: nobody is logged in
    EXPECT_EQ(ConsoleUser::current(), std::nullopt);
    EXPECT_EQ(OWLocalPaths::currentConsoleUser(), std::nullopt);
    std::ofstream(dir / "logind/seats/seat0") << "ACTIVE=../../etc\nACTIVE_UID=0\n";
    EXPECT_EQ(ConsoleUser::current(), std::nullopt);
}

TEST_F(LocalPathsTest, SystemDirectories) {
    setenv("HOME", (dir / "home").c_str(), 1);
    ConsoleUser::setRootOverride(false);
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory("/"));
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory("/opt"));
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory("/opt/"));
    EXPECT_FALSE(OWLocalPaths::isPathSystemDirectory("/usr/local/share/x"));
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory("/usr/share/x"));
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory("/private/var/db"));
    EXPECT_FALSE(OWLocalPaths::isPathSystemDirectory("/a"));
    EXPECT_FALSE(OWLocalPaths::isPathSystemDirectory("ab"));
    EXPECT_FALSE(OWLocalPaths::isPathSystemDirectory(""));
    EXPECT_FALSE(OWLocalPaths::isPathSystemDirectory("/usr/share/x", true));
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory("/usr", true));
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory("/System"));
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory("/Users/Shared/"));
    // Linux system trees, and spellings that reach them through "//", "." or "..".
    for (const char* p :
         {"/etc", "/etc/passwd", "/lib64/x", "/boot/vmlinuz", "/proc/1", "/home", "/root", "/srv",
          "/run", "//usr", "/usr/.", "/tmp/../usr", "/tmp/../../etc/x", "/./bin/sh"}) {
        EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory(p)) << p;
    }
    EXPECT_FALSE(OWLocalPaths::isPathSystemDirectory("/home/someone/project"));
    EXPECT_FALSE(OWLocalPaths::isPathSystemDirectory("/usr/../tmp/x"));
    // The user's own standard folders are protected themselves, not their contents.
    const std::string h = (dir / "home").string();
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory(h));
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory(h + "/.local/share/"));
    EXPECT_TRUE(OWLocalPaths::isPathSystemDirectory(h + "/Desktop"));
    EXPECT_FALSE(OWLocalPaths::isPathSystemDirectory(h + "/Desktop/cut.mov"));
}

TEST_F(LocalPathsTest, SlashesAndVolumes) {
    EXPECT_EQ(OWLocalPaths::stripTrailingSlash("/a/b//"), "/a/b/");
    EXPECT_EQ(OWLocalPaths::stripTrailingSlash("/"), "/");
    EXPECT_EQ(OWLocalPaths::stripTrailingSlash(std::nullopt), std::nullopt);
    EXPECT_EQ(OWLocalPaths::ensureTrailingSlash(""), "");
    EXPECT_EQ(OWLocalPaths::ensureTrailingSlash("/a"), "/a/");
    EXPECT_EQ(OWLocalPaths::ensureTrailingSlash("/a/"), "/a/");
    EXPECT_EQ(OWLocalPaths::ensureTrailingSlash(std::nullopt), std::nullopt);
    EXPECT_TRUE(OWLocalPaths::isPathOnTimeMachineVolume("/Volumes/TM/Backups.backupdb/mac"));
    EXPECT_FALSE(OWLocalPaths::isPathOnTimeMachineVolume("/Volumes/TM/Backups.backupdbx"));
    EXPECT_FALSE(OWLocalPaths::isPathOnTimeMachineVolume("/mnt/Backups.backupdb"));
}

TEST_F(LocalPathsTest, RandomStringsAndUuids) {
    EXPECT_EQ(OWLocalPaths::randomString(0), "");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string s = OWLocalPaths::randomString(8);
        ASSERT_EQ(s.size(), 8u);
        ASSERT_EQ(s.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
        seen.insert(s);  // calls in the same clock tick must still differ
    }
    EXPECT_EQ(seen.size(), 200u);
    const std::string a = OWLocalPaths::uuid(), b = OWLocalPaths::uuid();
    EXPECT_EQ(a.size(), 36u);
    EXPECT_NE(a, b);
}

TEST_F(LocalPathsTest, PrivateTemporaryFolder) {
    ScopedEnv tmp("TMPDIR", dir.string());
    const std::string usual = (dir / ("oxburyworks-" + std::to_string(geteuid()))).string();
    EXPECT_EQ(OWLocalPaths::tempDirectory(), usual);
    struct stat st {};
    ASSERT_EQ(lstat(usual.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::string file = OWLocalPaths::tempFile();
    EXPECT_EQ(fs::path(file).parent_path().string(), usual);
    EXPECT_EQ(fs::path(file).filename().string().size(), 36u + 8u);
    EXPECT_FALSE(fs::exists(file));

    // A folder others can enter (or a planted symlink) is not used: a fresh one is made.
    chmod(usual.c_str(), 0777);
    const std::string fresh = OWLocalPaths::tempDirectory();
    EXPECT_NE(fresh, usual);
    ASSERT_EQ(lstat(fresh.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(OWLocalPaths::tempDirectory(), fresh);
}

}  // namespace
