#include "tests/helpers/TempDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace testsupport {
namespace {

// Removes everything below the open folder `dirFd`, never following symbolic links,
// and making folders that a test locked down writable again first.
void removeContents(int dirFd) {
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        close(dirFd);
        return;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    for (const std::string& name : names) {
        struct stat st {};
        if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            fchmodat(dirfd(dir), name.c_str(), 0700, 0);
            int child = openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (child >= 0) {
                removeContents(child);
            }
            unlinkat(dirfd(dir), name.c_str(), AT_REMOVEDIR);
        } else {
            unlinkat(dirfd(dir), name.c_str(), 0);
        }
    }
    closedir(dir);
}

void removeTree(const std::string& path) {
    chmod(path.c_str(), 0700);
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd >= 0) {
        removeContents(fd);
    }
    rmdir(path.c_str());
}

}  // namespace

TempDir::TempDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string pattern = base + "/qvtest-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        throw std::runtime_error("cannot make a temporary folder in " + base);
    }
    path_ = buffer.data();
}

TempDir::~TempDir() {
    removeTree(path_);
}

std::string TempDir::file(std::string_view name) const {
    return path_ + "/" + std::string(name);
}

std::string TempDir::write(std::string_view name, std::string_view contents) const {
    std::string path = file(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
    return path;
}

std::string TempDir::makeFolder(std::string_view name) const {
    std::string path = file(name);
    for (size_t slash = path_.size() + 1; slash != std::string::npos;) {
        slash = path.find('/', slash + 1);
        std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::runtime_error("cannot make " + prefix);
        }
    }
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

}  // namespace testsupport
