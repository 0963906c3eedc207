#include "client/OWQuorvaneAccount.h"

#include <mutex>

#include "client/OWQuorvaneAuthController.h"
#include "client/OWQuorvaneControllerAccount.h"

namespace {

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<OWQuorvaneAccount>& sharedAccount() {
    static std::shared_ptr<OWQuorvaneAccount> account;
    return account;
}

}  // namespace

std::shared_ptr<OWQuorvaneAccount> OWQuorvaneAccount::shared() {
    std::lock_guard lock(sharedMutex());
    if (sharedAccount()) {
        return sharedAccount();
    }
    // The controller is never replaced, so one view of it serves every client.
    static const std::shared_ptr<OWQuorvaneAccount> controllerAccount =
        std::make_shared<OWQuorvaneControllerAccount>(OWQuorvaneAuthController::sharedController());
    return controllerAccount;
}

void OWQuorvaneAccount::setShared(std::shared_ptr<OWQuorvaneAccount> account) {
    std::lock_guard lock(sharedMutex());
    sharedAccount() = std::move(account);
}
