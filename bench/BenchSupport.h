#pragma once
// What the benches share: a scratch folder, a file of incompressible bytes, an
// nginx that serves a folder and takes PUTs under /dav/ (and for a bucket's host
// name), s3rver, the reference uploaders (curl, s3cmd), and child programs run to
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
// allowed under /dav/ with no size limit, and its files under `folder`. With a
// `bucket`, requests for "<bucket>.localhost" store every PUT under
// `folder`/www/<bucket>, as a storage bucket addressed by host name would. Creates
// the folders it names; returns the configuration's path.
std::string writeNginxConfig(const std::string& folder, uint16_t port,
                             const std::string& bucket = {});

// The command that runs s3rver (tests/peers, npm) on 127.0.0.1:`port` with `bucket`,
// its store under `folder`, reading "<bucket>.s3.localhost" as the bucket's host;
// empty when s3rver or node is missing. It takes any signature.
std::vector<std::string> s3rverCommand(const std::string& folder, uint16_t port,
                                       const std::string& bucket);

// The reference uploads, each a child process measured by run():
// curl -T of `file` to `url` with the headers our signed single PUT of it carries.
Measure curlSignedPut(const std::string& curl, const std::string& file, const std::string& url,
                      const std::string& resource, const std::string& accessKey,
                      const std::string& secretKey, const std::string& log);
// s3cmd's multipart upload of `file` to s3rver on `port` as s3://`bucket`/`key`, in
// parts of `partMiB`, signed as ours are (version 2).
Measure s3cmdMultipartPut(const std::string& s3cmd, const std::string& folder, uint16_t port,
                          const std::string& file, const std::string& bucket,
                          const std::string& key, int partMiB, const std::string& accessKey,
                          const std::string& log);

// The four uploads of one run: ours and each one's reference into the same receiver.
struct UploadComparison {
    Measure curlPut, single;  // into nginx
    Measure s3cmdPut, multi;  // into s3rver
};
// Prints each with its rate, its ratio to its reference and its peak memory; true
// when all four succeeded.
bool report(const UploadComparison& c, uint64_t bytes, const std::string& bucket, int partMiB);

// The access token the stand-in service on `port` issues for a user; empty on failure.
std::string issueToken(const std::string& curl, uint16_t port, const std::string& folder);

// The peers of an upload over loopback, started in `folder` (which gets store/, s3/,
// service/ and nginx's files): the stand-in storage with `accessKey`/`secretKey`, the
// stand-in service and nginx taking PUTs (also for `bucket`.localhost when a bucket is
// named). Stopped when the object goes.
struct UploadPeers {
    UploadPeers();
    ~UploadPeers();
    // False, with the reason on stderr, when one did not start.
    bool start(const std::string& folder, const std::string& nginx, const char* accessKey,
               const char* secretKey, const std::string& bucket = {});
    uint16_t s3Port, servicePort, webPort;

  private:
    struct Servers;
    Servers* servers_;
};

}  // namespace bench
