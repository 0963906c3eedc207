#include "support/OWSoftwareUpdate.h"

#include <mutex>

#include "base/Bundle.h"
#include "base/PropertyList.h"
#include "base/Workspace.h"
#include "platform/system/FileOps.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"
#include "support/OWTaskEx.h"

namespace {

namespace fo = platform::system::fileops;

constexpr const char* kGlobalPrefs = "com.oxburyworks.global.plist";
constexpr const char* kNoPath = "Unable to launch Software Update - path doesn't exist";

// Only an explicit false turns the check off; texts and other values leave it on.
bool checkSwitchedOff() {
    const auto prefs = OWLocalPaths::prefsDirectory(true);
    if (!prefs) {
        return false;
    }
    const auto root = base::PropertyList::readFile(fo::joinPath(*prefs, kGlobalPrefs));
    if (!root) {
        return false;
    }
    const base::Value& value = (*root)["SUCheckAtStartup"];
    return (value.isBool() || value.isNumber()) && value.decimal() == base::Decimal(0);
}

std::string callingBundlePath() {
    auto bundle = base::Bundle::own();
    return bundle ? bundle->bundlePath() : std::string();
}

// A bundle shipped inside the calling bundle runs from a copy of its own, so that the
// updater may replace the bundle it came from. Two checks never copy at once.
std::optional<std::string> copyToTemporaryFolder(const std::string& found) {
    static std::mutex copying;
    std::lock_guard lock(copying);
    const std::string copy =
        fo::joinPath(OWLocalPaths::tempDirectory(), OWSoftwareUpdate::kUpdaterBundleName);
    if (fo::existsOrIsLink(copy)) {
        fo::removeTree(copy);
    }
    if (auto status = fo::copyTree(found, copy); !status) {
        // A path whose copy failed must not be started.
        OWLog::appendLogAndPrint("Error: unable to copy software updater: %@",
                                 status.description());
        return std::nullopt;
    }
    return copy;
}

}  // namespace

OWSoftwareUpdate::~OWSoftwareUpdate() {
    if (checkThread_.joinable()) {
        checkThread_.join();
    }
}

void OWSoftwareUpdate::awakeFromNib() {
    startup();
}

void OWSoftwareUpdate::startup() {
    if (checkSwitchedOff()) {
        return;
    }
    if (checkThread_.joinable()) {
        checkThread_.join();
    }
    checkThread_ = std::thread(&OWSoftwareUpdate::automaticallyCheckForUpdates);
}

void OWSoftwareUpdate::manualUpdateCheck(const void* /*sender*/) {
    launchSoftwareUpdate();
}

std::optional<std::string> OWSoftwareUpdate::updaterPath() {
    if (auto apps = OWLocalPaths::applicationDirectory(false)) {
        std::string installed =
            fo::joinPath(fo::joinPath(*apps, "Oxbury Works"), kUpdaterBundleName);
        if (fo::exists(installed)) {
            return installed;
        }
    }
    const std::string bundle = callingBundlePath();
    if (!bundle.empty()) {
        for (const char* folder : {"Contents/Resources", "Contents/MacOS"}) {
            std::string inside = fo::joinPath(fo::joinPath(bundle, folder), kUpdaterBundleName);
            if (fo::exists(inside)) {
                return copyToTemporaryFolder(inside);
            }
        }
    }
    OWLog::appendLogAndPrint("Error: unable to find software updater");
    return std::nullopt;
}

void OWSoftwareUpdate::launchSoftwareUpdate() {
    auto path = updaterPath();
    if (!path) {
        OWLog::appendLogAndPrint(kNoPath);
        return;
    }
    if (auto error = base::Workspace::launchApplication(*path)) {
        OWLog::appendLogAndPrint("Unable to launch Software Update - %@",
                                 error->localizedDescription());
    }
}

void OWSoftwareUpdate::automaticallyCheckForUpdates() {
    auto path = updaterPath();
    if (!path) {
        OWLog::appendLogAndPrint(kNoPath);
        return;
    }
    auto updater = base::Bundle::atPath(*path);
    if (!updater) {
        OWLog::appendLogAndPrint("Unable to launch Software Update - updater bundle not found.");
        return;
    }
    const std::string& executable = updater->executablePath();
    if (executable.empty() || !fo::exists(executable)) {
        OWLog::appendLogAndPrint(
            "Unable to launch Software Update - executable path doesn't exist");
        return;
    }
    OWTaskEx::runTaskAndReturn(executable, {"-checkpath", callingBundlePath()});
}
