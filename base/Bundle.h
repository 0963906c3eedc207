#pragma once
// A program or plug-in bundle in the classic layout:
//   X.app/Contents/Info.plist            identifier, version, executable name, ...
//   X.app/Contents/MacOS/<executable>
//   X.app/Contents/Resources/...         images, presets, localised folders (*.lproj)
// A folder without Contents/ is a bare bundle whose resources lie in the folder itself.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Value.h"

namespace base {

class Bundle {
  public:
    // The bundle at `path`; nullptr when `path` is not a folder.
    static std::shared_ptr<const Bundle> atPath(const std::string& path);
    // The bundle of the running program, found from its executable: "<X>/Contents/MacOS/exe"
    // belongs to the bundle X, any other executable to a bare bundle of its folder.
    static std::shared_ptr<const Bundle> main();
    // The bundle the calling code was shipped in: main() unless a plug-in has set its own.
    static std::shared_ptr<const Bundle> own();
    // Sets the process-wide own bundle; nullptr goes back to main().
    static void setOwn(std::shared_ptr<const Bundle> bundle);

    const std::string& bundlePath() const { return path_; }
    const std::string& resourcePath() const { return resourcePath_; }
    // Contents/MacOS/<CFBundleExecutable>; for main() the running executable itself.
    const std::string& executablePath() const { return executablePath_; }

    const Dictionary& infoDictionary() const { return info_; }
    // The Info.plist value of `key`, or null.
    const Value& objectForInfoDictionaryKey(std::string_view key) const;
    std::string identifier() const;      // CFBundleIdentifier, or ""
    std::string version() const;         // CFBundleVersion, or ""
    std::string shortVersion() const;    // CFBundleShortVersionString, or ""
    std::string executableName() const;  // the last component of executablePath()

    // The path of the resource `name` (with extension `type` when it is not empty) in
    // Resources/<subdirectory>, then in its Base.lproj and en.lproj folders; none when
    // it is not there or the name would leave the resources folder.
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type,
                                               std::string_view subdirectory = {}) const;

  private:
    Bundle(std::string path, bool classicLayout, std::string executable);

    std::string path_;
    std::string resourcePath_;
    std::string executablePath_;
    Dictionary info_;
};

}  // namespace base
