#include "platform/keychain/KeychainFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "base/Path.h"
#include "base/PropertyList.h"
#include "base/UniqueFd.h"
#include "base/Value.h"

namespace platform::keychain {

namespace {

// A folder or file we keep secrets in must be ours alone.
bool ownedPrivately(const struct stat& st) {
    return st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

base::Value toValue(const Item& item) {
    base::Dictionary d{{"service", item.service},
                       {"account", item.account},
                       {"password", base::Data(item.password.begin(), item.password.end())}};
    if (item.generic) {
        d.set("generic", *item.generic);
    }
    return d;
}

std::optional<Item> fromValue(const base::Value& v) {
    const base::Value& service = v["service"];
    const base::Value& account = v["account"];
    const base::Data* password = v["password"].data();
    if (!service.isString() || !account.isString() || !password) {
        return std::nullopt;
    }
    Item item{*service.string(), *account.string(), std::string(password->begin(), password->end()),
              std::nullopt};
    if (const auto* generic = v["generic"].string()) {
        item.generic = *generic;
    }
    return item;
}

}  // namespace

// flock() on a separate lock file, so the items file itself can be replaced by rename.
class KeychainFile::Lock {
  public:
    Lock(const std::string& folder, bool exclusive) {
        const std::string path = base::appendingPathComponent(folder, ".lock");
        fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd_.valid()) {
            return;
        }
        while (::flock(fd_.get(), exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                fd_.reset();
                return;
            }
        }
    }
    bool held() const { return fd_.valid(); }

  private:
    base::UniqueFd fd_;  // closing it releases the lock
};

KeychainFile::KeychainFile(std::string folder) : folder_(std::move(folder)) {}

std::string KeychainFile::defaultFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string root;
    if (data && *data == '/') {
        root = data;
    } else {
        const char* home = std::getenv("HOME");
        root = base::appendingPathComponent(home ? home : "/", ".local/share");
    }
    return base::appendingPathComponent(root, "Oxbury Works/Keychain");
}

bool KeychainFile::prepareFolder() const {
    const std::string parent = base::deletingLastPathComponent(folder_);
    std::string partial;
    for (const std::string& c : base::pathComponents(parent)) {
        partial = partial.empty() ? c : base::appendingPathComponent(partial, c);
        ::mkdir(partial.c_str(), 0700);  // existing folders are fine
    }
    if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat st {};
    if (::lstat(folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(folder_.c_str(), 0700) != 0) {
        return false;
    }
    return true;
}

std::optional<std::vector<Item>> KeychainFile::load(bool mayRepair) const {
    const std::string path = base::appendingPathComponent(folder_, kFileName);
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::vector<Item>{};
        }
        return std::nullopt;
    }
    struct stat st {};
    const bool safe = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ownedPrivately(st) &&
                      static_cast<size_t>(st.st_size) <= kMaxFileSize;
    std::string bytes;
    if (safe) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    if (!safe) {
        return std::nullopt;
    }
    std::optional<base::Value> root = base::PropertyList::read(bytes);
    std::vector<Item> items;
    bool corrupt = !root || !root->isArray();
    if (!corrupt) {
        for (const base::Value& v : *root->array()) {
            std::optional<Item> item = fromValue(v);
            if (!item) {
                corrupt = true;
                break;
            }
            items.push_back(std::move(*item));
        }
    }
    if (corrupt) {
        // Never overwrite what we cannot read: it may be someone's only copy.
        if (!mayRepair) {
            return std::vector<Item>{};
        }
        const std::string aside =
            path + ".corrupt-" + std::to_string(static_cast<long long>(std::time(nullptr)));
        if (::rename(path.c_str(), aside.c_str()) != 0) {
            return std::nullopt;
        }
        return std::vector<Item>{};
    }
    return items;
}

bool KeychainFile::save(const std::vector<Item>& items) const {
    base::Array array;
    array.reserve(items.size());
    for (const Item& item : items) {
        array.push_back(toValue(item));
    }
    return base::PropertyList::writeFile(base::Value(std::move(array)),
                                         base::appendingPathComponent(folder_, kFileName));
}

std::optional<Item> KeychainFile::find(const std::string& service,
                                       const std::string& account) const {
    if (!prepareFolder()) {
        return std::nullopt;
    }
    Lock lock(folder_, false);
    if (!lock.held()) {
        return std::nullopt;
    }
    std::optional<std::vector<Item>> items = load(false);
    if (!items) {
        return std::nullopt;
    }
    for (Item& item : *items) {
        if (item.service == service && item.account == account) {
            return std::move(item);
        }
    }
    return std::nullopt;
}

std::vector<Item> KeychainFile::list(const std::string& service, size_t limit) const {
    std::vector<Item> found;
    if (!prepareFolder()) {
        return found;
    }
    Lock lock(folder_, false);
    if (!lock.held()) {
        return found;
    }
    std::optional<std::vector<Item>> items = load(false);
    if (!items) {
        return found;
    }
    for (Item& item : *items) {
        if (found.size() >= limit) {
            break;
        }
        if (item.service == service) {
            found.push_back(std::move(item));
        }
    }
    return found;
}

template <class Change>
Status KeychainFile::change(Change&& apply) {
    if (!prepareFolder()) {
        return Status::IoError;
    }
    Lock lock(folder_, true);
    if (!lock.held()) {
        return Status::IoError;
    }
    std::optional<std::vector<Item>> items = load(true);
    if (!items) {
        return Status::IoError;
    }
    Status status = apply(*items);
    if (status != Status::Success) {
        return status;
    }
    return save(*items) ? Status::Success : Status::IoError;
}

Status KeychainFile::add(const Item& item) {
    return change([&](std::vector<Item>& items) {
        for (const Item& existing : items) {
            if (existing.service == item.service && existing.account == item.account) {
                return Status::DuplicateItem;
            }
        }
        items.push_back(item);
        return Status::Success;
    });
}

Status KeychainFile::update(const std::string& service, const std::string& account,
                            const std::string& password,
                            const std::optional<std::string>& generic) {
    return change([&](std::vector<Item>& items) {
        for (Item& existing : items) {
            if (existing.service == service && existing.account == account) {
                existing.password = password;
                if (generic) {
                    existing.generic = generic;
                }
                return Status::Success;
            }
        }
        return Status::ItemNotFound;
    });
}

Status KeychainFile::remove(const std::string& service, const std::string& account) {
    return change([&](std::vector<Item>& items) {
        for (auto it = items.begin(); it != items.end(); ++it) {
            if (it->service == service && it->account == account) {
                items.erase(it);
                return Status::Success;
            }
        }
        return Status::ItemNotFound;
    });
}

}  // namespace platform::keychain
