#include "base/Workspace.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <fstream>

#include "base/Bundle.h"
#include "tests/base/FakeApplication.h"
#include "tests/helpers/TempDir.h"

namespace {

using base::Workspace;
using testsupport::FakeApplication;
using testsupport::TempDir;

// No child of this process may be left unreaped by a launch.
bool hasUnreapedChild() {
    return waitpid(-1, nullptr, WNOHANG) > 0;
}

TEST(WorkspaceLaunch, StartsTheBundleExecutableWithItsArgumentsAndLeavesNoZombie) {
    TempDir dir;
    FakeApplication app(dir.file("Tool.app"), "com.example.tool");
    // Arguments reach the program verbatim: no shell interprets them.
    const std::vector<std::string> args{"-checkpath", "/a b/$(touch x)/;'\"*"};
    EXPECT_FALSE(Workspace::launchApplication(app.path(), args).has_value());
    auto record = app.waitForRun();
    ASSERT_TRUE(record.has_value());
    ASSERT_EQ(record->size(), 3u);
    EXPECT_EQ((*record)[0], app.path() + "/Contents/MacOS/fake");
    EXPECT_EQ((*record)[1], args[0]);
    EXPECT_EQ((*record)[2], args[1]);
    EXPECT_FALSE(hasUnreapedChild());
    EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
}

TEST(WorkspaceLaunch, OpeningAFileRunsTheApplicationWithThePath) {
    TempDir dir;
    FakeApplication app(dir.file("Viewer.app"), "com.example.viewer");
    const std::string file = dir.write("-rf crash.log", "x");
    EXPECT_FALSE(Workspace::openFile(file, app.path()).has_value());
    auto record = app.waitForRun();
    ASSERT_TRUE(record.has_value());
    ASSERT_EQ(record->size(), 2u);
    EXPECT_EQ((*record)[1], file);
}

TEST(WorkspaceLaunch, RefusalsAreReportedAsErrors) {
    TempDir dir;
    FakeApplication app(dir.file("Viewer.app"), "com.example.viewer");
    // A relative path could pass for an option.
    auto relative = Workspace::openFile("-rf", app.path());
    ASSERT_TRUE(relative.has_value());
    EXPECT_EQ(relative->code(), Workspace::kNotAbsolute);

    auto missing = Workspace::launchApplication(dir.file("None.app"));
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->code(), Workspace::kNotAnApplication);

    // A bundle whose executable is not executable.
    chmod((app.path() + "/Contents/MacOS/fake").c_str(), 0644);
    if (geteuid() != 0) {
        auto denied = Workspace::launchApplication(app.path());
        ASSERT_TRUE(denied.has_value());
        EXPECT_EQ(denied->code(), Workspace::kLaunchFailed);
    }
    // A script whose interpreter does not exist fails in exec, after the fork.
    std::ofstream(app.path() + "/Contents/MacOS/fake") << "#!/nonexistent/shell\n";
    chmod((app.path() + "/Contents/MacOS/fake").c_str(), 0755);
    auto execFailed = Workspace::launchApplication(app.path());
    ASSERT_TRUE(execFailed.has_value());
    EXPECT_EQ(execFailed->code(), Workspace::kLaunchFailed);
    EXPECT_EQ(execFailed->userInfo().find("errno")->integerValue(), ENOENT);
    EXPECT_FALSE(hasUnreapedChild());
}

TEST(WorkspaceLookup, FindsApplicationsByIdentifierAtTheTopOrOneFolderDown) {
    TempDir dir;
    FakeApplication top(dir.file("Apps/Top.app"), "com.example.top");
    FakeApplication nested(dir.file("Apps/Vendor/Nested.app"), "com.example.nested");
    FakeApplication deep(dir.file("Apps/A/B/Deep.app"), "com.example.deep");
    const std::vector<std::string> folders{dir.file("Missing"), dir.file("Apps")};
    EXPECT_EQ(Workspace::pathForApplication("com.example.top", folders), top.path());
    EXPECT_EQ(Workspace::pathForApplication("com.example.nested", folders), nested.path());
    EXPECT_FALSE(Workspace::pathForApplication("com.example.deep", folders).has_value());
    EXPECT_FALSE(Workspace::pathForApplication("com.example", folders).has_value());
}

