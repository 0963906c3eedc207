#include "tests/export_plugin/HostRunSupport.h"

#include "client/json/QMJSON.h"
#include "tests/helpers/RunTool.h"

namespace exporttest {

namespace {

constexpr const char* kReportPrefix = "host: ";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return out;
}

}  // namespace

std::vector<std::string> HostRun::reports(const std::string& prefix) const {
    std::vector<std::string> found;
    const std::string wanted = kReportPrefix + prefix;
    for (const std::string& line : lines(output)) {
        if (line.rfind(wanted, 0) == 0) {
            found.push_back(line.substr(std::string(kReportPrefix).size()));
        }
    }
    return found;
}

std::string HostRun::report(const std::string& prefix) const {
    const auto found = reports(prefix);
    return found.empty() ? "" : found.front();
}

bool HostRun::console(const std::string& text) const {
    for (const std::string& line : lines(output)) {
        if (line.rfind(kReportPrefix, 0) != 0 && line.size() >= text.size() &&
            line.compare(line.size() - text.size(), text.size(), text) == 0) {
            return true;
        }
    }
    return false;
}

std::string HostRun::value(const std::string& prefix, const std::string& key) const {
    const std::string line = report(prefix);
    const std::string marker = " " + key + "=";
    const size_t at = line.find(marker);
    if (at == std::string::npos) {
        return "";
    }
    size_t start = at + marker.size();
    if (start < line.size() && line[start] == '"') {
        std::string text;
        for (size_t i = start + 1; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
            }
            text += line[i];
        }
        return text;
    }
    return line.substr(start, line.find(' ', start) - start);
}

std::string hostProgram() {
    return QV_HOST_PROGRAM;
}

std::string pluginBundle() {
    return QV_EXPORT_PLUGIN_BUNDLE;
}

std::string pluginLibrary() {
    return QV_EXPORT_PLUGIN_LIBRARY;
}

void ExportPluginTest::SetUp() {
    ProgressWindowTest::SetUp();
    tempFolder = dir.makeFolder("tmp");
}

HostRun ExportPluginTest::runHost(const std::vector<std::string>& arguments) const {
    return runHostWith(pluginBundle(), arguments);
}

HostRun ExportPluginTest::runHostWith(const std::string& bundle,
                                      const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv{hostProgram(), "--plugin", bundle};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto result = testsupport::runTool(argv, {"TMPDIR=" + tempFolder});
    return HostRun{result.status, result.out};
}

std::vector<settingstest::Fields> ExportPluginTest::apiCallsTo(const std::string& path) const {
    std::vector<settingstest::Fields> found;
    for (auto& [callPath, fields] : apiCalls()) {
        if (callPath == path) {
            found.push_back(fields);
        }
    }
    return found;
}

std::vector<base::Value> ExportPluginTest::apiFilesOf(const std::string& path) const {
    std::vector<base::Value> found;
    QMJSON json;
    const auto log = json.objectWithString(service->request("GET", "/_control/api_log").body);
    if (!log) {
        return found;
    }
    for (size_t i = 0; i < log->size(); ++i) {
        if ((*log)[i]["path"].stringValue() == "/api/0" + path) {
            const base::Value& files = (*log)[i]["files"];
            for (size_t j = 0; j < files.size(); ++j) {
                found.push_back(files[j]);
            }
        }
    }
    return found;
}

}  // namespace exporttest
