#include "base/Path.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace base {
namespace {

// Collapses repeated slashes and drops a trailing slash, keeping a lone "/".
std::string tidy(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !out.empty() && out.back() == '/') {
            continue;
        }
        out.push_back(c);
    }
    if (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return out;
}

// Index where the last component of a tidied path starts.
size_t lastComponentStart(const std::string& tidied) {
    size_t slash = tidied.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Index of the dot that starts the extension of a tidied path, or npos.
size_t extensionDot(const std::string& tidied) {
    if (tidied == "/") {
        return std::string::npos;
    }
    size_t start = lastComponentStart(tidied);
    size_t dot = tidied.rfind('.');
    if (dot == std::string::npos || dot <= start || dot + 1 == tidied.size()) {
        return std::string::npos;
    }
    return dot;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) {
        return home;
    }
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) {
        return pw->pw_dir;
    }
    return "/";
}

std::string homeFolderOf(const std::string& user) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir) {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

bool isAbsolutePath(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

std::string lastPathComponent(std::string_view path) {
    std::string tidied = tidy(path);
    if (tidied == "/") {
        return tidied;
    }
    return tidied.substr(lastComponentStart(tidied));
}

std::string pathExtension(std::string_view path) {
    std::string tidied = tidy(path);
    size_t dot = extensionDot(tidied);
    return dot == std::string::npos ? std::string() : tidied.substr(dot + 1);
}

std::string deletingPathExtension(std::string_view path) {
    std::string tidied = tidy(path);
    size_t dot = extensionDot(tidied);
    return dot == std::string::npos ? tidied : tidied.substr(0, dot);
}

std::string deletingLastPathComponent(std::string_view path) {
    std::string tidied = tidy(path);
    if (tidied == "/") {
        return tidied;
    }
    size_t slash = tidied.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? std::string("/") : tidied.substr(0, slash);
}

std::string appendingPathComponent(std::string_view path, std::string_view component) {
    if (path.empty()) {
        return tidy(component);
    }
    std::string joined(path);
    joined += '/';
    joined += component;
    return tidy(joined);
}

std::string appendingPathExtension(std::string_view path, std::string_view extension) {
    std::string tidied = tidy(path);
    if (tidied.empty() || tidied == "/" || extension.find('/') != std::string_view::npos) {
        return tidied.empty() ? std::string(path) : tidied;
    }
    if (extension.empty()) {
        return tidied;
    }
    return tidied + "." + std::string(extension);
}

std::vector<std::string> pathComponents(std::string_view path) {
    std::vector<std::string> components;
    if (path.empty()) {
        return components;
    }
    if (path.front() == '/') {
        components.emplace_back("/");
    }
    size_t i = 0;
    while (i < path.size()) {
        size_t slash = path.find('/', i);
        size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > i) {
            components.emplace_back(path.substr(i, end - i));
        }
        i = end + 1;
    }
    if (path.size() > 1 && path.back() == '/') {
        components.emplace_back("/");
    }
    return components;
}

std::string expandingTildeInPath(std::string_view path) {
    if (path.empty() || path.front() != '~') {
        return tidy(path);
    }
    size_t slash = path.find('/');
    std::string_view user = path.substr(1, slash == std::string_view::npos ? path.npos : slash - 1);
    std::string home = user.empty() ? homeFolder() : homeFolderOf(std::string(user));
    if (home.empty()) {
        return tidy(path);  // an unknown user: leave the text as it is
    }
    std::string_view rest =
        slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    return tidy(home + std::string(rest));
}

std::string standardizingPath(std::string_view path) {
    std::string expanded = expandingTildeInPath(path);
    bool absolute = isAbsolutePath(expanded);
    std::vector<std::string> kept;
    for (const std::string& component : pathComponents(expanded)) {
        if (component == "/" || component == ".") {
            continue;
        }
        if (component == ".." && absolute) {
            if (!kept.empty()) {
                kept.pop_back();
            }
            continue;
        }
        kept.push_back(component);
    }
    if (kept.empty() && !absolute) {
        return expanded.empty() ? std::string() : std::string(".");
    }
    std::string out = absolute ? "/" : "";
    for (size_t i = 0; i < kept.size(); ++i) {
        if (i > 0) {
            out += '/';
        }
        out += kept[i];
    }
    return out;
}

}  // namespace base
