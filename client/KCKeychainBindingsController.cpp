#include "client/KCKeychainBindingsController.h"

#include "client/KCKeychainBindings.h"

namespace {

constexpr std::string_view kValuesPrefix = "values.";

using platform::keychain::Item;
using platform::keychain::KeychainFile;
using platform::keychain::Status;

base::Value itemValue(const Item& item) {
    base::Dictionary d{{KCKeychainBindingsController::kAccountKey, item.account},
                       {KCKeychainBindingsController::kServiceKey, item.service}};
    if (item.generic) {
        d.set(KCKeychainBindingsController::kGenericKey, *item.generic);
    }
    d.set(KCKeychainBindingsController::kDataKey,
          base::Data(item.password.begin(), item.password.end()));
    return d;
}

base::Array filter(const base::Array& items, bool (*keep)(std::string_view, std::string_view),
                   std::string_view arg) {
    base::Array out;
    for (const base::Value& item : items) {
        const auto* account = item[KCKeychainBindingsController::kAccountKey].string();
        if (account && keep(*account, arg)) {
            out.push_back(item);
        }
    }
    return out;
}

}  // namespace

KCKeychainBindingsController& KCKeychainBindingsController::sharedKeychainBindingsController() {
    static KCKeychainBindingsController* shared = new KCKeychainBindingsController(
        std::make_shared<KeychainFile>(KeychainFile::defaultFolder()));
    return *shared;
}

KCKeychainBindingsController::KCKeychainBindingsController(std::shared_ptr<KeychainFile> store)
    : store_(std::move(store)) {}

std::string KCKeychainBindingsController::serviceName() const {
    std::lock_guard lock(mutex_);
    return serviceName_;
}

void KCKeychainBindingsController::setServiceName(std::string name) {
    std::lock_guard lock(mutex_);
    serviceName_ = std::move(name);
}

std::string KCKeychainBindingsController::accessGroup() const {
    std::lock_guard lock(mutex_);
    return accessGroup_;
}

void KCKeychainBindingsController::setAccessGroup(std::string group) {
    std::lock_guard lock(mutex_);
    accessGroup_ = std::move(group);
}

void KCKeychainBindingsController::setStore(std::shared_ptr<KeychainFile> store) {
    std::lock_guard lock(mutex_);
    store_ = std::move(store);
    valueBuffer_.clear();
}

std::shared_ptr<KeychainFile> KCKeychainBindingsController::store() const {
    std::lock_guard lock(mutex_);
    return store_;
}

std::optional<std::string> KCKeychainBindingsController::stringForKey(
    const std::string& key) const {
    return stringForKey(key, serviceName());
}

std::optional<std::string> KCKeychainBindingsController::stringForKey(
    const std::string& key, const std::string& service) const {
    if (std::optional<Item> item = store()->find(service, key)) {
        return item->password;
    }
    return std::nullopt;
}

std::optional<std::string> KCKeychainBindingsController::tagForKey(
    const std::string& key, const std::string& service) const {
    if (std::optional<Item> item = store()->find(service, key)) {
        return item->generic;
    }
    return std::nullopt;
}

std::optional<Item> KCKeychainBindingsController::itemForKey(const std::string& key,
                                                             const std::string& service) const {
    return store()->find(service, key);
}

std::optional<base::Array> KCKeychainBindingsController::keychainItemsForService() const {
    return keychainItemsForService(serviceName());
}

std::optional<base::Array> KCKeychainBindingsController::keychainItemsForService(
    const std::string& service) const {
    std::vector<Item> items = store()->list(service, kListLimit);
    if (items.empty()) {
        return std::nullopt;
    }
    base::Array out;
    for (const Item& item : items) {
        out.push_back(itemValue(item));
    }
    return out;
}

base::Array KCKeychainBindingsController::filterEmailKeychains(const base::Array& items) {
    return filter(items,
                  [](std::string_view account, std::string_view) {
                      return account.find('@') != std::string_view::npos;
                  },
                  {});
}

