#include "base/UserDefaults.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <map>

#include "base/Bundle.h"
#include "base/Path.h"
#include "base/PropertyList.h"

namespace base {
namespace {

std::mutex registryMutex;
std::optional<std::string> folderOverride;

std::string defaultFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && isAbsolutePath(config)) {
        return config;
    }
    return expandingTildeInPath("~/.config");
}

bool isFileName(const std::string& domain) {
    return !domain.empty() && domain != "." && domain != ".." &&
           domain.find('/') == std::string::npos && domain.find('\0') == std::string::npos;
}

// Makes `folder` and any missing parents, owner-only.
bool makeFolders(const std::string& folder) {
    std::string prefix;
    for (const std::string& component : pathComponents(folder)) {
        prefix = prefix.empty() ? component : appendingPathComponent(prefix, component);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

UserDefaults::UserDefaults(std::string domain, const std::string& folder)
    : domain_(std::move(domain)),
      path_(isFileName(domain_) ? appendingPathComponent(folder, domain_ + ".plist") : "") {
    std::lock_guard lock(mutex_);
    reloadLocked();
}

std::shared_ptr<UserDefaults> UserDefaults::standard() {
    static const std::shared_ptr<UserDefaults> defaults = [] {
        std::shared_ptr<const Bundle> main = Bundle::main();
        std::string domain = main->identifier();
        return forDomain(domain.empty() ? main->executableName() : domain);
    }();
    return defaults;
}

std::shared_ptr<UserDefaults> UserDefaults::forDomain(const std::string& domain) {
    return forDomain(domain, preferencesFolder());
}

std::shared_ptr<UserDefaults> UserDefaults::forDomain(const std::string& domain,
                                                      const std::string& folder) {
    static std::map<std::pair<std::string, std::string>, std::weak_ptr<UserDefaults>> registry;
    std::lock_guard lock(registryMutex);
    std::weak_ptr<UserDefaults>& slot = registry[{standardizingPath(folder), domain}];
    std::shared_ptr<UserDefaults> defaults = slot.lock();
    if (!defaults) {
        defaults = std::make_shared<UserDefaults>(domain, standardizingPath(folder));
        slot = defaults;
    }
    return defaults;
}

std::string UserDefaults::preferencesFolder() {
    std::lock_guard lock(registryMutex);
    return folderOverride ? *folderOverride : defaultFolder();
}

void UserDefaults::setPreferencesFolder(std::optional<std::string> folder) {
    std::lock_guard lock(registryMutex);
    folderOverride = std::move(folder);
}

Value UserDefaults::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const Value* value = values_.find(key);
    return value ? *value : Value();
}

std::string UserDefaults::string(std::string_view key) const {
    Value value = object(key);
    return value.isString() || value.isNumber() ? value.stringValue() : std::string();
}

int64_t UserDefaults::integer(std::string_view key) const {
    return object(key).integerValue();
}

double UserDefaults::doubleValue(std::string_view key) const {
    return object(key).doubleValue();
}

bool UserDefaults::boolValue(std::string_view key) const {
    return object(key).boolValue();
}

Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard lock(mutex_);
    return values_;
}

void UserDefaults::setObject(Value value, std::string_view key) {
    std::lock_guard lock(mutex_);
    if (value.isNull()) {
        values_.remove(key);
    } else {
        values_.set(std::string(key), std::move(value));
    }
    writeLocked();
}

void UserDefaults::removeObject(std::string_view key) {
    std::lock_guard lock(mutex_);
    if (values_.remove(key)) {
        writeLocked();
    }
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    if (unwritten_ && !writeLocked()) {
        return false;
    }
    reloadLocked();
    return !path_.empty();
}

bool UserDefaults::writeLocked() {
    unwritten_ = path_.empty() || !makeFolders(deletingLastPathComponent(path_)) ||
                 !PropertyList::writeFile(Value(values_), path_);
    return !unwritten_;
}

void UserDefaults::reloadLocked() {
    if (path_.empty()) {
        return;
    }
    // A missing or unreadable file leaves the values in memory as they are.
    if (std::optional<Value> stored = PropertyList::readFile(path_);
        stored && stored->isDictionary()) {
        values_ = *stored->dictionary();
    }
}

}  // namespace base
