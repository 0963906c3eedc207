#include "support/OWBugReporter.h"

#include <sys/stat.h>

#include <vector>

#include "base/Bundle.h"
#include "base/Console.h"
#include "base/Path.h"
#include "base/PropertyList.h"
#include "base/RunLoop.h"
#include "base/UserDefaults.h"
#include "base/Workspace.h"
#include "platform/system/FileOps.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"
#include "support/OWTaskEx.h"

namespace {

namespace fo = platform::system::fileops;
using OptionalText = OWBugReporter::OptionalText;

constexpr const char* kGlobalPrefs = "com.oxburyworks.global.plist";
constexpr const char* kChown = "/usr/bin/chown";
constexpr double kChownTimeout = 5;

base::Dictionary readDates(const OptionalText& plistPath) {
    if (plistPath) {
        auto root = base::PropertyList::readFile(*plistPath);
        return root && root->isDictionary() ? *root->dictionary() : base::Dictionary();
    }
    return base::UserDefaults::standard()->dictionaryRepresentation();
}

std::optional<base::Date> dateFor(const base::Dictionary& dates, std::string_view key) {
    const base::Value* value = dates.find(key);
    return value && value->date() ? std::optional(*value->date()) : std::nullopt;
}

std::string applicationName(const OptionalText& name) {
    if (name) {
        return *name;
    }
    auto bundle = base::Bundle::own();
    return bundle ? bundle->objectForInfoDictionaryKey("CFBundleName").stringValue() : "";
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(text[i]) != lower(prefix[i])) {
            return false;
        }
    }
    return true;
}

// The newest "<name>_..." entry of the folder, when it was written after `launch`.
// Names are compared as texts, never spliced into a pattern.
OptionalText crashLogIn(const std::string& folder, const std::string& name, base::Date launch) {
    auto entries = fo::listDirectory(folder);
    if (!entries) {
        return std::nullopt;
    }
    const std::string prefix = name + "_";
    OptionalText newest;
    double newestTime = 0;
    for (const auto& entry : *entries) {
        if (!startsWithIgnoringCase(entry, prefix)) {
            continue;
        }
        const std::string path = fo::joinPath(folder, entry);
        auto info = fo::targetInfo(path);
        if (info && (!newest || info->modified > newestTime)) {
            newest = path;
            newestTime = info->modified;
        }
    }
    if (newest && newestTime > launch.secondsSince1970) {
        return newest;
    }
    return std::nullopt;
}

std::vector<std::string> crashFolders() {
    std::vector<std::string> folders;
    for (bool user : {true, false}) {
        if (auto logs = OWLocalPaths::logDirectory(user)) {
            folders.push_back(fo::joinPath(*logs, "CrashReporter"));
            folders.push_back(fo::joinPath(*logs, "DiagnosticReports"));
        }
    }
    return folders;
}

// "disable-crash-reporter": the text "1", or true (a boolean true or the number 1).
bool reporterDisabled() {
    const auto prefs = OWLocalPaths::prefsDirectory(true);
    const auto root =
        prefs ? base::PropertyList::readFile(fo::joinPath(*prefs, kGlobalPrefs)) : std::nullopt;
    if (!root) {
        return false;
    }
    const base::Value& value = (*root)["disable-crash-reporter"];
    if (value.isString()) {
        return *value.string() == "1";
    }
    return (value.isBool() || value.isNumber()) && value.decimal() == base::Decimal(1);
}

void handOver(const std::string& crashLog) {
    std::optional<std::string> reporter;
    if (auto bundle = base::Bundle::own()) {
        reporter = bundle->pathForResource("Bug Reporter", "app");
    }
    if (!reporter) {
        std::vector<std::string> folders;
        for (bool user : {true, false}) {
            if (auto apps = OWLocalPaths::applicationDirectory(user)) {
                folders.push_back(*apps);
            }
        }
        reporter =
            base::Workspace::pathForApplication(OWBugReporter::kBugReporterIdentifier, folders);
    }
    auto error = reporter ? base::Workspace::openFile(crashLog, *reporter)
                          : std::optional(base::Error::withDescription(
                                base::Workspace::kErrorDomain, base::Workspace::kNotAnApplication,
                                "no bug reporter installed"));
    if (error) {
        OWLog::appendLog("Unable to open crash log %@: %@", crashLog,
                         error->localizedDescription());
    }
}

void recordDate(const char* key, const OptionalText& plistPath) {
    if (!plistPath) {
        auto defaults = base::UserDefaults::standard();
        defaults->setObject(base::Date::now(), key);
        defaults->synchronize();
        return;
    }
    base::Dictionary dates = readDates(plistPath);
    dates.set(key, base::Date::now());
    base::PropertyList::writeFile(base::Value(std::move(dates)), *plistPath);
    OWBugReporter::chownPlist(*plistPath);
}

}  // namespace

void OWBugReporter::startBugReporter() {
    startBugReporter(std::nullopt, std::nullopt, nullptr);
}

void OWBugReporter::startBugReporterWithDelegate(std::shared_ptr<OWBugReporterDelegate> delegate) {
    startBugReporter(std::nullopt, std::nullopt, std::move(delegate));
}

void OWBugReporter::startBugReporter(const OptionalText& name, const OptionalText& plistPath,
                                     std::shared_ptr<OWBugReporterDelegate> delegate) {
    if (auto crashLog = checkForCrashes(name, plistPath); crashLog && delegate) {
        std::weak_ptr<OWBugReporterDelegate> weak = delegate;
        base::MainQueue::post([weak, path = *crashLog] {
            if (auto receiver = weak.lock()) {
                receiver->applicationDidCrashWithLog(path);
            }
        });
    }
    recordDate("launch", plistPath);
}

void OWBugReporter::stopBugReporter(const OptionalText& plistPath) {
    recordDate("exit", plistPath);
}

OptionalText OWBugReporter::checkForCrashes(const OptionalText& name,
                                            const OptionalText& plistPath) {
    const base::Dictionary dates = readDates(plistPath);
    const auto launch = dateFor(dates, "launch");
    if (!launch) {
        return std::nullopt;
    }
    const std::string appName = applicationName(name);
    if (auto exit = dateFor(dates, "exit"); exit && !(*exit < *launch)) {
        return std::nullopt;
    }
    OptionalText crashLog;
    for (const auto& folder : crashFolders()) {
        if ((crashLog = crashLogIn(folder, appName, *launch))) {
            break;
        }
    }
    if (!crashLog) {
        return std::nullopt;
    }
    OWLog::appendLog("Application crashed on last launch");
    if (reporterDisabled()) {
        base::Console::log("Crash reporter disabled");
        OWLog::appendLog("Crash reporter disabled");
    } else {
        handOver(*crashLog);
    }
    return crashLog;
}

// The owner of the home folder, not a user named like it: a folder name need not be
// a user name, and may name someone else.
void OWBugReporter::chownPlist(const std::string& path) {
    const auto components = base::pathComponents(path);
    std::string home;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        home = base::appendingPathComponent(home, components[i]);
        if (components[i] == "Users" || components[i] == "home") {
            if (components[i + 1] == "/") {
                return;
            }
            home = base::appendingPathComponent(home, components[i + 1]);
            struct stat st {};
            if (::stat(home.c_str(), &st) == 0) {
                OWTaskEx::runTask(kChown, {"--", "+" + std::to_string(st.st_uid), path},
                                  kChownTimeout);
            }
            return;
        }
    }
}
