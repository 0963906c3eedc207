#pragma once
// Temporary trees and small helpers shared by the platform system tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/system/FileOps.h"
#include "tests/helpers/RunTool.h"

namespace systemtest {

class TempTree {
  public:
    explicit TempTree(const std::string& parent = "") {
        std::string base = parent;
        if (base.empty()) {
            const char* tmp = std::getenv("TMPDIR");
            base = tmp && *tmp ? tmp : "/tmp";
        }
        std::string templ = base + "/qv-system-XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data())) {
            ADD_FAILURE() << "mkdtemp failed in " << base;
            return;
        }
        path_ = buf.data();
    }
    ~TempTree() {
        if (!path_.empty()) {
            // Immutable flags left by a failed test would block the removal.
            std::system(("chattr -R -i -- '" + path_ + "' >/dev/null 2>&1").c_str());
            platform::system::fileops::removeTree(path_);
        }
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

    std::string write(const std::string& rel, const std::string& content) const {
        std::string full = *this / rel;
        platform::system::fileops::createDirectories(platform::system::fileops::parentPath(full));
        std::ofstream(full, std::ios::binary) << content;
        return full;
    }
    std::string mkdir(const std::string& rel) const {
        std::string full = *this / rel;
        platform::system::fileops::createDirectories(full);
        return full;
    }

  private:
    std::string path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool haveTool(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Skips the test without the tool, except in CI where its absence is a failure.
#define QV_REQUIRE_TOOL(tool)                          \
    do {                                               \
        if (!::systemtest::haveTool(tool)) {           \
            const char* ci = std::getenv("CI");        \
            if (ci && std::string(ci) == "true") {     \
                FAIL() << "missing tool " << (tool);   \
            }                                          \
            GTEST_SKIP() << "missing tool " << (tool); \
        }                                              \
    } while (0)

// A stand-in for pkexec or sudo at `tree`/`name`: it appends each call's arguments,
// joined by "|", as one line to "<tool>.calls" and the SUDO_ASKPASS it saw to
// "<tool>.askpass"; while "<tool>.deny" exists it refuses, as a dismissed dialog
// does (126); otherwise it drops its own options (up to "--" or the first
// non-option) and runs the rest, or answers 0 when nothing is left.
inline std::string writePrivilegeStandIn(const TempTree& tree, const std::string& name) {
    const std::string path = tree.write(name, R"(#!/bin/sh
printf '%s|' "$@" >> "$0.calls"; printf '\n' >> "$0.calls"
printf '%s\n' "${SUDO_ASKPASS-}" >> "$0.askpass"
[ -e "$0.deny" ] && exit 126
while [ $# -gt 0 ]; do
  case "$1" in --) shift; break ;; -*) shift ;; *) break ;; esac
done
[ $# -eq 0 ] && exit 0
exec "$@"
)");
    ::chmod(path.c_str(), 0755);
    return path;
}

using testsupport::runTool;
using testsupport::ToolResult;

}  // namespace systemtest