base::Array KCKeychainBindingsController::filterKeychains(const base::Array& items,
                                                          std::string_view title) {
    return filter(
        items, [](std::string_view account, std::string_view t) { return account == t; }, title);
}

bool KCKeychainBindingsController::storeString(const std::optional<std::string>& value,
                                               const std::string& key) {
    return storeString(value, key, std::string());
}

bool KCKeychainBindingsController::storeString(const std::optional<std::string>& value,
                                               const std::string& key, const std::string& tag) {
    return storeString(value, key, tag, serviceName());
}

bool KCKeychainBindingsController::storeString(const std::optional<std::string>& value,
                                               const std::string& key, const std::string& tag,
                                               const std::string& service) {
    std::shared_ptr<KeychainFile> file = store();
    if (!value) {
        return file->remove(service, key) == Status::Success;
    }
    std::optional<std::string> generic;
    if (!tag.empty()) {
        generic = tag;
    }
    // Another program may add or remove the item between the look and the change.
    Status status = stringForKey(key, service) ? file->update(service, key, *value, generic)
                                               : file->add(Item{service, key, *value, generic});
    if (status == Status::ItemNotFound) {
        status = file->add(Item{service, key, *value, generic});
    } else if (status == Status::DuplicateItem) {
        status = file->update(service, key, *value, generic);
    }
    return status == Status::Success;
}

bool KCKeychainBindingsController::removeUnless(const std::string& key, const std::string& service,
                                                const KeepTest& keep) {
    const Status status = store()->removeIf(
        service, key, [&](const Item& item) { return !keep(item.password, item.generic); });
    return status == Status::Success || status == Status::ItemNotFound;
}

Status KCKeychainBindingsController::replaceIf(const std::string& value, const std::string& key,
                                               const std::string& tag, const std::string& service,
                                               const KeepTest& expected,
                                               std::optional<Item>* current) {
    std::optional<std::string> generic;
    if (!tag.empty()) {
        generic = tag;
    }
    return store()->replaceIf(
        service, key, [&](const Item& item) { return expected(item.password, item.generic); },
        value, generic, current);
}

base::Value KCKeychainBindingsController::valueForKeyPath(std::string_view keyPath) {
    if (!keyPath.starts_with(kValuesPrefix)) {
        std::lock_guard lock(mutex_);
        const base::Value* v = plainValues_.find(keyPath);
        return v ? *v : base::Value();
    }
    const std::string key(keyPath.substr(kValuesPrefix.size()));
    std::optional<std::string> stored = stringForKey(key);
    std::lock_guard lock(mutex_);
    if (stored) {
        const base::Value* buffered = valueBuffer_.find(key);
        if (!buffered || *buffered != base::Value(*stored)) {
            valueBuffer_.set(key, *stored);
        }
    }
    const base::Value* v = valueBuffer_.find(key);
    return v ? *v : base::Value();
}

void KCKeychainBindingsController::setValueForKeyPath(const base::Value& value,
                                                      std::string_view keyPath) {
    if (!keyPath.starts_with(kValuesPrefix)) {
        std::lock_guard lock(mutex_);
        plainValues_.set(std::string(keyPath), value);
        return;
    }
    const std::string key(keyPath.substr(kValuesPrefix.size()));
    std::optional<std::string> text;
    if (!value.isNull()) {
        text = value.stringValue();
    }
    if (stringForKey(key) != text) {
        storeString(text, key);
    }
    std::lock_guard lock(mutex_);
    if (value.isNull()) {
        valueBuffer_.remove(key);
    } else {
        valueBuffer_.set(key, value);
    }
}

base::Dictionary KCKeychainBindingsController::values() const {
    std::lock_guard lock(mutex_);
    return valueBuffer_;
}

KCKeychainBindings& KCKeychainBindingsController::keychainBindings() {
    std::lock_guard lock(mutex_);
    if (!bindings_) {
        bindings_ = std::make_unique<KCKeychainBindings>(*this);
    }
    return *bindings_;
}
