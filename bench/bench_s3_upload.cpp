// Uploads one large file to the stand-in storage server on loopback, once by a
// single signed PUT and once by multipart upload, and, in the same run, with
// `curl -T` to nginx (dav_methods PUT) as the reference. Prints throughput and the
// peak resident memory of each uploader; every upload runs in a child process of
// its own so the peaks do not mix. Multipart time runs to the stored object (the
// complete reply), not to the caller's finish 2 s later. "curl->s3" is curl sending
// the same file to the stand-in unsigned, which it reads whole before refusing: the
// stand-in's own ceiling.
//
// Usage: bench_s3_upload [MiB]   (1024 MiB, or $QV_BENCH_S3_MIB)
// Needs /usr/bin/python3 with botocore, nginx and curl (scripts/setup).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/RunLoop.h"
#include "bench/BenchSupport.h"
#include "tests/support/Peer.h"
#include "transfer/OWTXS3MultipartRequest.h"
#include "transfer/TXS3ObjectRequest.h"

namespace {

using bench::Measure;
using testsupport::Peer;

constexpr const char* kAccessKey = "AKIDBENCH00000000000";
constexpr const char* kSecretKey = "YmVuY2ggc2VjcmV0IGtleQ==";
constexpr const char* kBucket = "bench";

// ---- the uploading child ----------------------------------------------------

class Watcher : public TXHTTPRequestDelegate {
  public:
    void requestFinished(TXHTTPRequest&) override { done = true; }
    void requestFailed(TXHTTPRequest& r) override {
        done = true;
        if (auto e = r.error())
            std::fprintf(stderr, "failed: %s\n", e->localizedDescription().c_str());
    }
    bool done = false;
};

int uploadChild(const std::string& how, const std::string& path) {
    base::RunLoop::setMainThread();
    TXS3Request::setSharedAccessKey(kAccessKey);
    TXS3Request::setSharedSecretAccessKey(kSecretKey);
    if (how == "single") {
        auto put = TXS3ObjectRequest::PUTRequestForFile(path, kBucket, "single.bin");
        put->setTimeOutSeconds(600);
        put->startSynchronous();
        if (put->error()) {
            std::fprintf(stderr, "failed: %s\n", put->error()->localizedDescription().c_str());
            return 1;
        }
        return put->responseStatusCode() == 200 ? 0 : 1;
    }
    auto upload = OWTXS3MultipartRequest::PUTRequestForFile(path, kBucket, "multipart.bin");
    auto watcher = std::make_shared<Watcher>();
    upload->setDelegate(watcher);
    upload->startAsynchronous();
    // The object is stored once the operation ends; the caller's finish comes 2 s on.
    base::RunLoop::current().runUntil([&] { return upload->isFinished() || watcher->done; }, 3600);
    return upload->isFinished() && !upload->error() ? 0 : 1;
}

void report(const char* what, uint64_t bytes, const Measure& m, const Measure& curl) {
    double mib = static_cast<double>(bytes) / (1 << 20);
    std::printf("%-10s %8.1f MiB/s  (%.2fx curl)  peak RSS %7ld KiB\n", what, mib / m.seconds,
                curl.seconds / m.seconds, m.maxRssKiB);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--child")
        return uploadChild(argv[2], argv[3]);

    uint64_t mib = 1024;
    if (const char* env = std::getenv("QV_BENCH_S3_MIB"))
        mib = std::strtoull(env, nullptr, 10);
    if (argc > 1)
        mib = std::strtoull(argv[1], nullptr, 10);
    std::string curl = Peer::findBinary("curl"), nginx = Peer::findBinary("nginx");
    std::string server = bench::sourceDir() + "/tests/fakes/s3_server.py";
    if (mib == 0 || curl.empty() || nginx.empty() || access("/usr/bin/python3", X_OK) != 0 ||
        access(server.c_str(), R_OK) != 0) {
        std::fprintf(stderr,
                     "usage: bench_s3_upload [MiB]; needs curl, nginx, /usr/bin/python3 with "
                     "botocore and %s\n",
                     server.c_str());
        return 2;
    }
    std::string folder = bench::makeFolder("s3");
    if (folder.empty())
        return 1;
    for (const char* sub : {"/store", "/s3"}) std::filesystem::create_directories(folder + sub);
    uint64_t bytes = mib << 20;
    std::string file = folder + "/upload.bin";
    bench::writeFile(file, bytes);

    int rc = 1;
    {
        uint16_t s3Port = Peer::freePort(), webPort = Peer::freePort();
        Peer s3, web;
        bool started =
            s3.start({"/usr/bin/python3", server, std::to_string(s3Port), folder + "/store",
                      kAccessKey, kSecretKey},
                     folder + "/s3", s3Port) &&
            web.start({nginx, "-p", folder, "-c", bench::writeNginxConfig(folder, webPort), "-e",
                       folder + "/error.log"},
                      folder, webPort);
        if (!started)
            std::fprintf(stderr, "a server did not start: %s%s\n", s3.failure().c_str(),
                         web.failure().c_str());
        if (started) {
            setenv("QUORVANE_STORAGE_HOST", ("localhost:" + std::to_string(s3Port)).c_str(), 1);
            setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
            std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
            std::string log = folder + "/child.log";
            std::printf("s3 upload: %llu MiB over loopback\n",
                        static_cast<unsigned long long>(mib));
            Measure ref =
                bench::run({curl, "-s", "-f", "-o", "/dev/null", "-H", "Expect:", "-T", file,
                            "http://127.0.0.1:" + std::to_string(webPort) + "/dav/curl.bin"},
                           log);
            // The stand-in reads a whole unsigned body before refusing it: curl's time
            // there is the most the stand-in itself can take in.
            Measure ceiling =
                bench::run({curl, "-s", "-o", "/dev/null", "-H", "Expect:", "-T", file,
                            "http://127.0.0.1:" + std::to_string(s3Port) + "/bench/ceiling"},
                           log);
            Measure single = bench::run({self, "--child", "single", file}, log);
            Measure multi = bench::run({self, "--child", "multipart", file}, log);
            std::error_code ec;
            bool stored =
                std::filesystem::file_size(folder + "/www/dav/curl.bin", ec) == bytes && !ec;
            if (ref.ok && single.ok && multi.ok && stored) {
                double refRate = static_cast<double>(bytes) / (1 << 20) / ref.seconds;
                std::printf("curl -T    %8.1f MiB/s  (nginx, reference)   peak RSS %7ld KiB\n",
                            refRate, ref.maxRssKiB);
                if (ceiling.ok)
                    report("curl->s3", bytes, ceiling, ref);
                report("single PUT", bytes, single, ref);
                report("multipart", bytes, multi, ref);
                rc = 0;
            } else {
                std::fprintf(stderr,
                             "an upload failed (curl %d, single %d, multipart %d); see %s\n",
                             ref.ok, single.ok, multi.ok, log.c_str());
            }
        }
    }
    if (rc == 0)
        std::filesystem::remove_all(folder);
    return rc;
}
