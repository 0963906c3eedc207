#pragma once
// Runs the host stand-in (tests/standins/quorv_host) with the real plug-in, as a user of
// the editor would, against the test's stand-in service and storage: the host inherits
// the test's environment (linked account, preference folder, storage address) and a
// temporary folder of its own. Its report lines ("host: ...") and the plug-in's console
// lines come back for the test to read.
#include <map>
#include <string>
#include <vector>

#include "tests/upload_dialog/ProgressWindowSupport.h"

namespace exporttest {

struct HostRun {
    int status = -1;
    std::string output;

    // The report lines that begin with `prefix` (without "host: ").
    std::vector<std::string> reports(const std::string& prefix) const;
    // The first such line, or "".
    std::string report(const std::string& prefix) const;
    // Whether a console line of the plug-in ends with `text`.
    bool console(const std::string& text) const;
    // The value of `key=` in the first report line with `prefix` (quotes removed).
    std::string value(const std::string& prefix, const std::string& key) const;
};

// The host program and the plug-in's bundle as built.
std::string hostProgram();
std::string pluginBundle();
std::string pluginLibrary();

class ExportPluginTest : public progresstest::ProgressWindowTest {
  protected:
    void SetUp() override;

    // Runs the host with the plug-in and `arguments` (options, then steps).
    HostRun runHost(const std::vector<std::string>& arguments) const;
    // The same with another plug-in bundle.
    HostRun runHostWith(const std::string& bundle, const std::vector<std::string>& arguments) const;

    // The API calls to `path` (e.g. "/files/upload") with their fields.
    std::vector<settingstest::Fields> apiCallsTo(const std::string& path) const;
    // The files of the API calls to `path`, as the stand-in logged them.
    std::vector<base::Value> apiFilesOf(const std::string& path) const;

    std::string tempFolder;  // the host's TMPDIR
};

}  // namespace exporttest
