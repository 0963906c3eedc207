#include "transfer/TXCredentialStorage.h"

#include "platform/keychain/KeychainFile.h"

namespace {

using platform::keychain::Item;
using platform::keychain::KeychainFile;
using platform::keychain::Status;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool replaceItems(const std::string& service, const platform::net::HttpCredentials& c) {
    if (c.user.empty())
        return false;
    KeychainFile file(KeychainFile::defaultFolder());
    for (const Item& old : file.list(service, 64)) {
        if (file.remove(service, old.account) == Status::IoError)
            return false;
    }
    Item item{service, c.user, c.password, c.domain};
    return file.add(item) == Status::Success;
}

std::optional<platform::net::HttpCredentials> firstItem(const std::string& service) {
    KeychainFile file(KeychainFile::defaultFolder());
    auto items = file.list(service, 1);
    if (items.empty())
        return std::nullopt;
    return platform::net::HttpCredentials{items[0].account, items[0].password,
                                          items[0].generic.value_or("")};
}

bool removeItems(const std::string& service) {
    KeychainFile file(KeychainFile::defaultFolder());
    bool ok = true;
    for (const Item& old : file.list(service, 64))
        ok = file.remove(service, old.account) != Status::IoError && ok;
    return ok;
}

}  // namespace

std::string TXCredentialStorage::serviceFor(const std::string& host, uint16_t port,
                                            const std::string& protocol, const std::string& realm) {
    return "TXHTTPRequest " + lower(protocol) + "://" + lower(host) + ":" + std::to_string(port) +
           " realm=" + realm;
}

std::string TXCredentialStorage::proxyServiceFor(const std::string& host, uint16_t port,
                                                 const std::string& realm) {
    return "TXHTTPRequest proxy " + lower(host) + ":" + std::to_string(port) + " realm=" + realm;
}

bool TXCredentialStorage::save(const platform::net::HttpCredentials& credentials,
                               const std::string& host, uint16_t port, const std::string& protocol,
                               const std::string& realm) {
    return replaceItems(serviceFor(host, port, protocol, realm), credentials);
}

std::optional<platform::net::HttpCredentials> TXCredentialStorage::find(const std::string& host,
                                                                        uint16_t port,
                                                                        const std::string& protocol,
                                                                        const std::string& realm) {
    return firstItem(serviceFor(host, port, protocol, realm));
}

bool TXCredentialStorage::remove(const std::string& host, uint16_t port,
                                 const std::string& protocol, const std::string& realm) {
    return removeItems(serviceFor(host, port, protocol, realm));
}

bool TXCredentialStorage::saveProxy(const platform::net::HttpCredentials& credentials,
                                    const std::string& host, uint16_t port,
                                    const std::string& realm) {
    return replaceItems(proxyServiceFor(host, port, realm), credentials);
}

std::optional<platform::net::HttpCredentials> TXCredentialStorage::findProxy(
    const std::string& host, uint16_t port, const std::string& realm) {
    return firstItem(proxyServiceFor(host, port, realm));
}

bool TXCredentialStorage::removeProxy(const std::string& host, uint16_t port,
                                      const std::string& realm) {
    return removeItems(proxyServiceFor(host, port, realm));
}
