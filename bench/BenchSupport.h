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

// The access token the stand-in service on `port` issues for a user; empty on failure.
std::string issueToken(const std::string& curl, uint16_t port, const std::string& folder);

// The peers of an upload over loopback, started in `folder` (which gets store/, s3/,
// service/ and nginx's files): the stand-in storage with `accessKey`/`secretKey`, the
// stand-in service and nginx taking PUTs. Stopped when the object goes.
struct UploadPeers {
    UploadPeers();
    ~UploadPeers();
    // False, with the reason on stderr, when one did not start.
    bool start(const std::string& folder, const std::string& nginx, const char* accessKey,
               const char* secretKey);
    uint16_t s3Port, servicePort, webPort;

  private:
    struct Servers;
    Servers* servers_;
};

}  // namespace bench
