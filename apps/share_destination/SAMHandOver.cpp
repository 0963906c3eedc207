#include "apps/share_destination/SAMHandOver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "base/Console.h"
#include "platform/scripting/Bookmark.h"

namespace sam {
namespace {

using platform::scripting::Descriptor;
using platform::scripting::ScriptError;

std::string lowercase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

ScriptError openError(int error, const std::string& path) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return {platform::scripting::kFileNotFoundError, "No file at " + path + "."};
        case EACCES:
        case EPERM:
            return {platform::scripting::kPermissionError,
                    "The file at " + path + " may not be read."};
        case ENXIO:  // a socket
            return {platform::scripting::kNotAFileError, path + " is not a file."};
        default:
            return {platform::scripting::kIOError, "The file at " + path + " cannot be read."};
    }
}

// The file one item names; the script error when the item is no usable bookmark.
std::variant<platform::scripting::FileURL, ScriptError> fileOfItem(const Descriptor& item,
                                                                   size_t position) {
    const std::string which = "Item " + std::to_string(position);
    if (item.type() != platform::scripting::kTypeBookmarkData ||
        item.kind() != Descriptor::Kind::Atomic) {
        return ScriptError{platform::scripting::kCoercionError, which + " is not bookmark data."};
    }
    // Measured before anything is made of it: a huge item is never copied or logged.
    if (item.data().size() > platform::scripting::bookmark::kMaxSize) {
        return ScriptError{platform::scripting::kCoercionError,
                           which + " is larger than a bookmark may be."};
    }
    auto url = platform::scripting::bookmark::resolve(item.data());
    if (!url) {
        return ScriptError{platform::scripting::kCoercionError,
                           which + " is not a bookmark of a file on this computer."};
    }
    return *url;
}

}  // namespace

std::variant<std::shared_ptr<const CheckedFile>, ScriptError> openChecked(const std::string& path) {
    // Looked at before it is opened: a pipe is never opened at all, so no writer ever
    // finds this program reading it.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return openError(errno, path);
    }
    if (!S_ISREG(st.st_mode)) {
        return ScriptError{platform::scripting::kNotAFileError, path + " is not a file."};
    }
    // Non-blocking all the same: the path may name a pipe by now, and opening one for
    // reading would wait for a writer.
    base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        return openError(errno, path);
    }
    if (::fstat(fd.get(), &st) != 0) {
        return openError(errno, path);
    }
    if (!S_ISREG(st.st_mode)) {
        return ScriptError{platform::scripting::kNotAFileError, path + " is not a file."};
    }
    return std::make_shared<const CheckedFile>(path, std::move(fd));
}

bool CheckedFile::isAt(const std::string& path) const {
    struct stat named {};
    struct stat held {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(fd_.get(), &held) == 0 &&
           named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

std::string CheckedFile::linkIn(const std::string& parent) const {
    std::string folder = parent + "/upload-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        return {};
    }
    const std::string link = folder + "/" + std::filesystem::path(path_).filename().string();
    if (::symlink(readPath().c_str(), link.c_str()) != 0) {
        (void)::rmdir(folder.c_str());
        return {};
    }
    return link;
}

void CheckedFile::removeLink(const std::string& link) {
    if (link.empty()) {
        return;
    }
    (void)::unlink(link.c_str());
    (void)::rmdir(std::filesystem::path(link).parent_path().c_str());
}

std::variant<HandOver, ScriptError> readHandOver(const Descriptor& direct) {
    HandOver handOver;
    // The editor sends a list; a single bookmark is taken as a list of one.
    const size_t count = direct.isList() ? direct.count() : 1;
    for (size_t i = 1; i <= count; ++i) {
        const Descriptor& item = direct.isList() ? *direct.at(i) : direct;
        auto file = fileOfItem(item, i);
        if (auto* error = std::get_if<ScriptError>(&file)) {
            base::Console::log("open documents: %@", error->message);
            return *error;
        }
        const auto& url = std::get<platform::scripting::FileURL>(file);
        base::Console::log("url: %@", url.absoluteString());
        const std::string extension = lowercase(url.pathExtension());
        if (extension == "mp4" || extension == "mov") {
            handOver.moviePath = url.path();
        } else if (extension == "fcpxml") {
            handOver.xmlPath = url.path();
        }
    }
    return handOver;
}

bool liesDirectlyIn(const std::string& path, const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path file(path);
    const fs::path parent = fs::canonical(file.parent_path(), error);
    if (error || file.filename().empty()) {
        return false;
    }
    const fs::path home = fs::canonical(folder, error);
    return !error && parent == home;
}

}  // namespace sam
