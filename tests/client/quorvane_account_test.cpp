// Which account a client follows when it is given none, and what every client sets up
// for the storage road.
#include <gtest/gtest.h>

#include <cstdlib>

#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneControllerAccount.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/client/QuorvaneFakes.h"
#include "tests/support/MainThread.h"
#include "tests/support/TempDir.h"
#include "transfer/TXS3Request.h"

namespace {

using quorvanetest::FakeAccount;
using quorvanetest::RecordingDelegate;
using quorvanetest::ScriptedLoader;

class QuorvaneAccount : public testsupport::MainThreadTest {
  protected:
    std::shared_ptr<ScriptedLoader> loader = std::make_shared<ScriptedLoader>();
    OWQuorvaneCacheController cache;
    base::NotificationCenter center;
};

// The process's controller, made once with private collaborators that outlive the test
// (it is never freed).
std::shared_ptr<OWQuorvaneAuthController> sharedTestController(base::NotificationCenter& center) {
    static testsupport::TempDir* dir = new testsupport::TempDir();
    static auto* keychain = new KCKeychainBindingsController(
        std::make_shared<platform::keychain::KeychainFile>(dir->path() + "/Keychain"));
    OWQuorvaneAuthController::Services services;
    services.keychain = keychain;
    services.defaults =
        std::make_shared<base::UserDefaults>("com.oxburyworks.test", dir->makeFolder("prefs"));
    services.center = &center;
    services.alert = [](const std::string&) {};
    services.hostedSiteURL = "https://hosted.example/";
    OWQuorvaneAuthController::setDefaultServices(services);
    return OWQuorvaneAuthController::sharedController("Quorvane Plugin Hub", "Hv3PzQ8wLmT5cXr2NbJa",
                                                      /*noLoad=*/true);
}

TEST_F(QuorvaneAccount, ClientsGivenNoAccountFollowTheProcesssTokenController) {
    static base::NotificationCenter controllerCenter;
    const auto controller = sharedTestController(controllerCenter);
    auto fake = std::make_shared<FakeAccount>();
    OWQuorvaneAccount::setShared(fake);
    EXPECT_EQ(OWQuorvaneAccount::shared(), fake);
    OWQuorvaneAccount::setShared(nullptr);

    const auto shared = OWQuorvaneAccount::shared();
    const auto* view = dynamic_cast<const OWQuorvaneControllerAccount*>(shared.get());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->controller(), controller);
    EXPECT_EQ(OWQuorvaneAccount::shared(), shared);  // one view for every client

    auto delegate = std::make_shared<RecordingDelegate>();
    auto client = OWQuorvane::create(delegate, {nullptr, loader, &cache, &center, nullptr});
    EXPECT_EQ(delegate->count("oauthStatus"), 1u);
    EXPECT_EQ(client->apiURLString(), "https://hosted.example/api/0");
    EXPECT_FALSE(client->isLinked());
    EXPECT_FALSE(client->isQuorvServer());
    client->populateProjects();  // not linked: nothing goes out
    EXPECT_EQ(client->queuedOperationCount(), 0u);

    controller->setQuorvServerURLString("https://review.studio.example");
    EXPECT_TRUE(client->isQuorvServer());
    EXPECT_EQ(client->apiURLString(), "https://review.studio.example/api/0");
    controller->setQuorvServerURLString("");
}

TEST_F(QuorvaneAccount, EveryClientSetsTheSharedStorageKeys) {
    ::setenv("QUORVANE_STORAGE_ACCESS_KEY", "AKIDTESTACCESSKEY001", 1);
    ::setenv("QUORVANE_STORAGE_SECRET_KEY", "secretsecretsecretsecretsecretsecret0001", 1);
    TXS3Request::setSharedAccessKey("");
    TXS3Request::setSharedSecretAccessKey("");
    auto account = std::make_shared<FakeAccount>();
    auto client = OWQuorvane::create(nullptr, {account, loader, &cache, &center, nullptr});
    EXPECT_EQ(TXS3Request::sharedAccessKey(), "AKIDTESTACCESSKEY001");
    EXPECT_EQ(TXS3Request::sharedSecretAccessKey(), "secretsecretsecretsecretsecretsecret0001");
    ::unsetenv("QUORVANE_STORAGE_ACCESS_KEY");
    ::unsetenv("QUORVANE_STORAGE_SECRET_KEY");
}

}  // namespace
