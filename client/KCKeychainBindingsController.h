#pragma once
// A small key-value store over the keychain: each value is a generic-password item
// of one service, the key is the item's account and the value its password text,
// with an optional tag in the generic attribute. One shared instance per process.
//
// Every operation has a form that names its service, so callers on different
// threads never switch a shared "current service" under each other; the short forms
// use `serviceName()`.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"
#include "platform/keychain/KeychainFile.h"

class KCKeychainBindings;

class KCKeychainBindingsController {
  public:
    // Keys of the item dictionaries that listing answers.
    static constexpr const char* kAccountKey = "acct";
    static constexpr const char* kServiceKey = "svce";
    static constexpr const char* kGenericKey = "gena";
    static constexpr const char* kDataKey = "v_Data";
    static constexpr size_t kListLimit = 10;

    static KCKeychainBindingsController& sharedKeychainBindingsController();
    explicit KCKeychainBindingsController(std::shared_ptr<platform::keychain::KeychainFile> store);

    std::string serviceName() const;
    void setServiceName(std::string name);
    std::string accessGroup() const;
    void setAccessGroup(std::string group);
    // Points the store at another file (tests).
    void setStore(std::shared_ptr<platform::keychain::KeychainFile> store);
    // The file the store reads and changes.
    std::shared_ptr<platform::keychain::KeychainFile> file() const { return store(); }

    std::optional<std::string> stringForKey(const std::string& key) const;
    std::optional<std::string> stringForKey(const std::string& key,
                                            const std::string& service) const;
    // The item's generic attribute, when it has one.
    std::optional<std::string> tagForKey(const std::string& key, const std::string& service) const;
    // The whole item, read at once.
    std::optional<platform::keychain::Item> itemForKey(const std::string& key,
                                                       const std::string& service) const;

    // Up to ten items of the service, each a dictionary of attributes plus "v_Data";
    // none when there are no items.
    std::optional<base::Array> keychainItemsForService() const;
    std::optional<base::Array> keychainItemsForService(const std::string& service) const;
    static base::Array filterEmailKeychains(const base::Array& items);
    static base::Array filterKeychains(const base::Array& items, std::string_view title);

    // A missing value deletes the item; else the item is updated or added. An empty
    // tag leaves an existing generic attribute alone and sets none on a new item.
    bool storeString(const std::optional<std::string>& value, const std::string& key);
    bool storeString(const std::optional<std::string>& value, const std::string& key,
                     const std::string& tag);
    bool storeString(const std::optional<std::string>& value, const std::string& key,
                     const std::string& tag, const std::string& service);

    // Removes the item unless `keep` holds for its value and tag as they are now: the
    // look and the removal are one change under the store's lock. True when the item is
    // gone (also when there was none).
    using KeepTest =
        std::function<bool(const std::string& value, const std::optional<std::string>& tag)>;
    bool removeUnless(const std::string& key, const std::string& service, const KeepTest& keep);
    // Stores the value (and a non-empty tag) only while the item is there and `expected`
    // holds for it as it is now, tested and changed in one change under the store's lock.
    // Never adds the item. Kept: it holds something else, given in `current`.
    platform::keychain::Status replaceIf(const std::string& value, const std::string& key,
                                         const std::string& tag, const std::string& service,
                                         const KeepTest& expected,
                                         std::optional<platform::keychain::Item>* current);

    // Key paths "values.<key>" reach the keychain through the value buffer; other
    // paths are plain values of the controller.
    base::Value valueForKeyPath(std::string_view keyPath);
    void setValueForKeyPath(const base::Value& value, std::string_view keyPath);
    base::Dictionary values() const;

    KCKeychainBindings& keychainBindings();

  private:
    std::shared_ptr<platform::keychain::KeychainFile> store() const;

    mutable std::mutex mutex_;
    std::shared_ptr<platform::keychain::KeychainFile> store_;
    std::string serviceName_;
    std::string accessGroup_;
    base::Dictionary valueBuffer_;
    base::Dictionary plainValues_;
    std::unique_ptr<KCKeychainBindings> bindings_;
};
