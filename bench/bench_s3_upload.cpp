// Uploads one large file over loopback and sets each of our two uploads against
// another client sending into the same receiver in the same run, so the ratio
// measures the clients and not the servers:
//   single PUT (signed)  against curl -T with the same headers, into nginx (DAV
//                        answering for the bucket's host name);
//   multipart upload     against s3cmd's multipart upload with the same part size
//                        (20 MiB), into s3rver.
// Prints throughput, the ratio and the peak resident memory of each uploader; every
// upload runs in a child process of its own so the peaks do not mix. Multipart time
// runs to the stored object (the complete reply), not to the caller's finish 2 s
// later.
//
// Usage: bench_s3_upload [MiB]   (256 MiB, or $QV_BENCH_S3_MIB)
// Needs nginx, curl, s3cmd, node and s3rver (scripts/setup).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/RunLoop.h"
#include "bench/BenchSupport.h"
#include "tests/helpers/Peer.h"
#include "transfer/OWTXS3MultipartRequest.h"
#include "transfer/TXS3ObjectRequest.h"

namespace {

using testsupport::Peer;

// s3rver's own account; nginx takes any signature.
constexpr const char* kKey = "S3RVER";
constexpr const char* kBucket = "bench";
constexpr int kPartMiB = 20;

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

int uploadChild(const std::string& how, const std::string& path, const std::string& host) {
    base::RunLoop::setMainThread();
    setenv("QUORVANE_STORAGE_HOST", host.c_str(), 1);
    setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
    TXS3Request::setSharedAccessKey(kKey);
    TXS3Request::setSharedSecretAccessKey(kKey);
    if (how == "single") {
        auto put = TXS3ObjectRequest::PUTRequestForFile(path, kBucket, "single.bin");
        put->setTimeOutSeconds(600);
        put->startSynchronous();
        if (put->error()) {
            std::fprintf(stderr, "failed: %s\n", put->error()->localizedDescription().c_str());
            return 1;
        }
        return put->responseStatusCode() / 100 == 2 ? 0 : 1;
    }
    auto upload = OWTXS3MultipartRequest::PUTRequestForFile(path, kBucket, "multipart.bin");
    auto watcher = std::make_shared<Watcher>();
    upload->setDelegate(watcher);
    upload->startAsynchronous();
    // The object is stored once the operation ends; the caller's finish comes 2 s on.
    base::RunLoop::current().runUntil([&] { return upload->isFinished() || watcher->done; }, 3600);
    return upload->isFinished() && !upload->error() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--child")
        return uploadChild(argv[2], argv[3], argv[4]);

    uint64_t mib = 256;
    if (const char* env = std::getenv("QV_BENCH_S3_MIB"))
        mib = std::strtoull(env, nullptr, 10);
    if (argc > 1)
        mib = std::strtoull(argv[1], nullptr, 10);
    const std::string curl = Peer::findBinary("curl"), nginx = Peer::findBinary("nginx"),
                      s3cmd = Peer::findBinary("s3cmd");
    const std::string folder = bench::makeFolder("s3");
    const uint16_t webPort = Peer::freePort(), s3Port = Peer::freePort();
    const auto s3rver =
        folder.empty() ? std::vector<std::string>() : bench::s3rverCommand(folder, s3Port, kBucket);
    if (mib == 0 || curl.empty() || nginx.empty() || s3cmd.empty() || s3rver.empty()) {
        std::fprintf(stderr,
                     "usage: bench_s3_upload [MiB]; needs curl, nginx, s3cmd, node and s3rver "
                     "(scripts/setup)\n");
        return 2;
    }
    const uint64_t bytes = mib << 20;
    const std::string file = folder + "/upload.bin";
    bench::writeFile(file, bytes);

    int rc = 1;
    {
        Peer web, s3;
        const bool started =
            web.start({nginx, "-p", folder, "-c", bench::writeNginxConfig(folder, webPort, kBucket),
                       "-e", folder + "/error.log"},
                      folder, webPort) &&
            s3.start(s3rver, folder, s3Port, 30);
        if (!started) {
            std::fprintf(stderr, "a server did not start: %s%s\n", web.failure().c_str(),
                         s3.failure().c_str());
        } else {
            const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
            const std::string log = folder + "/child.log";
            const std::string webHost = "localhost:" + std::to_string(webPort);
            std::printf(
                "s3 upload: %llu MiB over loopback, each client against another into "
                "the same receiver\n",
                static_cast<unsigned long long>(mib));
            bench::UploadComparison c;
            c.curlPut = bench::curlSignedPut(
                curl, file, "http://" + std::string(kBucket) + "." + webHost + "/curl.bin",
                "/" + std::string(kBucket) + "/curl.bin", kKey, kKey, log);
            c.single = bench::run({self, "--child", "single", file, webHost}, log);
            c.s3cmdPut = bench::s3cmdMultipartPut(s3cmd, folder, s3Port, file, kBucket, "s3cmd.bin",
                                                  kPartMiB, kKey, log);
            c.multi = bench::run(
                {self, "--child", "multipart", file, "s3.localhost:" + std::to_string(s3Port)},
                log);
            std::error_code ec;
            const std::string stored = folder + "/www/" + kBucket;
            const bool whole = std::filesystem::file_size(stored + "/curl.bin", ec) == bytes &&
                               std::filesystem::file_size(stored + "/single.bin", ec) == bytes;
            rc = bench::report(c, bytes, kBucket, kPartMiB) && whole ? 0 : 1;
            if (rc != 0)
                std::fprintf(stderr, "an upload failed or arrived short; see %s\n", log.c_str());
        }
    }
    if (rc == 0)
        std::filesystem::remove_all(folder);
    return rc;
}
