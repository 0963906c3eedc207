#include "client/OWQuorvaneAccount.h"

#include <mutex>

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
    return sharedAccount();
}

void OWQuorvaneAccount::setShared(std::shared_ptr<OWQuorvaneAccount> account) {
    std::lock_guard lock(sharedMutex());
    sharedAccount() = std::move(account);
}
