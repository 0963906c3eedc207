#include "base/Bundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "base/Path.h"
#include "base/PropertyList.h"

namespace base {
namespace {

bool isFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string runningExecutable() {
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return length > 0 ? std::string(buffer.data(), static_cast<size_t>(length)) : std::string();
}

// A resource name that reaches outside the folder it is looked up in is refused.
bool staysInside(std::string_view relative) {
    if (isAbsolutePath(relative)) {
        return false;
    }
    for (const std::string& component : pathComponents(relative)) {
        if (component == "..") {
            return false;
        }
    }
    return true;
}

std::string textValue(const Value& value) {
    return value.isString() ? *value.string() : "";
}

std::mutex ownMutex;
std::shared_ptr<const Bundle> ownBundle;

}  // namespace

Bundle::Bundle(std::string path, bool classicLayout, std::string executable)
    : path_(std::move(path)) {
    if (!classicLayout) {
        resourcePath_ = path_;
        executablePath_ = std::move(executable);
        return;
    }
    std::string contents = appendingPathComponent(path_, "Contents");
    resourcePath_ = appendingPathComponent(contents, "Resources");
    if (std::optional<Value> info =
            PropertyList::readFile(appendingPathComponent(contents, "Info.plist"));
        info && info->isDictionary()) {
        info_ = *info->dictionary();
    }
    if (!executable.empty()) {
        executablePath_ = std::move(executable);
    } else if (std::string name = textValue(objectForInfoDictionaryKey("CFBundleExecutable"));
               !name.empty() && staysInside(name)) {
        executablePath_ = appendingPathComponent(appendingPathComponent(contents, "MacOS"), name);
    }
}

std::shared_ptr<const Bundle> Bundle::atPath(const std::string& path) {
    std::string standard = standardizingPath(path);
    if (standard.empty() || !isFolder(standard)) {
        return nullptr;
    }
    bool classic = isFolder(appendingPathComponent(standard, "Contents"));
    return std::shared_ptr<const Bundle>(new Bundle(standard, classic, ""));
}

std::shared_ptr<const Bundle> Bundle::main() {
    static const std::shared_ptr<const Bundle> bundle = [] {
        std::string executable = runningExecutable();
        std::string folder = deletingLastPathComponent(executable);
        bool inClassicLayout = lastPathComponent(folder) == "MacOS" &&
                               lastPathComponent(deletingLastPathComponent(folder)) == "Contents";
        std::string path =
            inClassicLayout ? deletingLastPathComponent(deletingLastPathComponent(folder)) : folder;
        return std::shared_ptr<const Bundle>(new Bundle(path, inClassicLayout, executable));
    }();
    return bundle;
}

std::shared_ptr<const Bundle> Bundle::own() {
    {
        std::lock_guard lock(ownMutex);
        if (ownBundle) {
            return ownBundle;
        }
    }
    return main();
}

void Bundle::setOwn(std::shared_ptr<const Bundle> bundle) {
    std::lock_guard lock(ownMutex);
    ownBundle = std::move(bundle);
}

const Value& Bundle::objectForInfoDictionaryKey(std::string_view key) const {
    const Value* value = info_.find(key);
    return value ? *value : Value::null();
}

std::string Bundle::identifier() const {
    return textValue(objectForInfoDictionaryKey("CFBundleIdentifier"));
}

std::string Bundle::version() const {
    return textValue(objectForInfoDictionaryKey("CFBundleVersion"));
}

std::string Bundle::shortVersion() const {
    return textValue(objectForInfoDictionaryKey("CFBundleShortVersionString"));
}

std::string Bundle::executableName() const {
    return lastPathComponent(executablePath_);
}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type,
                                                   std::string_view subdirectory) const {
    std::string file(name);
    if (!type.empty()) {
        file = appendingPathExtension(file, type.starts_with('.') ? type.substr(1) : type);
    }
    if (file.empty() || !staysInside(file) || !staysInside(subdirectory)) {
        return std::nullopt;
    }
    for (std::string_view localisation : {"", "Base.lproj", "en.lproj"}) {
        std::string folder = appendingPathComponent(resourcePath_, localisation);
        std::string candidate =
            appendingPathComponent(appendingPathComponent(folder, subdirectory), file);
        if (exists(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace base
