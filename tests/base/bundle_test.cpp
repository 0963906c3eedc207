#include "base/Bundle.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "base/Path.h"
#include "base/PropertyList.h"
#include "tests/helpers/TempDir.h"

extern char** environ;

namespace base {
namespace {

using testsupport::TempDir;

// Hub.app with an Info.plist, an executable and resources in the usual places.
std::string makeApp(const TempDir& dir) {
    std::string app = dir.makeFolder("Hub.app");
    dir.makeFolder("Hub.app/Contents/MacOS");
    dir.makeFolder("Hub.app/Contents/Resources/Base.lproj/QuorvSettings.nib");
    dir.makeFolder("Hub.app/Contents/Resources/en.lproj");
    dir.makeFolder("Hub.app/Contents/Resources/presets");
    dir.write("Hub.app/Contents/MacOS/Quorvane Plugin Hub", "#!/bin/true\n");
    dir.write("Hub.app/Contents/Resources/Quorv_Dept.png", "png");
    dir.write("Hub.app/Contents/Resources/Tick_2.svg", "svg");
    dir.write("Hub.app/Contents/Resources/en.lproj/Localizable.strings", "strings");
    dir.write("Hub.app/Contents/Resources/Base.lproj/Quorv_Dept.png", "shadowed");
    dir.write("Hub.app/Contents/Resources/presets/Quorvane.epr", "preset");
    dir.write("secret.txt", "outside");
    Value info(Dictionary{{"CFBundleIdentifier", "com.oxburyworks.QuorvPluginHub"},
                          {"CFBundleExecutable", "Quorvane Plugin Hub"},
                          {"CFBundleVersion", "412"},
                          {"CFBundleShortVersionString", "2.1.0"},
                          {"OWQAppID", "abc123"}});
    EXPECT_TRUE(PropertyList::writeFile(info, dir.file("Hub.app/Contents/Info.plist")));
    return app;
}

TEST(BundleTest, ReadsTheClassicLayout) {
    TempDir dir;
    std::string app = makeApp(dir);
    std::shared_ptr<const Bundle> bundle = Bundle::atPath(app + "/");
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->bundlePath(), app);
    EXPECT_EQ(bundle->resourcePath(), app + "/Contents/Resources");
    EXPECT_EQ(bundle->executablePath(), app + "/Contents/MacOS/Quorvane Plugin Hub");
    EXPECT_EQ(bundle->executableName(), "Quorvane Plugin Hub");
    EXPECT_EQ(bundle->identifier(), "com.oxburyworks.QuorvPluginHub");
    EXPECT_EQ(bundle->version(), "412");
    EXPECT_EQ(bundle->shortVersion(), "2.1.0");
    EXPECT_EQ(bundle->objectForInfoDictionaryKey("OWQAppID"), Value("abc123"));
    EXPECT_TRUE(bundle->objectForInfoDictionaryKey("Missing").isNull());
}

TEST(BundleTest, FindsResourcesByNameAndType) {
    TempDir dir;
    std::shared_ptr<const Bundle> bundle = Bundle::atPath(makeApp(dir));
    ASSERT_TRUE(bundle);
    const std::string resources = bundle->resourcePath();
    // The unlocalised resource wins over a localised one of the same name.
    EXPECT_EQ(bundle->pathForResource("Quorv_Dept", "png"), resources + "/Quorv_Dept.png");
    EXPECT_EQ(bundle->pathForResource("Tick_2.svg", ""), resources + "/Tick_2.svg");
    EXPECT_EQ(bundle->pathForResource("Tick_2", ".svg"), resources + "/Tick_2.svg");
    EXPECT_EQ(bundle->pathForResource("QuorvSettings", "nib"),
              resources + "/Base.lproj/QuorvSettings.nib");
    EXPECT_EQ(bundle->pathForResource("Localizable", "strings"),
              resources + "/en.lproj/Localizable.strings");
    EXPECT_EQ(bundle->pathForResource("Quorvane", "epr", "presets"),
              resources + "/presets/Quorvane.epr");
    EXPECT_FALSE(bundle->pathForResource("Quorvane", "epr"));
    EXPECT_FALSE(bundle->pathForResource("Quorv_Folder", "png"));
    EXPECT_FALSE(bundle->pathForResource("", ""));
    // Names may not climb out of the resources folder.
    EXPECT_FALSE(bundle->pathForResource("../../../secret", "txt"));
    EXPECT_FALSE(bundle->pathForResource("secret", "txt", "../../.."));
    EXPECT_FALSE(bundle->pathForResource("/etc/passwd", ""));
}

TEST(BundleTest, BareFoldersAndMissingPaths) {
    TempDir dir;
    dir.write("preset.epr", "x");
    std::shared_ptr<const Bundle> bare = Bundle::atPath(dir.path());
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->resourcePath(), dir.path());
    EXPECT_EQ(bare->pathForResource("preset", "epr"), dir.file("preset.epr"));
    EXPECT_EQ(bare->identifier(), "");
    EXPECT_TRUE(bare->infoDictionary().empty());
    EXPECT_FALSE(Bundle::atPath(dir.file("missing")));
    EXPECT_FALSE(Bundle::atPath(dir.file("preset.epr")));

