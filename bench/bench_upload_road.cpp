// Uploads one large file end to end through the service client's hosted road on
// loopback (upload, then the registration with the stand-in service,
// tests/fakes/service.py), and sets each road against another client sending into
// the same storage receiver in the same run:
//   single signed PUT  against curl -T with the same headers, into nginx (DAV
//                      answering for the bucket's host name);
//   multipart upload   against s3cmd's multipart upload with the same part size
//                      (20 MiB), into s3rver.
// Each upload runs in a child process of its own, so its peak resident memory is its
// own; our times run from the call to uploadFile() to the delegate's fileUploaded().
//
// Usage: bench_upload_road [MiB]   (default 256)
// Needs /usr/bin/python3, nginx, curl, s3cmd, node and s3rver (scripts/setup).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "base/UserDefaults.h"
#include "bench/BenchSupport.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneURLLoader.h"
#include "client/json/QMJSON.h"
#include "tests/client/QuorvaneFakes.h"
#include "tests/helpers/Peer.h"

namespace {

using bench::Measure;
using testsupport::Peer;

// s3rver's own account; nginx takes any signature.
constexpr const char* kKey = "S3RVER";
constexpr const char* kBucket = "quorvane";
constexpr int kPartMiB = 20;

// ---- the uploading child ----

class Outcome : public OWQuorvaneDelegate {
  public:
    void fileUploaded(OWQuorvane&, const base::Value&) override { uploaded = true; }
    void uploadFileFailedWithError(OWQuorvane&, const base::Error& error) override {
        failed = true;
        std::fprintf(stderr, "failed: %s\n",
                     base::Value(error.userInfo())["error"].stringValue().c_str());
    }
    bool uploaded = false;
    bool failed = false;
};

int uploadChild(const std::string& mode, const std::string& path, const std::string& site,
                const std::string& token, const std::string& prefs) {
    base::RunLoop::setMainThread();
    base::UserDefaults::setPreferencesFolder(prefs);
    base::UserDefaults::standard()->setObject(mode == "multipart",
                                              OWQuorvane::kSegmentedUploadsDefault);
    auto account = std::make_shared<quorvanetest::FakeAccount>();
    account->link(token);
    account->setSite(site);
    OWQuorvane::Services services;
    services.account = account;
    services.loader = OWQuorvaneURLLoader::shared();
    services.center = std::make_shared<base::NotificationCenter>();
    auto outcome = std::make_shared<Outcome>();
    auto client = OWQuorvane::create(outcome, services);
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    base::RunLoop::current().runUntil([&] { return outcome->uploaded || outcome->failed; }, 3600);
    return outcome->uploaded ? 0 : 1;
}

// The reference uploads and both of ours, once the servers run; the exit status.
int measure(const std::string& curl, const std::string& s3cmd, const std::string& folder,
            const std::string& file, uint64_t bytes, uint16_t s3Port, uint16_t servicePort,
            uint16_t webPort) {
    const std::string token = bench::issueToken(curl, servicePort, folder);
    ::setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
    ::setenv("QUORVANE_STORAGE_BUCKET", kBucket, 1);
    // The client signs with the configured pair: s3rver's own account (nginx takes any).
    ::setenv("QUORVANE_STORAGE_ACCESS_KEY", kKey, 1);
    ::setenv("QUORVANE_STORAGE_SECRET_KEY", kKey, 1);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string site = "http://127.0.0.1:" + std::to_string(servicePort);
    const std::string log = folder + "/child.log";
    const std::string webHost = "localhost:" + std::to_string(webPort);
    std::printf(
        "upload road: %llu MiB over loopback, upload to registration, each against "
        "another client into the same receiver\n",
        static_cast<unsigned long long>(bytes >> 20));
    bench::UploadComparison c;
    c.curlPut = bench::curlSignedPut(curl, file,
                                     "http://" + std::string(kBucket) + "." + webHost + "/curl.mov",
                                     "/" + std::string(kBucket) + "/curl.mov", kKey, kKey, log);
    ::setenv("QUORVANE_STORAGE_HOST", webHost.c_str(), 1);
    c.single = bench::run({self, "--child", "single", file, site, token, folder + "/prefs"}, log);
    c.s3cmdPut = bench::s3cmdMultipartPut(s3cmd, folder, s3Port, file, kBucket, "s3cmd.mov",
                                          kPartMiB, kKey, log);
    ::setenv("QUORVANE_STORAGE_HOST", ("s3.localhost:" + std::to_string(s3Port)).c_str(), 1);
    c.multi = bench::run({self, "--child", "multipart", file, site, token, folder + "/prefs"}, log);
    std::error_code ec;
    const bool stored =
        std::filesystem::file_size(folder + "/www/" + kBucket + "/curl.mov", ec) == bytes && !ec;
    if (token.empty() || !stored) {
        std::fprintf(stderr, "the reference upload or the token failed; see %s\n", folder.c_str());
        return 1;
    }
    return bench::report(c, bytes, kBucket, kPartMiB) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::string(argv[1]) == "--child") {
        return uploadChild(argv[2], argv[3], argv[4], argv[5], argv[6]);
    }
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 256;
    const std::string curl = Peer::findBinary("curl"), nginx = Peer::findBinary("nginx"),
                      s3cmd = Peer::findBinary("s3cmd");
    const std::string serviceServer = bench::sourceDir() + "/tests/fakes/service.py";
    const std::string folder = bench::makeFolder("road");
    const uint16_t s3Port = Peer::freePort(), servicePort = Peer::freePort(),
                   webPort = Peer::freePort();
    const auto s3rver =
        folder.empty() ? std::vector<std::string>() : bench::s3rverCommand(folder, s3Port, kBucket);
    if (mib == 0 || curl.empty() || nginx.empty() || s3cmd.empty() || s3rver.empty() ||
        ::access("/usr/bin/python3", X_OK) != 0 || ::access(serviceServer.c_str(), R_OK) != 0) {
        std::fprintf(stderr,
                     "usage: bench_upload_road [MiB]; needs curl, nginx, s3cmd, node and s3rver, "
                     "/usr/bin/python3 and %s\n",
                     serviceServer.c_str());
        return 2;
    }
    for (const char* sub : {"/prefs", "/service"}) {
        std::filesystem::create_directories(folder + sub);
    }
    const uint64_t bytes = mib << 20;
    const std::string file = folder + "/upload.mov";
    bench::writeFile(file, bytes);

    int rc = 1;
    {
        Peer s3, service, web;
        const bool started =
            s3.start(s3rver, folder, s3Port, 30) &&
            service.start(
                {"/usr/bin/python3", serviceServer, "--port", std::to_string(servicePort)},
                folder + "/service", servicePort) &&
            web.start({nginx, "-p", folder, "-c", bench::writeNginxConfig(folder, webPort, kBucket),
                       "-e", folder + "/error.log"},
                      folder, webPort);
        if (!started) {
            std::fprintf(stderr, "a server did not start: %s%s%s\n", s3.failure().c_str(),
                         service.failure().c_str(), web.failure().c_str());
        } else {
            rc = measure(curl, s3cmd, folder, file, bytes, s3Port, servicePort, webPort);
        }
    }
    if (rc == 0) {
        std::filesystem::remove_all(folder);
    } else {
        std::fprintf(stderr, "logs kept in %s\n", folder.c_str());
    }
    return rc;
}