// An installed program finds the others beside its own bundle wherever the prefix is,
// before the compiled-in prefix and the user's applications folder; a program that is
// in no bundle adds no folder of its own.
TEST(WorkspaceLookup, InstalledProgramsFindEachOtherBesideTheirOwnBundleFirst) {
    TempDir dir;
    FakeApplication own(dir.file("Prefix/Own.app"), "com.example.own");
    FakeApplication beside(dir.file("Prefix/Hub.app"), "com.example.hub");
    FakeApplication user(dir.file("Home/Applications/Hub.app"), "com.example.hub");
    FakeApplication userOnly(dir.file("Home/Applications/Vendor/Tool.app"), "com.example.tool");
    const char* savedHome = std::getenv("HOME");
    const std::string home = savedHome ? savedHome : "";
    ::setenv("HOME", dir.file("Home").c_str(), 1);
    base::Bundle::setOwn(base::Bundle::atPath(own.path()));

    // Beside the own bundle, the compiled-in prefix, ~/Applications, /opt.
    const auto folders = Workspace::applicationFolders();
    ASSERT_EQ(folders.size(), 4u);
    EXPECT_EQ(folders[0], dir.file("Prefix"));
    const std::string prefix = folders[1];
    EXPECT_TRUE(prefix.front() == '/' && prefix != "/opt") << prefix;
    EXPECT_EQ(folders[2], dir.file("Home/Applications"));
    EXPECT_EQ(folders[3], "/opt");
    EXPECT_EQ(Workspace::pathForApplication("com.example.hub"), beside.path());
    EXPECT_EQ(Workspace::pathForApplication("com.example.tool"), userOnly.path());

    base::Bundle::setOwn(base::Bundle::atPath(dir.file("Prefix")));  // no Contents/
    EXPECT_EQ(Workspace::applicationFolders().front(), prefix);
    EXPECT_EQ(Workspace::pathForApplication("com.example.hub"), user.path());
    base::Bundle::setOwn(nullptr);
    if (savedHome) {
        ::setenv("HOME", home.c_str(), 1);
    } else {
        ::unsetenv("HOME");
    }
}

TEST(WorkspaceLaunch, AddressesGoToTheOpenerAndApplicationsAreFoundByIdentifier) {
    TempDir dir;
    FakeApplication opener(dir.file("Opener.app"), "com.example.opener");
    ::setenv(Workspace::kURLOpenerEnvironment, (opener.path() + "/Contents/MacOS/fake").c_str(), 1);
    EXPECT_FALSE(Workspace::openURL("https://site.example/lost_password.php?a=1&b=$(x)"));
    auto record = opener.waitForRun();
    ASSERT_TRUE(record.has_value());
    ASSERT_EQ(record->size(), 2u);
    EXPECT_EQ((*record)[1], "https://site.example/lost_password.php?a=1&b=$(x)");
    // Nothing an opener could take for an option, a local file or a script.
    for (const char* refused : {"-rf", "file:///etc/passwd", "javascript:alert(1)", ""}) {
        const auto error = Workspace::openURL(refused);
        ASSERT_TRUE(error.has_value()) << refused;
        EXPECT_EQ(error->code(), Workspace::kNotAnAddress);
    }
    ::unsetenv(Workspace::kURLOpenerEnvironment);

    FakeApplication hub(dir.file("Apps/Hub.app"), "com.example.hub");
    EXPECT_FALSE(Workspace::launchApplicationWithIdentifier("com.example.hub", {dir.file("Apps")}));
    EXPECT_TRUE(hub.waitForRun().has_value());
    const auto missing =
        Workspace::launchApplicationWithIdentifier("com.example.none", {dir.file("Apps")});
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->code(), Workspace::kNotAnApplication);
    EXPECT_FALSE(hasUnreapedChild());
}

}  // namespace
