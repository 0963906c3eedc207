// Uploads one large file end to end through the service client's hosted road on
// loopback: to the stand-in storage (tests/fakes/s3_server.py) by a single signed PUT
// and by multipart upload, each followed by the registration with the stand-in
// service (tests/fakes/service.py). In the same run `curl -T` sends the same file to
// nginx (dav_methods PUT) as the reference. Each upload runs in a child process of
// its own, so its peak resident memory is its own; times run from the call to
// uploadFile() to the delegate's fileUploaded().
//
// Usage: bench_upload_road [MiB]   (default 1024)
// Needs /usr/bin/python3 with botocore, nginx and curl (scripts/setup).
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
#include "tests/client/QuorvaneFakes.h"
#include "tests/support/Peer.h"

namespace {

using bench::Measure;
using testsupport::Peer;

constexpr const char* kAccessKey = "AKIDBENCHROAD0000000";
constexpr const char* kSecretKey = "YmVuY2ggcm9hZCBzZWNyZXQ=";
constexpr const char* kBucket = "quorvane";

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
    base::NotificationCenter center;
    OWQuorvane::Services services;
    services.account = account;
    services.loader = OWQuorvaneURLLoader::shared();
    services.center = &center;
    auto outcome = std::make_shared<Outcome>();
    auto client = OWQuorvane::create(outcome, services);
    client->uploadFile(path, 1, std::nullopt, std::nullopt);
    base::RunLoop::current().runUntil([&] { return outcome->uploaded || outcome->failed; }, 3600);
    return outcome->uploaded ? 0 : 1;
}

void report(const char* what, uint64_t bytes, const Measure& m, const Measure& curl) {
    if (!m.ok) {
        std::printf("%-10s failed (see child.log)\n", what);
        return;
    }
    const double mib = static_cast<double>(bytes) / (1 << 20);
    std::printf("%-10s %8.1f MiB/s  (%.2fx curl)  peak RSS %7ld KiB\n", what, mib / m.seconds,
                curl.seconds / m.seconds, m.maxRssKiB);
}

// The reference upload and both of ours, once the servers run; the exit status.
int measure(const std::string& curl, const std::string& folder, const std::string& file,
            uint64_t bytes, uint16_t s3Port, uint16_t servicePort, uint16_t webPort) {
    const std::string token = bench::issueToken(curl, servicePort, folder);
    ::setenv("QUORVANE_STORAGE_HOST", ("localhost:" + std::to_string(s3Port)).c_str(), 1);
    ::setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
    ::setenv("QUORVANE_STORAGE_BUCKET", kBucket, 1);
    // The client signs with the configured pair.
    ::setenv("QUORVANE_STORAGE_ACCESS_KEY", kAccessKey, 1);
    ::setenv("QUORVANE_STORAGE_SECRET_KEY", kSecretKey, 1);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string site = "http://127.0.0.1:" + std::to_string(servicePort);
    const std::string log = folder + "/child.log";
    std::printf("upload road: %llu MiB over loopback, upload to registration\n",
                static_cast<unsigned long long>(bytes >> 20));
    const Measure ref =
        bench::run({curl, "-s", "-f", "-o", "/dev/null", "-H", "Expect:", "-T", file,
                    "http://127.0.0.1:" + std::to_string(webPort) + "/dav/curl.bin"},
                   log);
    const Measure single =
        bench::run({self, "--child", "single", file, site, token, folder + "/prefs"}, log);
    const Measure multi =
        bench::run({self, "--child", "multipart", file, site, token, folder + "/prefs"}, log);
    std::error_code ec;
    const bool stored =
        std::filesystem::file_size(folder + "/www/dav/curl.bin", ec) == bytes && !ec;
    if (token.empty() || !ref.ok || !stored) {
        std::fprintf(stderr, "the reference upload or the token failed; see %s\n", folder.c_str());
        return 1;
    }
    std::printf("curl -T    %8.1f MiB/s  (nginx, reference)   peak RSS %7ld KiB\n",
                static_cast<double>(bytes >> 20) / ref.seconds, ref.maxRssKiB);
    report("single PUT", bytes, single, ref);
    report("multipart", bytes, multi, ref);
    return single.ok && multi.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::string(argv[1]) == "--child") {
        return uploadChild(argv[2], argv[3], argv[4], argv[5], argv[6]);
    }
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::string curl = Peer::findBinary("curl"), nginx = Peer::findBinary("nginx");
    const std::string source = bench::sourceDir();
    const std::string storageServer = source + "/tests/fakes/s3_server.py";
    const std::string serviceServer = source + "/tests/fakes/service.py";
    if (mib == 0 || curl.empty() || nginx.empty() || ::access("/usr/bin/python3", X_OK) != 0 ||
        ::access(storageServer.c_str(), R_OK) != 0 || ::access(serviceServer.c_str(), R_OK) != 0) {
        std::fprintf(stderr,
                     "usage: bench_upload_road [MiB]; needs curl, nginx, /usr/bin/python3 with "
                     "botocore and %s/tests/fakes\n",
                     source.c_str());
        return 2;
    }
    const std::string folder = bench::makeFolder("road");
    if (folder.empty()) {
        return 1;
    }
    std::filesystem::create_directories(folder + "/prefs");
    const uint64_t bytes = mib << 20;
    const std::string file = folder + "/upload.mov";
    bench::writeFile(file, bytes);

    int rc = 1;
    {
        bench::UploadPeers peers;
        if (peers.start(folder, nginx, kAccessKey, kSecretKey)) {
            rc = measure(curl, folder, file, bytes, peers.s3Port, peers.servicePort, peers.webPort);
        }
    }
    if (rc == 0) {
        std::filesystem::remove_all(folder);
    } else {
        std::fprintf(stderr, "logs kept in %s\n", folder.c_str());
    }
    return rc;
}
