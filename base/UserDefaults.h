#pragma once
// Preferences of one domain ("com.oxburyworks.QuorvPremiereExporter"), kept in the
// property list "<domain>.plist" in the preferences folder. Every change is written
// through to the file at once (owner-only, atomic replace), so nothing is lost when
// the process ends without synchronize(). Safe to use from any thread.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"

namespace base {

class UserDefaults {
  public:
    // The defaults of the main bundle's identifier (the executable's name without one).
    static std::shared_ptr<UserDefaults> standard();
    // The one object per domain and folder in this process.
    static std::shared_ptr<UserDefaults> forDomain(const std::string& domain);
    static std::shared_ptr<UserDefaults> forDomain(const std::string& domain,
                                                   const std::string& folder);

    // The override when set, else $XDG_CONFIG_HOME, else ~/.config.
    static std::string preferencesFolder();
    // Points preferencesFolder() somewhere else (tests); none goes back to the default.
    static void setPreferencesFolder(std::optional<std::string> folder);

    const std::string& domain() const { return domain_; }
    // The file, or "" for a domain that cannot name a file ("", "a/b", ".."): such
    // defaults live in memory only and synchronize() reports false.
    const std::string& path() const { return path_; }

    Value object(std::string_view key) const;        // null when missing
    std::string string(std::string_view key) const;  // strings, and numbers as text; else ""
    int64_t integer(std::string_view key) const;
    double doubleValue(std::string_view key) const;
    bool boolValue(std::string_view key) const;
    Dictionary dictionaryRepresentation() const;

    // Setting null removes the key.
    void setObject(Value value, std::string_view key);
    void removeObject(std::string_view key);
    // Retries a write that failed and then takes in changes other processes made to
    // the file. False while the values could not be written.
    bool synchronize();

    UserDefaults(std::string domain, const std::string& folder);  // use forDomain()

  private:
    bool writeLocked();
    void reloadLocked();

    const std::string domain_;
    const std::string path_;
    mutable std::mutex mutex_;
    Dictionary values_;
    bool unwritten_ = false;  // the last write failed
};

}  // namespace base
