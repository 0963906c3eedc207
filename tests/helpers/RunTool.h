#pragma once
// Runs a program to its end from an argument vector (never a shell), found on PATH,
// with stdin and stderr on /dev/null, and hands back its exit status and what it
// wrote to standard output. For tools a test checks its results with (ffprobe,
// xmllint, unzip, lsattr, ...); servers that keep running use Peer.
#include <string>
#include <vector>

namespace testsupport {

struct ToolResult {
    // The exit status; -1 when the program could not run or did not exit.
    int status = -1;
    std::string out;
};

// Our environment ("NAME=value" entries) with those of `extra` replacing the same names.
std::vector<std::string> environmentWith(const std::vector<std::string>& extra);

// `env` holds "NAME=value" entries set for the program on top of ours.
ToolResult runTool(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});

}  // namespace testsupport
