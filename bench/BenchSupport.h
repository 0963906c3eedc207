#pragma once
// What the benches share: a scratch folder, a file of incompressible bytes, an
// nginx that serves a folder and takes PUTs under /dav/, and child programs run to
// their end with their wall time and peak memory.
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Measure {
    double seconds = 0;
    long maxRssKiB = 0;
    bool ok = false;
};

// Runs a program from an argument vector (never a shell) to its end, its output
// appended to `log`: wall time, peak memory and whether it exited with 0.
Measure run(const std::vector<std::string>& argv, const std::string& log = "/dev/null");

// The peak resident memory of this process so far.
long ownMaxRssKiB();

// A new private folder under $TMPDIR (or /tmp) named after `name`; empty on failure.
std::string makeFolder(const std::string& name);

// The source tree: $QV_SOURCE_DIR, or the one this file was built from.
std::string sourceDir();

// `bytes` of pseudo-random data, so no layer can compress it away.
void writeFile(const std::string& path, uint64_t bytes);

// Writes `folder`/nginx.conf: nginx serving `folder`/www on 127.0.0.1:`port`, PUT
// allowed under /dav/ with no size limit, and its files under `folder`. Creates the
// folders it names; returns the configuration's path.
std::string writeNginxConfig(const std::string& folder, uint16_t port);

}  // namespace bench
