// Credentials kept for good: what a request with keychain persistence saves, where
// (one owner-only item per protection space), and how a later request finds it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/keychain/KeychainFile.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/TempDir.h"
#include "tests/transfer/HttpTestServer.h"
#include "transfer/TXCredentialStorage.h"
#include "transfer/TXHTTPRequest.h"

namespace {

using txtest::HttpTestServer;
using txtest::ReceivedRequest;
using Reply = HttpTestServer::Reply;

const char* kBasicAlice = "Basic YWxpY2U6czNjcmV0";  // alice:s3cret

class KeychainTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        const char* old = std::getenv("XDG_DATA_HOME");
        saved = old ? std::optional<std::string>(old) : std::nullopt;
        setenv("XDG_DATA_HOME", home.path().c_str(), 1);
        TXHTTPRequest::clearSession();
    }
    void TearDown() override {
        TXHTTPRequest::clearSession();
        if (saved)
            setenv("XDG_DATA_HOME", saved->c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
        MainThreadTest::TearDown();
    }
    std::string keychainFile() const {
        return platform::keychain::KeychainFile::defaultFolder() + "/" +
               platform::keychain::KeychainFile::kFileName;
    }

    testsupport::TempDir home;
    std::optional<std::string> saved;
};

HttpTestServer::Handler vault() {
    return [](const ReceivedRequest& r) {
        if (r.header("Authorization") != kBasicAlice)
            return Reply{
                HttpTestServer::response(401, "WWW-Authenticate: Basic realm=\"vault\"\r\n", "")};
        return Reply{HttpTestServer::response(200, "", "open")};
    };
}

TEST_F(KeychainTest, CredentialsThatWorkedAreSavedAndFoundByALaterRequest) {
    HttpTestServer server(vault());
    auto first = TXHTTPRequest::requestWithURL(*base::Url::parse(server.url("/a")));
    first->setUseKeychainPersistence(true);
    first->setUsername("alice");
    first->setPassword("s3cret");
    first->startSynchronous();
    ASSERT_EQ(200, first->responseStatusCode());

    auto saved =
        TXHTTPRequest::savedCredentialsForHost("127.0.0.1", server.port(), "http", "vault");
    ASSERT_TRUE(saved);
    EXPECT_EQ("alice", saved->user);
    EXPECT_EQ("s3cret", saved->password);
    struct stat st {};
    ASSERT_EQ(0, ::stat(keychainFile().c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    std::string file = testsupport::readFile(keychainFile());
    EXPECT_NE(std::string::npos, file.find("TXHTTPRequest http://127.0.0.1:" +
                                           std::to_string(server.port()) + " realm=vault"));

    // A new session: only the keychain knows the password now.
    TXHTTPRequest::clearSession();
    auto later = TXHTTPRequest::requestWithURL(*base::Url::parse(server.url("/b")));
    later->setUseKeychainPersistence(true);
    later->startSynchronous();
    EXPECT_EQ(200, later->responseStatusCode());
    EXPECT_EQ(kBasicAlice, server.requests().back().header("Authorization"));

    TXHTTPRequest::clearSession();
    auto without = TXHTTPRequest::requestWithURL(*base::Url::parse(server.url("/c")));
    without->startSynchronous();
    ASSERT_TRUE(without->error()) << "keychain persistence is off by default";
    EXPECT_EQ(3, without->error()->code());
}

TEST_F(KeychainTest, ProtectionSpacesAreKeptApart) {
    platform::net::HttpCredentials bob{"bob", "pw1", "CORP"};
    ASSERT_TRUE(TXHTTPRequest::saveCredentials(bob, "Example.com", 443, "https", "R"));
    ASSERT_TRUE(TXHTTPRequest::saveCredentials(platform::net::HttpCredentials{"px", "pw2", ""},
                                               "proxy.local", 3128, "R"));
    auto found = TXHTTPRequest::savedCredentialsForHost("example.com", 443, "https", "R");
    ASSERT_TRUE(found);
    EXPECT_EQ("pw1", found->password);
    EXPECT_EQ("CORP", found->domain);
    EXPECT_FALSE(TXHTTPRequest::savedCredentialsForHost("example.com", 443, "http", "R"));
    EXPECT_FALSE(TXHTTPRequest::savedCredentialsForHost("example.com", 8443, "https", "R"));
    EXPECT_FALSE(TXHTTPRequest::savedCredentialsForHost("example.com", 443, "https", "other"));
    EXPECT_FALSE(TXHTTPRequest::savedCredentialsForHost("proxy.local", 3128, "http", "R"));
    EXPECT_EQ("px", TXHTTPRequest::savedCredentialsForProxy("proxy.local", 3128, "http", "R")
                        .value_or(platform::net::HttpCredentials{})
                        .user);

    // Saving again replaces the space's item rather than adding a second.
    ASSERT_TRUE(TXHTTPRequest::saveCredentials(platform::net::HttpCredentials{"carol", "pw3", ""},
                                               "example.com", 443, "https", "R"));
    platform::keychain::KeychainFile file(platform::keychain::KeychainFile::defaultFolder());
    auto items = file.list(TXCredentialStorage::serviceFor("example.com", 443, "https", "R"), 10);
    ASSERT_EQ(1u, items.size());
    EXPECT_EQ("carol", items[0].account);

    EXPECT_TRUE(TXHTTPRequest::removeCredentialsForHost("example.com", 443, "https", "R"));
    EXPECT_FALSE(TXHTTPRequest::savedCredentialsForHost("example.com", 443, "https", "R"));
    EXPECT_TRUE(TXHTTPRequest::savedCredentialsForProxy("proxy.local", 3128, "http", "R"));
    EXPECT_TRUE(TXHTTPRequest::removeCredentialsForProxy("proxy.local", 3128, "R"));
    EXPECT_FALSE(TXHTTPRequest::savedCredentialsForProxy("proxy.local", 3128, "http", "R"));
}

}  // namespace
