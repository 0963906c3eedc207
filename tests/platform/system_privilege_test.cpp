#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/system/PrivilegeDirect.h"
#include "platform/system/PrivilegeRecording.h"
#include "platform/system/PrivilegeSpawn.h"
#include "platform/system/PrivilegeSudo.h"
#include "tests/platform/SystemTestTree.h"

using platform::system::makePrivilegeBackend;
using platform::system::PrivilegedCommand;
using platform::system::PrivilegeDirect;
using platform::system::PrivilegePolkit;
using platform::system::PrivilegeRecording;
using platform::system::PrivilegeSudo;
using systemtest::readFile;
using systemtest::runTool;
using systemtest::TempTree;
using systemtest::writePrivilegeStandIn;
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

// Which road an ordinary user takes, the command lines each runs and their outcomes,
// with stand-ins of pkexec and sudo that run the tool (we are allowed to) or refuse.
TEST(SystemPrivilege, AnOrdinaryUserIsAskedTheDesktopsWayOrThroughAskpass) {
    TempTree t;
    const platform::system::PrivilegeTools tools{writePrivilegeStandIn(t, "pkexec"),
                                                 writePrivilegeStandIn(t, "sudo")};
    const std::string askpass = t.write("askpass", "#!/bin/sh\necho pw\n");

    EXPECT_TRUE(dynamic_cast<PrivilegeDirect*>(
        makePrivilegeBackend({.root = true, .graphical = true}, tools).get()));
    auto polkit = makePrivilegeBackend({.graphical = true, .askpass = askpass}, tools);
    ASSERT_TRUE(dynamic_cast<PrivilegePolkit*>(polkit.get()));
    auto* askpassSudo = dynamic_cast<PrivilegeSudo*>(
        makePrivilegeBackend({.graphical = true, .askpass = askpass}, {t / "no-pkexec", tools.sudo})
            .release());
    ASSERT_TRUE(askpassSudo);
    std::unique_ptr<PrivilegeSudo> sudo(askpassSudo);
    EXPECT_EQ(sudo->askpass(), askpass);

    // Polkit: nothing is asked up front; each run goes through pkexec.
    auto grant = polkit->obtain();
    ASSERT_TRUE(grant);
    EXPECT_FALSE(platform::system::fileops::exists(tools.pkexec + ".calls"));
    EXPECT_EQ(polkit->execute(grant.get(), {"/bin/mkdir", {"-p", "--", t / "by polkit"}}, true), 0);
    EXPECT_TRUE(platform::system::fileops::isDirectory(t / "by polkit"));
    EXPECT_EQ(readFile(tools.pkexec + ".calls"),
              "--disable-internal-agent|/bin/mkdir|-p|--|" + (t / "by polkit") + "|\n");
    t.write("pkexec.deny", "");
    EXPECT_EQ(polkit->execute(grant.get(), {"/bin/mkdir", {"-p", "--", t / "denied"}}, true), 126);
    EXPECT_FALSE(platform::system::fileops::exists(t / "denied"));
    EXPECT_FALSE(PrivilegePolkit(t / "no-pkexec").obtain());

    // sudo with askpass: asked once up front, then the runs; SUDO_ASKPASS goes along.
    auto sudoGrant = sudo->obtain();
    ASSERT_TRUE(sudoGrant);
    EXPECT_EQ(sudo->execute(sudoGrant.get(), {"/bin/mkdir", {"-p", "--", t / "by sudo"}}, true), 0);
    EXPECT_TRUE(platform::system::fileops::isDirectory(t / "by sudo"));
    EXPECT_EQ(readFile(tools.sudo + ".calls"),
              "-A|-v|\n-A|--|/bin/mkdir|-p|--|" + (t / "by sudo") + "|\n");
    EXPECT_EQ(readFile(tools.sudo + ".askpass"), askpass + "\n" + askpass + "\n");
    t.write("sudo.deny", "");
    EXPECT_FALSE(sudo->obtain());

    // Without a graphical session or askpass only sudo's password-free rules work.
    auto plain = makePrivilegeBackend({}, tools);
    auto* plainSudo = dynamic_cast<PrivilegeSudo*>(plain.get());
    ASSERT_TRUE(plainSudo);
    EXPECT_EQ(plainSudo->wrap({"/bin/rm", {"x"}}, false).arguments,
              (std::vector<std::string>{"-n", "--", "/bin/rm", "x"}));
    EXPECT_EQ(plainSudo->passwordCheckError("qv-nobody-such"), EPERM);
    EXPECT_EQ(PrivilegeSudo(t / "no-sudo").passwordCheckError("root"), ENOENT);
}

// The suite's polkit actions must be valid, or polkit ignores the whole file, and must
// name every tool the privileged road runs.
TEST(SystemPrivilege, ThePolkitActionsNameTheStandardTools) {
    QV_REQUIRE_TOOL("xmllint");
    const char* source = std::getenv("QV_SOURCE_DIR");
    char self[PATH_MAX] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    // Run by hand the program lies in <source>/build/<preset>/tests.
    const std::string root = source ? source
                                    : std::filesystem::path(self)
                                          .parent_path()
                                          .parent_path()
                                          .parent_path()
                                          .parent_path()
                                          .string();
    const std::string policy = root + "/platform/system/polkit/com.oxburyworks.quorvane.policy";
    const std::string dtd = "/usr/share/polkit-1/policyconfig-1.dtd";
    if (platform::system::fileops::exists(dtd)) {
        const auto valid = runTool({"xmllint", "--noout", "--dtdvalid", dtd, policy});
        EXPECT_EQ(valid.status, 0) << valid.out;
    }
    const std::string text = readFile(policy);
    for (const char* tool : {"/bin/rm", "/bin/mv", "/bin/cp", "/bin/mkdir", "/usr/bin/touch",
                             "/usr/bin/rm", "/usr/bin/mkdir"}) {
        EXPECT_NE(text.find(std::string(">") + tool + "</annotate>"), std::string::npos) << tool;
    }
}

// The real pkexec, run by root. It asks the polkit daemon even then, so without one
// (no system bus, as in containers) the case cannot run.
TEST(SystemPrivilege, RootRunsToolsThroughTheRealPkexec) {
    if (::geteuid() != 0 || ::access("/usr/bin/pkexec", X_OK) != 0) {
        GTEST_SKIP() << "needs root and an installed pkexec";
    }
    const auto probe = runTool({"/usr/bin/pkexec", "--disable-internal-agent", "/bin/true"});
    if (probe.status == 127) {
        GTEST_SKIP() << "pkexec answered 127: no polkit daemon on a system bus runs here";
    }
    TempTree t;
    PrivilegePolkit polkit;
    auto grant = polkit.obtain();
    ASSERT_TRUE(grant);
    EXPECT_EQ(polkit.execute(grant.get(), {"/bin/mkdir", {"-p", "--", t / "real"}}, true), 0);
    EXPECT_TRUE(platform::system::fileops::isDirectory(t / "real"));
    EXPECT_NE(polkit.execute(grant.get(), {"/bin/mv", {"--", t / "missing", t / "x"}}, true), 0);
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
