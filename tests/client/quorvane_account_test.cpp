// Which account a client follows when it is given none, and what every client sets up
// for the storage road.
#include <gtest/gtest.h>

#include <cstdlib>

#include "client/KCKeychainBindings.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneControllerAccount.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/client/QuorvaneFakes.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/TempDir.h"
#include "transfer/TXS3Request.h"

namespace {

using quorvanetest::FakeAccount;
using quorvanetest::RecordingDelegate;
using quorvanetest::ScriptedLoader;

class QuorvaneAccount : public testsupport::MainThreadTest,
                        protected quorvanetest::SharedClientState {
  protected:
    std::shared_ptr<ScriptedLoader> loader = std::make_shared<ScriptedLoader>();
};

TEST_F(QuorvaneAccount, ClientsGivenNoAccountFollowTheProcesssTokenController) {
    // Whichever call made the process's controller first, this one loads nothing.
    const auto controller = OWQuorvaneAuthController::sharedController(std::nullopt, std::nullopt,
                                                                       /*noLoad=*/true);
    auto fake = std::make_shared<FakeAccount>();
    OWQuorvaneAccount::setShared(fake);
    EXPECT_EQ(OWQuorvaneAccount::shared(), fake);
    OWQuorvaneAccount::setShared(nullptr);

    const auto shared = OWQuorvaneAccount::shared();
    const auto* view = dynamic_cast<const OWQuorvaneControllerAccount*>(shared.get());
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->controller(), controller);
    EXPECT_EQ(OWQuorvaneAccount::shared(), shared);  // one view for every client
}

TEST_F(QuorvaneAccount, AClientSeesTheControllersAddressesAndUser) {
    testsupport::TempDir dir;
    KCKeychainBindingsController keychain(
        std::make_shared<platform::keychain::KeychainFile>(dir.path() + "/Keychain"));
    OWQuorvaneAuthController::Services services;
    services.keychain = &keychain;
    services.defaults =
        std::make_shared<base::UserDefaults>("com.oxburyworks.test", dir.makeFolder("prefs"));
    services.center = &center;
    services.alert = [](const std::string&) {};
    services.hostedSiteURL = "https://hosted.example/";
    const auto controller =
        OWQuorvaneAuthController::create("Quorvane Plugin Hub", std::string("client-9"), services);
    auto account = std::make_shared<OWQuorvaneControllerAccount>(controller);

    auto delegate = std::make_shared<RecordingDelegate>();
    auto client =
        OWQuorvane::create(delegate, {account, loader, sharedCache, sharedCenter, nullptr});
    EXPECT_EQ(delegate->count("oauthStatus"), 1u);
    EXPECT_EQ(client->apiURLString(), "https://hosted.example/api/0");
    EXPECT_FALSE(client->isLinked());
    EXPECT_FALSE(client->isQuorvServer());
    client->populateProjects();  // not linked: nothing goes out
    EXPECT_EQ(client->queuedOperationCount(), 0u);

    controller->setQuorvServerURLString("https://review.studio.example");
    controller->setUsername("zed");
    EXPECT_TRUE(client->isQuorvServer());
    EXPECT_EQ(client->apiURLString(), "https://review.studio.example/api/0");
    EXPECT_EQ(client->username(), "zed");
    client->generateTempActivationCode();  // needs no account, carries the client id
    ASSERT_TRUE(loader->waitForCalls(1));
    EXPECT_EQ(loader->calls()[0].url, "https://review.studio.example/api/0/tempactivationcode");
    EXPECT_EQ(loader->calls()[0].body, "&client_id=client-9");
    client.reset();
}

TEST_F(QuorvaneAccount, EveryClientSetsTheSharedStorageKeys) {
    ::setenv("QUORVANE_STORAGE_ACCESS_KEY", "AKIDTESTACCESSKEY001", 1);
    ::setenv("QUORVANE_STORAGE_SECRET_KEY", "secretsecretsecretsecretsecretsecret0001", 1);
    TXS3Request::setSharedAccessKey("");
    TXS3Request::setSharedSecretAccessKey("");
    auto account = std::make_shared<FakeAccount>();
    auto client =
        OWQuorvane::create(nullptr, {account, loader, sharedCache, sharedCenter, nullptr});
    EXPECT_EQ(TXS3Request::sharedAccessKey(), "AKIDTESTACCESSKEY001");
    EXPECT_EQ(TXS3Request::sharedSecretAccessKey(), "secretsecretsecretsecretsecretsecret0001");
    ::unsetenv("QUORVANE_STORAGE_ACCESS_KEY");
    ::unsetenv("QUORVANE_STORAGE_SECRET_KEY");
}

}  // namespace
