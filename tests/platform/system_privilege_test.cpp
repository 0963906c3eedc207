#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system/PrivilegeDirect.h"
#include "platform/system/PrivilegeRecording.h"
#include "platform/system/PrivilegeSpawn.h"
#include "platform/system/PrivilegeSudo.h"
#include "tests/platform/SystemTestTree.h"

using platform::system::PrivilegedCommand;
using platform::system::PrivilegeDirect;
using platform::system::PrivilegeRecording;
using platform::system::PrivilegeSudo;
using systemtest::readFile;
using systemtest::TempTree;
namespace privilegespawn = platform::system::privilegespawn;

TEST(SystemPrivilege, DirectRunsAnswerWithTheToolsExitStatus) {
    TempTree t;
    PrivilegeDirect direct;
    EXPECT_EQ(direct.execute(nullptr, {"/bin/mkdir", {"-p", "--", t / "a/b"}}, true), 0);
    EXPECT_TRUE(platform::system::fileops::isDirectory(t / "a/b"));
    // A failing tool is a failure, not a success.
    EXPECT_NE(direct.execute(nullptr, {"/bin/mv", {"-f", "--", t / "missing", t / "x"}}, true), 0);
    EXPECT_EQ(direct.execute(nullptr, {"/no/such/tool", {}}, true), -1);
    EXPECT_EQ(privilegespawn::run({"/bin/sh", {"-c", "kill -9 $$"}}, std::nullopt, true), 128 + 9);
}

TEST(SystemPrivilege, InputReachesTheToolOnlyThroughStandardInput) {
    TempTree t;
    // A stand-in sudo that records its arguments, environment and standard input.
    std::string fake = t.write("sudo",
                               "#!/bin/sh\n"
                               "printf '%s\\n' \"$@\" > \"$0.args\"\n"
                               "env > \"$0.env\"\n"
                               "cat > \"$0.stdin\"\n"
                               "[ \"$(cat \"$0.stdin\")\" = 's3cret pass' ] || exit 1\n"
                               "shift 5 2>/dev/null\n"
                               "exit 0\n");
    ::chmod(fake.c_str(), 0755);
    PrivilegeSudo sudo(fake);
    std::string user = getpwuid(::getuid())->pw_name;
    // The "-n -k /bin/true" probe fails (the stand-in wants the password), so the
    // password road is taken.
    auto grant = sudo.obtainWithPassword(user, "s3cret pass");
    ASSERT_TRUE(grant);
    EXPECT_EQ(sudo.execute(grant.get(), {"/bin/rm", {"-Rdf", "--", "/tmp/x"}}, true), 0);
    std::string args = readFile(fake + ".args");
    EXPECT_EQ(args, "-S\n-k\n-p\n\n--\n/bin/rm\n-Rdf\n--\n/tmp/x\n");
    EXPECT_EQ(args.find("s3cret"), std::string::npos);
    EXPECT_EQ(readFile(fake + ".env").find("s3cret"), std::string::npos);
    EXPECT_EQ(readFile(fake + ".stdin"), "s3cret pass\n");

    EXPECT_FALSE(sudo.obtainWithPassword(user, "wrong"));
    EXPECT_FALSE(sudo.obtainWithPassword(user + "-other", "s3cret pass"));
    EXPECT_EQ(sudo.execute(nullptr, {"/bin/true", {}}, true), -1);  // no grant, no run
    EXPECT_FALSE(PrivilegeSudo(t / "missing-sudo").obtain());

    auto wrapped = sudo.wrap({"/bin/mkdir", {"-p", "--", "/x"}}, false);
    EXPECT_EQ(wrapped.arguments,
              (std::vector<std::string>{"-n", "--", "/bin/mkdir", "-p", "--", "/x"}));
}

TEST(SystemPrivilege, RecordingBackendRecordsAndAnswers) {
    PrivilegeRecording rec({.runsAsRoot = false,
                            .grantAvailable = false,
                            .user = "ann",
                            .password = "pw",
                            .exitStatus = 3});
    EXPECT_FALSE(rec.obtain());
    EXPECT_FALSE(rec.obtainWithPassword("ann", "nope"));
    auto grant = rec.obtainWithPassword("ann", "pw");
    ASSERT_TRUE(grant);
    EXPECT_EQ(rec.execute(grant.get(), {"/bin/cp", {"-f"}}, true), 3);
    ASSERT_EQ(rec.commands().size(), 1u);
    EXPECT_EQ(rec.commands()[0], (PrivilegedCommand{"/bin/cp", {"-f"}}));
    EXPECT_EQ(rec.obtainCount(), 1);
}
