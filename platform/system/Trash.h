#pragma once
// The freedesktop trash: items go to "<trash>/files/<name>" with a matching
// "<trash>/info/<name>.trashinfo". Items on the home trash's file system use the
// home trash ($XDG_DATA_HOME/Trash); others use "<mount point>/.Trash-<uid>".
#include <ctime>
#include <optional>
#include <string>

#include "platform/system/FsStatus.h"

namespace platform::system {

class Trash {
  public:
    struct Slot {
        std::string filesPath;  // where the item goes
        std::string infoPath;   // its .trashinfo, already written
    };

    explicit Trash(std::string homeTrash);
    // "$XDG_DATA_HOME/Trash", or "$HOME/.local/share/Trash".
    static std::string defaultHomeTrash();
    const std::string& homeTrash() const { return homeTrash_; }

    // Moves an item to the trash of its volume. `trashedAs` receives the new path.
    FsStatus moveToTrash(const std::string& path, std::string* trashedAs = nullptr) const;

    // Reserves a free name in a trash folder by writing its .trashinfo exclusively,
    // so two trashings of one name never meet. `recordedPath` is written as the
    // original location. files/ and info/ are made (0700) when missing.
    std::optional<Slot> reserve(const std::string& trashRoot, const std::string& path,
                                const std::string& recordedPath, FsStatus* error) const;
    // Gives a reservation up (after the item could not be moved).
    static void release(const Slot& slot);

    // Name tried at each attempt: "report.pdf", then "report_<stamp>.pdf", then
    // "report_<stamp>_2.pdf" and so on; a name without extension keeps the dot
    // ("README_<stamp>.").
    static std::string candidateName(const std::string& name, int attempt,
                                     const std::string& stamp);
    // "%Y%m%d%H%M%S" in local time.
    static std::string stamp(std::time_t when);
    // Percent-encodes a path for the Path= key ("/" and unreserved bytes kept).
    static std::string encodePath(const std::string& path);
    // The trash folder on the volume of a path that is not on the home trash's one.
    static std::optional<std::string> volumeTrashFor(const std::string& path, FsStatus* error);

  private:
    std::string homeTrash_;
};

}  // namespace platform::system
