#pragma once
// What the editor hands over with open-documents: a list of bookmarks naming the movie
// and its FCPXML description. Every item must be a bookmark of a local file; the movie
// and the description must be readable regular files. Anything else is refused with a
// script error the editor can act on, before a byte of it is read: a pipe, a device or
// a folder never reaches the media probe, which would block on it or read it for ever.
#include <memory>
#include <optional>
#include <string>
#include <variant>

#include "base/UniqueFd.h"
#include "platform/scripting/Descriptor.h"
#include "platform/scripting/ScriptCommand.h"

namespace sam {

// A file the editor named, opened without blocking and found to be a regular file.
// The descriptor stays open while the file is read, so what is read is the file that
// was checked, whatever the path names meanwhile.
class CheckedFile {
  public:
    CheckedFile(std::string path, base::UniqueFd fd) : path_(std::move(path)), fd_(std::move(fd)) {}
    // The path the editor named.
    const std::string& path() const { return path_; }
    // A path that opens the checked file itself.
    std::string readPath() const { return "/proc/self/fd/" + std::to_string(fd_.get()); }
    // True while the entry at `path` is the checked file itself or a link that leads to
    // it: removing that entry (never what a link leads to) removes what was shared.
    bool isAt(const std::string& path) const;

    // The way the upload reads the checked file by path: a link in an `upload-XXXXXX`
    // folder of its own, locked while the link is in use, so that no other run takes it
    // for the leftover of a run that was killed.
    struct UploadLink {
        std::string path;  // empty: none
        base::UniqueFd folderLock{};
    };
    // A link in a fresh folder inside `parent`, named as the editor's file, that opens
    // the checked file itself: who reads it by path reads what was checked, never what
    // the editor's path names by then (a folder, a link, another movie). Its path is
    // empty when it cannot be made; removeLink() takes the link and its folder away
    // again. A termination signal takes it away too (see removeUploadLinkOnTermination).
    UploadLink linkIn(const std::string& parent) const;
    static void removeLink(UploadLink& link);

  private:
    std::string path_;
    base::UniqueFd fd_;
};

// Opens `path` for reading if it is a regular file; the script error otherwise.
std::variant<std::shared_ptr<const CheckedFile>, platform::scripting::ScriptError> openChecked(
    const std::string& path);

struct HandOver {
    std::optional<std::string> moviePath;  // the last .mov or .mp4 named
    std::optional<std::string> xmlPath;    // the last .fcpxml named
};

// The movie and description the direct parameter names (a list of bookmarks; other
// extensions are passed over), or the script error for the first unusable item.
std::variant<HandOver, platform::scripting::ScriptError> readHandOver(
    const platform::scripting::Descriptor& direct);

// True when `path` names a file directly inside `folder` (both resolved through links).
bool liesDirectlyIn(const std::string& path, const std::string& folder);

// Removes whatever an earlier share left at `path` (a file or a link, never followed; a
// folder stays, nothing can be written through it) before the path is handed out again:
// the editor writes a new file there, never through an old link into someone's file.
void clearHandedOutPath(const std::string& path);

// Removes what killed runs of this user left in `parent`: folders named `upload-XXXXXX`,
// owned by this user and holding exactly one link of the form the upload reads, whose
// lock no running program holds. Nothing is followed; anything else stays.
void removeLeftoverUploadFolders(const std::string& parent);

// Installs handlers of SIGTERM and SIGHUP (where they are not ignored) that remove the
// upload link of this process and its folder, then end the process as the signal would.
void removeUploadLinkOnTermination();

}  // namespace sam
