// Digest authentication against apache's mod_auth_digest: MD5 with qop=auth, a
// wrong password refused for good, and a nonce that went stale, which the
// authentication object answers again without asking the user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/net/ConnectionCache.h"
#include "platform/net/HttpAuthentication.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/Peer.h"
#include "tests/helpers/TempDir.h"
#include "tests/platform/NetTestSupport.h"

extern char** environ;
using namespace platform::net;
using testsupport::Peer;

namespace {

const char* const kRealm = "Quorvane test";
const char* const kModules = "/usr/lib/apache2/modules";

// htdigest asks for the password twice; in a session of its own it has no
// terminal to ask on and reads the answers from its input.
bool makeUserFile(const std::string& htdigest, const std::string& passwordFile,
                  const std::string& userFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, passwordFile.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    std::vector<std::string> argv = {htdigest, "-c", userFile, kRealm, "alice"};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    int status = -1;
    bool ok = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ) == 0 &&
              waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return ok;
}

// apache started as root serves from its children as www-data, which must pass
// through the test's folders and read the user file.
void openToServerUser(const std::string& top, const std::string& base,
                      const std::string& userFile) {
    if (getuid() != 0)
        return;
    chmod(top.c_str(), 0711);
    chmod(base.c_str(), 0711);
    if (passwd* pw = getpwnam("www-data"))
        (void)chown(userFile.c_str(), pw->pw_uid, pw->pw_gid);
}

class NetApacheDigest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        std::string apache = Peer::findBinary("apache2");
        if (access((std::string(kModules) + "/mod_auth_digest.so").c_str(), R_OK) != 0)
            apache.clear();
        QV_REQUIRE_PEER_BINARY(apache, "apache2 with mod_auth_digest");
        std::string htdigest = Peer::findBinary("htdigest");
        QV_REQUIRE_PEER_BINARY(htdigest, "htdigest (apache2-utils)");

        std::string base = dir.makeFolder("apache");
        dir.makeFolder("apache/www/private");
        dir.write("apache/www/private/note.txt", "behind digest\n");
        chmod((base + "/www").c_str(), 0755);
        chmod((base + "/www/private").c_str(), 0755);
        chmod((base + "/www/private/note.txt").c_str(), 0644);
        std::string users = base + "/users";
        ASSERT_TRUE(makeUserFile(htdigest, dir.write("password", "secret\nsecret\n"), users));
        openToServerUser(dir.path(), base, users);

        port = Peer::freePort();
        std::string mods = kModules;
        // The shortest nonce lifetime apache takes is one second; it reads its own
        // clock, so the stale case waits that second out for real.
        std::string conf = "ServerRoot " + base + "\nPidFile " + base + "/httpd.pid\nErrorLog " +
                           base + "/error.log\nDefaultRuntimeDir " + base +
                           "\nListen 127.0.0.1:" + std::to_string(port) +
                           "\nServerName localhost\nUser www-data\nGroup www-data\n"
                           "LoadModule mpm_prefork_module " +
                           mods + "/mod_mpm_prefork.so\nLoadModule authn_core_module " + mods +
                           "/mod_authn_core.so\nLoadModule authn_file_module " + mods +
                           "/mod_authn_file.so\nLoadModule authz_core_module " + mods +
                           "/mod_authz_core.so\nLoadModule authz_user_module " + mods +
                           "/mod_authz_user.so\nLoadModule auth_digest_module " + mods +
                           "/mod_auth_digest.so\nStartServers 1\nDocumentRoot " + base +
                           "/www\n<Location /private/>\n AuthType Digest\n AuthName \"" + kRealm +
                           "\"\n AuthDigestProvider file\n AuthUserFile " + users +
                           "\n AuthDigestNonceLifetime 1\n Require valid-user\n</Location>\n";
        std::string confPath = dir.write("apache/httpd.conf", conf);
        ASSERT_TRUE(server.start({apache, "-f", confPath, "-D", "FOREGROUND"}, base, port))
            << server.failure() << testsupport::readFile(base + "/error.log");
    }
    void TearDown() override {
        ConnectionCache::shared().closeAll();
        MainThreadTest::TearDown();
    }

    std::string url() const {
        return "http://127.0.0.1:" + std::to_string(port) + "/private/note.txt";
    }
    // One GET, answered with `auth` when given; the Authorization field it carried
    // lands in `sent`.
    nettest::Outcome get(const std::shared_ptr<HttpAuthentication>& auth,
                         const std::string& password, std::string* sent = nullptr) {
        HttpRequestMessage m("GET", *Url::parse(url()));
        if (auth) {
            EXPECT_TRUE(auth->apply(m, {"alice", password, ""}));
            if (sent)
                *sent = m.header("Authorization").value_or("");
        }
        auto out = nettest::run(HttpReadStream::create(std::move(m)));
        EXPECT_TRUE(out.ended) << (out.error ? out.error->describe() : "");
        return out;
    }
    std::shared_ptr<HttpAuthentication> challenge() {
        auto out = get(nullptr, "");
        EXPECT_EQ(out.status(), 401);
        if (!out.head)
            return nullptr;
        auto auth = HttpAuthentication::create(*out.head);
        EXPECT_TRUE(auth);
        return auth;
    }

    testsupport::TempDir dir;
    Peer server;
    uint16_t port = 0;
};

}  // namespace

