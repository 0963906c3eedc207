#pragma once
// Generic-password items kept in one owner-only file per user. Every process of the
// suite (the hub, both exporters, the widget) shares the file: reads take a shared
// lock, changes an exclusive one, and a change replaces the file atomically.
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/UniqueFd.h"

namespace platform::keychain {

struct Item {
    std::string service;
    std::string account;
    std::string password;
    std::optional<std::string> generic;  // the free text attribute
};

enum class Status {
    Success = 0,
    ItemNotFound,
    DuplicateItem,
    // The folder or file is unsafe (wrong owner, mode or type) or cannot be written.
    IoError,
    // The item was not what the caller expected; it was left as it is.
    Kept,
};

class KeychainFile {
  public:
    // Bigger files are refused rather than read.
    static constexpr size_t kMaxFileSize = 4 * 1024 * 1024;
    static constexpr const char* kFileName = "items.plist";

    // The store in `folder`, made with mode 0700 when missing.
    explicit KeychainFile(std::string folder);
    // "$XDG_DATA_HOME/Oxbury Works/Keychain" (~/.local/share when unset).
    static std::string defaultFolder();

    const std::string& folder() const { return folder_; }

    std::optional<Item> find(const std::string& service, const std::string& account) const;
    // Items of `service` in the order they were added, at most `limit`.
    std::vector<Item> list(const std::string& service, size_t limit) const;
    Status add(const Item& item);
    // Changes the password and, when given, the generic attribute of an existing item.
    Status update(const std::string& service, const std::string& account,
                  const std::string& password, const std::optional<std::string>& generic);
    Status remove(const std::string& service, const std::string& account);
    // Removes the item when `matches` holds for it, tested under the same exclusive lock
    // as the removal; Kept when it does not (nothing changed).
    Status removeIf(const std::string& service, const std::string& account,
                    const std::function<bool(const Item&)>& matches);
    // Changes the password and, when given, the generic attribute of the item when
    // `matches` holds for it, tested under the same exclusive lock as the change. Kept
    // when it does not (nothing changed; the item as it is in `current`), ItemNotFound
    // when there is no such item: never adds one.
    Status replaceIf(const std::string& service, const std::string& account,
                     const std::function<bool(const Item&)>& matches, const std::string& password,
                     const std::optional<std::string>& generic,
                     std::optional<Item>* current = nullptr);

    // An exclusive advisory lock on a file of its own beside the items, for work that
    // spans several reads and changes of them (a renewal of the sign-in, from sending a
    // token until its answer is kept). Reads and changes of the items do not wait for
    // it. Released when destroyed, from any thread, or when the process ends.
    class Turn {
      public:
        explicit Turn(base::UniqueFd fd) : fd_(std::move(fd)) {}

      private:
        base::UniqueFd fd_;  // closing it releases the lock
    };
    // The turn named `name`; waits for it at most `waitSeconds`, sleeping between tries
    // (0: one try that never waits). None when another holds it that long, or the folder
    // is unsafe.
    std::unique_ptr<Turn> takeTurn(const std::string& name, double waitSeconds) const;

  private:
    class Lock;
    bool prepareFolder() const;
    // Reads every item. A file that cannot be read as items (not a regular file, too
    // large, not a property list of items) is moved aside with a console line and reads
    // as empty; one that is refused (a link, another's) is a failure.
    std::optional<std::vector<Item>> load() const;
    bool save(const std::vector<Item>& items) const;
    template <class Change>
    Status change(Change&& apply);

    std::string folder_;
};

}  // namespace platform::keychain
