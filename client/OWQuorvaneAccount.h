#pragma once
// What a service client needs of the account: the process-wide token controller's view
// of the access token, the site address and the linked user. The token controller
// answers these; tests answer them with a scripted account.
//
// Every call may come from any thread (queue workers read the token while the main
// thread refreshes it), so implementations guard their state.
#include <memory>
#include <optional>
#include <string>

#include "base/Value.h"

class OWQuorvaneAccount {
  public:
    virtual ~OWQuorvaneAccount() = default;

    virtual std::optional<std::string> oauthToken() const = 0;
    virtual std::optional<base::Date> oauthTokenExpires() const = 0;
    // A token request is in flight.
    virtual bool isRefreshingToken() const = 0;
    // The hosted or self-hosted site address, without a trailing "/".
    virtual std::string siteURLString() const = 0;
    // The self-hosted server's address; empty for the hosted service.
    virtual std::string quorvServerURLString() const = 0;
    virtual std::optional<std::string> username() const = 0;
    virtual void setUsername(const std::optional<std::string>& name) = 0;
    // The OAuth client id.
    virtual std::optional<std::string> publicKey() const = 0;

    virtual void loadSavedSettings() = 0;
    virtual void saveSettings() = 0;
    virtual void revokeAuthorization() = 0;

    // The account that clients made without one use: the one registered with
    // setShared(), or else the process's token controller (made on first use, as the
    // programs that set it up first have already made it with their own name and id).
    static std::shared_ptr<OWQuorvaneAccount> shared();
    // Registers another account for the clients made from now on; none restores the
    // token controller.
    static void setShared(std::shared_ptr<OWQuorvaneAccount> account);
};
