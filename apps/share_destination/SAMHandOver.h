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
    // True while `path` itself (not a link's target) is still the checked file.
    bool isAt(const std::string& path) const;
    // A link in a fresh folder inside `parent`, named as the editor's file, that opens
    // the checked file itself: who reads it by path reads what was checked, never what
    // the editor's path names by then (a folder, a link, another movie). Empty when it
    // cannot be made; removeLink() takes the link and its folder away again.
    std::string linkIn(const std::string& parent) const;
    static void removeLink(const std::string& link);

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

}  // namespace sam
