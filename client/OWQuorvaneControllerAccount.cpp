#include "client/OWQuorvaneControllerAccount.h"

#include "client/OWQuorvaneAuthController.h"

OWQuorvaneControllerAccount::OWQuorvaneControllerAccount(
    std::shared_ptr<OWQuorvaneAuthController> controller)
    : controller_(std::move(controller)) {}

std::optional<std::string> OWQuorvaneControllerAccount::oauthToken() const {
    return controller_->oauthToken();
}

std::optional<base::Date> OWQuorvaneControllerAccount::oauthTokenExpires() const {
    return controller_->oauthTokenExpires();
}

bool OWQuorvaneControllerAccount::isRefreshingToken() const {
    return controller_->isRefreshingToken();
}

std::string OWQuorvaneControllerAccount::siteURLString() const {
    return controller_->siteURLString();
}

std::string OWQuorvaneControllerAccount::quorvServerURLString() const {
    return controller_->quorvServerURLString();
}

std::optional<std::string> OWQuorvaneControllerAccount::username() const {
    return controller_->username();
}

void OWQuorvaneControllerAccount::setUsername(const std::optional<std::string>& name) {
    controller_->setUsername(name);
}

std::optional<std::string> OWQuorvaneControllerAccount::publicKey() const {
    return controller_->publicKey();
}

void OWQuorvaneControllerAccount::loadSavedSettings() {
    controller_->loadSavedSettings();
}

void OWQuorvaneControllerAccount::saveSettings() {
    controller_->saveSettings();
}

void OWQuorvaneControllerAccount::revokeAuthorization() {
    controller_->revokeAuthorization();
}
