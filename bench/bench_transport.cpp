// Downloads a large file from nginx on loopback through our read stream and
// uploads one to it (PUT into nginx's DAV module), then does the same with curl in
// the same run, and prints the throughput ratios and the peak resident memory of
// both. nginx runs in a private temporary folder on a free port.
//
// Usage: bench_transport [MiB [rounds]]   (1024 MiB, or $QV_BENCH_TRANSPORT_MIB;
// 3 rounds, each side's best run counts)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/RunLoop.h"
#include "bench/BenchSupport.h"
#include "platform/net/BodyStream.h"
#include "platform/net/HttpReadStream.h"
#include "tests/helpers/Peer.h"

namespace net = platform::net;
using bench::Measure;
using Clock = std::chrono::steady_clock;

namespace {

// nginx serving `root` on a free port, with PUT allowed under /dav/.
class Nginx {
  public:
    bool start(const std::string& folder) {
        std::string nginx = testsupport::Peer::findBinary("nginx");
        if (nginx.empty()) {
            std::fprintf(stderr, "nginx is not installed (run scripts/setup)\n");
            return false;
        }
        port_ = testsupport::Peer::freePort();
        std::string conf = bench::writeNginxConfig(folder, port_);
        if (peer_.start({nginx, "-p", folder, "-c", conf, "-e", folder + "/error.log"}, folder,
                        port_)) {
            return true;
        }
        std::fprintf(stderr, "nginx did not start: %s\n", peer_.failure().c_str());
        return false;
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    testsupport::Peer peer_;
    uint16_t port_ = 0;
};

// A request body read from a file as the socket takes it.
class FileBody final : public net::BodyStream {
  public:
    explicit FileBody(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~FileBody() override {
        if (fd_ >= 0)
            close(fd_);
    }
    ssize_t read(uint8_t* buf, size_t n) override { return ::read(fd_, buf, n); }

  private:
    int fd_;
};

// One exchange on the main run loop; the number of body bytes received.
Measure runOurs(const std::string& method, const std::string& url,
                std::shared_ptr<net::BodyStream> body, uint64_t bodyLength, uint64_t& received) {
    Measure m;
    auto parsed = net::Url::parse(url);
    if (!parsed)
        return m;
    net::HttpRequestMessage message(method, *parsed);
    if (body)
        message.setHeader("Content-Length", std::to_string(bodyLength));
    auto start = Clock::now();
    auto stream = net::HttpReadStream::create(std::move(message), std::move(body));
    bool done = false;
    std::vector<uint8_t> buf(256 * 1024);
    received = 0;
    stream->setClient([&](net::HttpReadStream::Event e) {
        if (e == net::HttpReadStream::Event::BytesAvailable) {
            while (size_t n = stream->read(buf.data(), buf.size())) received += n;
        } else {
            done = true;
        }
    });
    auto& loop = base::RunLoop::current();
    stream->schedule(loop, base::kDefaultRunLoopMode);
    if (!stream->open())
        return m;
    loop.runUntil([&] { return done; }, 3600);
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto* head = stream->responseHead();
    m.ok = !stream->error() && head && head->statusCode >= 200 && head->statusCode < 300;
    if (stream->error())
        std::fprintf(stderr, "%s\n", stream->error()->localizedDescription().c_str());
    stream->setClient(nullptr);
    stream->close();
    m.maxRssKiB = bench::ownMaxRssKiB();
    return m;
}

// The fastest run, and the highest peak memory seen.
void keepBest(Measure& best, const Measure& m) {
    if (best.seconds == 0 || (m.seconds > 0 && m.seconds < best.seconds))
        best.seconds = m.seconds;
    best.maxRssKiB = std::max(best.maxRssKiB, m.maxRssKiB);
}

void report(const char* what, uint64_t bytes, const Measure& ours, const Measure& curl) {
    double mib = static_cast<double>(bytes) / (1 << 20);
    double oursRate = mib / ours.seconds, curlRate = mib / curl.seconds;
    std::printf(
        "%-8s ours %8.1f MiB/s  curl %8.1f MiB/s  ratio %.2fx  peak RSS ours %ld KiB, "
        "curl %ld KiB\n",
        what, oursRate, curlRate, oursRate / curlRate, ours.maxRssKiB, curl.maxRssKiB);
}

}  // namespace

int main(int argc, char** argv) {
    base::RunLoop::setMainThread();
    uint64_t mib = 1024;
    if (const char* env = std::getenv("QV_BENCH_TRANSPORT_MIB"))
        mib = std::strtoull(env, nullptr, 10);
    if (argc > 1)
        mib = std::strtoull(argv[1], nullptr, 10);
    int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (mib == 0 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_transport [MiB [rounds]]\n");
        return 2;
    }
    std::string curl = testsupport::Peer::findBinary("curl");
    if (curl.empty()) {
        std::fprintf(stderr, "curl is not installed (run scripts/setup)\n");
        return 1;
    }
    std::string folder = bench::makeFolder("transport");
    if (folder.empty())
        return 1;
    int rc = 1;
    {
        Nginx nginx;
        uint64_t bytes = mib << 20;
        std::string source = folder + "/www/big.bin";
        std::filesystem::create_directories(folder + "/www");
        bench::writeFile(source, bytes);
        if (nginx.start(folder)) {
            std::printf("transport: %llu MiB over loopback\n",
                        static_cast<unsigned long long>(mib));
            // Loopback speed swings with the machine's load and the upload with
            // nginx's disk writes: alternate who goes first and keep each side's best.
            Measure down, curlDown, up, curlUp;
            bool downOk = true, upOk = true;
            for (int round = 0; round < rounds; ++round) {
                for (int turn = 0; turn < 2; ++turn) {
                    if ((turn + round) % 2 == 0) {
                        uint64_t received = 0;
                        Measure m = runOurs("GET", nginx.url("/big.bin"), nullptr, 0, received);
                        downOk = downOk && m.ok && received == bytes;
                        keepBest(down, m);
                        std::error_code ec;
                        std::filesystem::remove(folder + "/www/dav/ours.bin", ec);
                        m = runOurs("PUT", nginx.url("/dav/ours.bin"),
                                    std::make_shared<FileBody>(source), bytes, received);
                        upOk =
                            upOk && m.ok &&
                            std::filesystem::file_size(folder + "/www/dav/ours.bin", ec) == bytes;
                        keepBest(up, m);
                    } else {
                        Measure m = bench::run(
                            {curl, "-s", "-f", "-o", "/dev/null", nginx.url("/big.bin")});
                        downOk = downOk && m.ok;
                        keepBest(curlDown, m);
                        std::error_code ec;
                        std::filesystem::remove(folder + "/www/dav/curl.bin", ec);
                        // No "Expect: 100-continue" round trip: we do not send one either.
                        m = bench::run({curl, "-s", "-f", "-o", "/dev/null", "-H", "Expect:", "-T",
                                        source, nginx.url("/dav/curl.bin")});
                        upOk = upOk && m.ok;
                        keepBest(curlUp, m);
                    }
                }
            }
            if (downOk)
                report("download", bytes, down, curlDown);
            if (upOk)
                report("upload", bytes, up, curlUp);
            rc = downOk && upOk ? 0 : 1;
            if (rc != 0)
                std::fprintf(stderr, "a transfer failed (download %s, upload %s)\n",
                             downOk ? "ok" : "failed", upOk ? "ok" : "failed");
        }
    }
    std::filesystem::remove_all(folder);
    return rc;
}
