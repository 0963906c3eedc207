#pragma once
// The account of a service client as the token controller holds it. Clients read the
// token, its expiry and the in-flight flag on their queue threads; the controller
// guards those fields, so every call here may come from any thread.
#include <memory>
#include <optional>
#include <string>

#include "client/OWQuorvaneAccount.h"

class OWQuorvaneAuthController;

class OWQuorvaneControllerAccount final : public OWQuorvaneAccount {
  public:
    explicit OWQuorvaneControllerAccount(std::shared_ptr<OWQuorvaneAuthController> controller);

    std::optional<std::string> oauthToken() const override;
    std::optional<base::Date> oauthTokenExpires() const override;
    bool isRefreshingToken() const override;
    std::string siteURLString() const override;
    std::string quorvServerURLString() const override;
    std::optional<std::string> username() const override;
    void setUsername(const std::optional<std::string>& name) override;
    std::optional<std::string> publicKey() const override;
    void loadSavedSettings() override;
    void saveSettings() override;
    void revokeAuthorization() override;

    const std::shared_ptr<OWQuorvaneAuthController>& controller() const { return controller_; }

  private:
    const std::shared_ptr<OWQuorvaneAuthController> controller_;
};
