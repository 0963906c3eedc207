#include "tests/fakes/FakeHub.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace fakes {

namespace {

constexpr const char* kInfoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>CFBundleIdentifier</key><string>com.oxburyworks.QuorvPluginHub</string>
  <key>CFBundleExecutable</key><string>Quorvane Plugin Hub</string>
  <key>CFBundleName</key><string>Quorvane Plugin Hub</string>
</dict>
</plist>
)";

// Single quotes for the shell: the text stays literal whatever it holds.
std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

}  // namespace

FakeHub::FakeHub(const std::string& folder)
    : bundlePath_(folder + "/Quorvane Plugin Hub.app"),
      argumentsFile_(folder + "/hub-arguments.txt") {
    std::filesystem::create_directories(bundlePath_ + "/Contents/MacOS");
    std::ofstream(bundlePath_ + "/Contents/Info.plist") << kInfoPlist;
    prints("");
}

void FakeHub::writeScript(const std::string& body) const {
    const std::string path = bundlePath_ + "/Contents/MacOS/Quorvane Plugin Hub";
    std::ofstream(path, std::ios::trunc)
        << "#!/bin/sh\nprintf '%s\\n' \"$@\" > " << quoted(argumentsFile_) << "\n"
        << body << "\n";
    ::chmod(path.c_str(), 0700);
}

void FakeHub::prints(const std::string& output) const {
    writeScript("printf '%s' " + quoted(output));
}

void FakeHub::hangs() const {
    writeScript("exec sleep 600");
}

}  // namespace fakes