    // A broken Info.plist leaves the bundle usable without information.
    dir.makeFolder("Broken.app/Contents");
    dir.write("Broken.app/Contents/Info.plist", "<plist><dict><key>");
    std::shared_ptr<const Bundle> broken = Bundle::atPath(dir.file("Broken.app"));
    ASSERT_TRUE(broken);
    EXPECT_TRUE(broken->infoDictionary().empty());
    EXPECT_EQ(broken->executablePath(), "");
}

TEST(BundleTest, MainOfAnExecutableOutsideABundleIsItsFolder) {
    std::shared_ptr<const Bundle> main = Bundle::main();
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(main->executablePath(), self);
    EXPECT_EQ(main->bundlePath(), deletingLastPathComponent(self));
    EXPECT_EQ(main->resourcePath(), main->bundlePath());
    EXPECT_EQ(Bundle::main(), main);
}

TEST(BundleTest, OwnBundleDefaultsToMainAndCanBeSet) {
    TempDir dir;
    EXPECT_EQ(Bundle::own(), Bundle::main());
    std::shared_ptr<const Bundle> plugin = Bundle::atPath(makeApp(dir));
    Bundle::setOwn(plugin);
    EXPECT_EQ(Bundle::own(), plugin);
    EXPECT_EQ(Bundle::own()->identifier(), "com.oxburyworks.QuorvPluginHub");
    Bundle::setOwn(nullptr);
    EXPECT_EQ(Bundle::own(), Bundle::main());
}

// Run inside a copy of this test program placed in Hub.app/Contents/MacOS: prints what
// Bundle::main() found.
TEST(BundleProbe, PrintMain) {
    if (!std::getenv("QV_BUNDLE_PROBE")) {
        GTEST_SKIP() << "only run by BundleTest.MainOfAnExecutableInsideABundle";
    }
    std::shared_ptr<const Bundle> main = Bundle::main();
    std::cout << "PROBE " << main->bundlePath() << "|" << main->identifier() << "|"
              << main->executableName() << "|" << main->resourcePath() << "\n";
}

std::string runCapturingOutput(const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    std::vector<std::string> env = {"QV_BUNDLE_PROBE=1"};
    for (char** e = environ; *e; ++e) {
        env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string output;
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        output.append(buffer, static_cast<size_t>(got));
    }
    close(pipeFds[0]);
    if (spawned == 0) {
        waitpid(pid, nullptr, 0);
    }
    return output;
}

TEST(BundleTest, MainOfAnExecutableInsideABundle) {
    TempDir dir;
    std::string app = makeApp(dir);
    std::string copy = app + "/Contents/MacOS/Quorvane Plugin Hub";
    std::filesystem::copy_file("/proc/self/exe", copy,
                               std::filesystem::copy_options::overwrite_existing);
    chmod(copy.c_str(), 0700);
    std::string output = runCapturingOutput({copy, "--gtest_filter=BundleProbe.PrintMain"});
    std::string expected = "PROBE " + app + "|com.oxburyworks.QuorvPluginHub|Quorvane Plugin Hub|" +
                           app + "/Contents/Resources\n";
    EXPECT_NE(output.find(expected), std::string::npos) << output;
}

}  // namespace
}  // namespace base
