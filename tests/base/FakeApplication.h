#pragma once
// An application bundle whose executable is a shell script that records its
// arguments, one per line, in "<bundle>.args" once it has run (written to a
// temporary name and renamed, so a reader never sees half a record).
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/PropertyList.h"

namespace testsupport {

class FakeApplication {
  public:
    FakeApplication(const std::string& bundlePath, const std::string& identifier,
                    const std::string& executable = "fake")
        : path_(bundlePath), record_(bundlePath + ".args") {
        namespace fs = std::filesystem;
        fs::create_directories(bundlePath + "/Contents/MacOS");
        base::Dictionary info{{"CFBundleExecutable", executable},
                              {"CFBundleIdentifier", identifier},
                              {"CFBundleName", fs::path(path_).stem().string()}};
        base::PropertyList::writeFile(base::Value(info), bundlePath + "/Contents/Info.plist");
        const std::string script = bundlePath + "/Contents/MacOS/" + executable;
        std::ofstream(script) << "#!/bin/sh\n"
                              << "out='" << record_ << "'\n"
                              << "printf '%s\\n' \"$0\" \"$@\" > \"$out.tmp\" && "
                              << "mv \"$out.tmp\" \"$out\"\n";
        chmod(script.c_str(), 0755);
    }

    const std::string& path() const { return path_; }
    const std::string& recordPath() const { return record_; }
    bool hasRun() const { return std::filesystem::exists(record_); }

    // The recorded argv (argv[0] first), once the script has run; none after `seconds`.
    std::optional<std::vector<std::string>> waitForRun(double seconds = 10) const {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!hasRun()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::vector<std::string> lines;
        std::ifstream in(record_);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

  private:
    std::string path_;
    std::string record_;
};

}  // namespace testsupport
