#include "platform/keychain/KeychainFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "base/Console.h"
#include "base/Error.h"
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

namespace {

enum class ReadOutcome { Read, Missing, Refused, Unreadable };

// Names tried for a file moved aside within one second.
constexpr int kMaxAsideNames = 100;

// The file's bytes, opened so that nothing can make the read wait: not following a
// link, not blocking on a pipe or device, and read only when it is a regular file.
ReadOutcome readItemsFile(const std::string& path, std::string& bytes, std::string& problem) {
    base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT) {
            return ReadOutcome::Missing;
        }
        problem = std::strerror(errno);
        return ReadOutcome::Refused;  // a link, or not ours to open
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        problem = std::strerror(errno);
        return ReadOutcome::Refused;
    }
    if (!S_ISREG(st.st_mode)) {
        problem = "not a regular file";
        return ReadOutcome::Unreadable;
    }
    if (!ownedPrivately(st)) {
        problem = "not owned by this user alone";
        return ReadOutcome::Refused;
    }
    if (static_cast<size_t>(st.st_size) > KeychainFile::kMaxFileSize) {
        problem = "too large";
        return ReadOutcome::Unreadable;
    }
    bytes.resize(static_cast<size_t>(st.st_size));
    bool failed = false;
    bytes.resize(base::readFully(fd.get(), bytes.data(), bytes.size(), &failed));
    if (failed) {
        problem = std::strerror(errno);
        return ReadOutcome::Refused;
    }
    return ReadOutcome::Read;
}

std::optional<std::vector<Item>> itemsOf(const std::string& bytes, std::string& problem) {
    base::Error error("", 0);
    std::optional<base::Value> root = base::PropertyList::read(bytes, &error);
    if (!root || !root->isArray()) {
        problem = root ? "not a list of items" : error.localizedDescription();
        return std::nullopt;
    }
    std::vector<Item> items;
    for (const base::Value& v : *root->array()) {
        std::optional<Item> item = fromValue(v);
        if (!item) {
            problem = "an item is incomplete";
            return std::nullopt;
        }
        items.push_back(std::move(*item));
    }
    return items;
}

}  // namespace

std::optional<std::vector<Item>> KeychainFile::load() const {
    const std::string path = base::appendingPathComponent(folder_, kFileName);
    std::string bytes;
    std::string problem;
    switch (readItemsFile(path, bytes, problem)) {
        case ReadOutcome::Missing:
            return std::vector<Item>{};
        case ReadOutcome::Refused:
            base::Console::log("Keychain file %@ refused: %@", path, problem);
            return std::nullopt;
        case ReadOutcome::Read:
            if (auto items = itemsOf(bytes, problem)) {
                return items;
            }
            break;
        case ReadOutcome::Unreadable:
            break;
    }
    // Never overwrite or delete what we cannot read: it may be someone's only copy. It
    // is moved aside, so that every program reads no record and the next change starts
    // a new file. Under the shared lock no writer can be replacing it meanwhile.
    const std::string stem =
        path + ".corrupt-" + std::to_string(static_cast<long long>(std::time(nullptr)));
    std::string aside = stem;
    int status = 0;
    // Never over an earlier one moved aside in the same second.
    for (int n = 1; (status = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(),
                                          RENAME_NOREPLACE)) != 0 &&
                    errno == EEXIST && n < kMaxAsideNames;
         ++n) {
        aside = stem + "-" + std::to_string(n);
    }
    if (status != 0 && errno == ENOENT) {
        return std::vector<Item>{};  // another program moved it aside first
    }
    if (status != 0) {
        base::Console::log("Keychain file %@ is unreadable (%@) and cannot be moved aside: %@",
                           path, problem, std::string(std::strerror(errno)));
        return std::nullopt;
    }
    base::Console::log("Keychain file %@ is unreadable (%@); moved aside to %@", path, problem,
                       aside);
    return std::vector<Item>{};
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
    std::optional<std::vector<Item>> items = load();
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
    std::optional<std::vector<Item>> items = load();
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
    std::optional<std::vector<Item>> items = load();
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
    return removeIf(service, account, [](const Item&) { return true; });
}

Status KeychainFile::removeIf(const std::string& service, const std::string& account,
                              const std::function<bool(const Item&)>& matches) {
    return change([&](std::vector<Item>& items) {
        for (auto it = items.begin(); it != items.end(); ++it) {
            if (it->service == service && it->account == account) {
                if (!matches(*it)) {
                    return Status::Kept;
                }
                items.erase(it);
                return Status::Success;
            }
        }
        return Status::ItemNotFound;
    });
}

Status KeychainFile::replaceIf(const std::string& service, const std::string& account,
                               const std::function<bool(const Item&)>& matches,
                               const std::string& password,
                               const std::optional<std::string>& generic,
                               std::optional<Item>* current) {
    return change([&](std::vector<Item>& items) {
        for (Item& existing : items) {
            if (existing.service == service && existing.account == account) {
                if (!matches(existing)) {
                    if (current) {
                        *current = existing;
                    }
                    return Status::Kept;
                }
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

std::unique_ptr<KeychainFile::Turn> KeychainFile::takeTurn(const std::string& name,
                                                           double waitSeconds) const {
    if (!prepareFolder()) {
        return nullptr;
    }
    const std::string path = base::appendingPathComponent(folder_, "." + name + ".lock");
    base::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return nullptr;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(std::max(waitSeconds, 0.0)));
    auto pause = std::chrono::milliseconds(5);
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return nullptr;
        }
        // flock cannot wait with a bound: try again after a pause that grows to 50 ms.
        const auto now = Clock::now();
        if (now >= deadline) {
            return nullptr;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    return std::make_unique<Turn>(std::move(fd));
}

}  // namespace platform::keychain