TEST_F(NetApacheDigest, Md5WithQopAuthIsAcceptedAndCountsItsNonces) {
    auto auth = challenge();
    ASSERT_TRUE(auth);
    EXPECT_EQ(auth->scheme(), HttpAuthentication::Scheme::Digest);
    EXPECT_EQ(auth->method(), "Digest");
    EXPECT_EQ(auth->realm(), kRealm);
    EXPECT_TRUE(auth->isValid());

    std::string sent;
    auto first = get(auth, "secret", &sent);
    EXPECT_EQ(first.status(), 200) << sent;
    EXPECT_EQ(first.body, "behind digest\n");
    EXPECT_NE(sent.find("qop=auth"), std::string::npos) << sent;
    EXPECT_NE(sent.find("nc=00000001"), std::string::npos) << sent;
    EXPECT_NE(sent.find("uri=\"/private/note.txt\""), std::string::npos) << sent;

    // The same nonce again, with the next count and a fresh client nonce.
    auto second = get(auth, "secret", &sent);
    EXPECT_EQ(second.status(), 200) << sent;
    EXPECT_NE(sent.find("nc=00000002"), std::string::npos) << sent;
}

TEST_F(NetApacheDigest, AWrongPasswordIsRefusedForGood) {
    auto auth = challenge();
    ASSERT_TRUE(auth);
    auto out = get(auth, "not the secret");
    ASSERT_EQ(out.status(), 401);
    EXPECT_EQ(out.head->headers.get("WWW-Authenticate").value_or("").find("stale=true"),
              std::string::npos);
    auth->update(*out.head);
    EXPECT_FALSE(auth->isValid()) << "a plain second challenge means the answer was wrong";
}

TEST_F(NetApacheDigest, AStaleNonceKeepsTheObjectValidAndTheNewNonceIsAccepted) {
    auto auth = challenge();
    ASSERT_TRUE(auth);
    auto fresh = get(auth, "secret");
    ASSERT_EQ(fresh.status(), 200);

    // Not waiting for a callback: apache's nonce must age past its lifetime on
    // apache's own clock.
    std::this_thread::sleep_for(std::chrono::milliseconds(1600));
    auto stale = get(auth, "secret");
    ASSERT_EQ(stale.status(), 401);
    EXPECT_NE(stale.head->headers.get("WWW-Authenticate").value_or("").find("stale=true"),
              std::string::npos);
    auth->update(*stale.head);
    ASSERT_TRUE(auth->isValid()) << "a stale nonce is no wrong password";

    std::string sent;
    auto again = get(auth, "secret", &sent);
    EXPECT_EQ(again.status(), 200) << sent;
    EXPECT_NE(sent.find("nc=00000001"), std::string::npos) << "a new nonce counts from one";
}
