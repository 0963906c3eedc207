// The default user agent: the application's name and version, the platform and
// the system's version and locale, in the shape servers have always seen from us.
#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "base/Bundle.h"
#include "transfer/TXHTTPRequest.h"

namespace {

std::mutex userAgentLock;
bool userAgentComputed = false;
std::optional<std::string> userAgent;

// "6.1.0-18-amd64" → "6.1.0": major, minor and bug-fix as numbers.
std::optional<std::string> systemVersion() {
    utsname names{};
    if (uname(&names) != 0)
        return std::nullopt;
    unsigned major = 0, minor = 0, fix = 0;
    if (std::sscanf(names.release, "%u.%u.%u", &major, &minor, &fix) < 2)
        return std::nullopt;
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(fix);
}

std::string localeIdentifier() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            std::string id = value;
            id = id.substr(0, id.find_first_of(".@"));
            if (id != "C" && id != "POSIX")
                return id;
        }
    }
    return "en_US";
}

std::string infoText(const base::Bundle& bundle, const char* key) {
    const base::Value& value = bundle.objectForInfoDictionaryKey(key);
    std::string text = value.isString() ? *value.string() : "";
    // A header line must not be cut or extended by what a property list holds.
    std::erase_if(text, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    return text;
}

}  // namespace

std::optional<std::string> TXHTTPRequest::userAgentFor(
    const std::string& name, const std::string& shortVersion, const std::string& build,
    const std::string& platformWords, const std::string& systemName,
    const std::string& systemVersionText, const std::string& locale) {
    if (name.empty() || systemVersionText.empty())
        return std::nullopt;
    std::string version;
    if (!shortVersion.empty() && !build.empty() && shortVersion != build)
        version = shortVersion + " rv:" + build;
    else
        version = !shortVersion.empty() ? shortVersion : build;
    return name + (version.empty() ? "" : " " + version) + " (" + platformWords + "; " +
           systemName + " " + systemVersionText + "; " + locale + ")";
}

std::optional<std::string> TXHTTPRequest::defaultUserAgentString() {
    std::lock_guard guard(userAgentLock);
    if (!userAgentComputed) {
        userAgentComputed = true;
        // The program's bundle names it; a program outside a bundle has no name to
        // give and sends no user agent.
        std::shared_ptr<const base::Bundle> bundle = base::Bundle::main();
        std::string name = infoText(*bundle, "CFBundleDisplayName");
        if (name.empty())
            name = infoText(*bundle, "CFBundleName");
        auto version = systemVersion();
        if (version && !name.empty()) {
            userAgent = userAgentFor(name, infoText(*bundle, "CFBundleShortVersionString"),
                                     infoText(*bundle, "CFBundleVersion"), "X11", "Linux", *version,
                                     localeIdentifier());
        }
    }
    return userAgent;
}

void TXHTTPRequest::setDefaultUserAgentString(const std::optional<std::string>& agent) {
    std::lock_guard guard(userAgentLock);
    userAgentComputed = true;
    userAgent = agent;
}
