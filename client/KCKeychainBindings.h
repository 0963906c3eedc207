#pragma once
// A dictionary-like face of the shared keychain store.
#include <optional>
#include <string>

#include "base/Value.h"

class KCKeychainBindingsController;

class KCKeychainBindings {
  public:
    explicit KCKeychainBindings(KCKeychainBindingsController& controller)
        : controller_(controller) {}
    static KCKeychainBindings& sharedKeychainBindings();

    base::Value objectForKey(const std::string& key);
    std::optional<std::string> stringForKey(const std::string& key);
    void setObject(const base::Value& value, const std::string& key);
    void setString(const std::string& value, const std::string& key);
    void removeObjectForKey(const std::string& key);

  private:
    KCKeychainBindingsController& controller_;
};
