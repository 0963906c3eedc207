#include "client/KCKeychainBindings.h"

#include "client/KCKeychainBindingsController.h"

namespace {
std::string pathFor(const std::string& key) {
    return "values." + key;
}
}  // namespace

KCKeychainBindings& KCKeychainBindings::sharedKeychainBindings() {
    return KCKeychainBindingsController::sharedKeychainBindingsController().keychainBindings();
}

base::Value KCKeychainBindings::objectForKey(const std::string& key) {
    return controller_.valueForKeyPath(pathFor(key));
}

std::optional<std::string> KCKeychainBindings::stringForKey(const std::string& key) {
    base::Value v = objectForKey(key);
    if (const auto* s = v.string()) {
        return *s;
    }
    return std::nullopt;
}

void KCKeychainBindings::setObject(const base::Value& value, const std::string& key) {
    controller_.setValueForKeyPath(value, pathFor(key));
}

void KCKeychainBindings::setString(const std::string& value, const std::string& key) {
    setObject(base::Value(value), key);
}

void KCKeychainBindings::removeObjectForKey(const std::string& key) {
    controller_.setValueForKeyPath(base::Value(), pathFor(key));
}
