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
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/RunLoop.h"
#include "transfer/OWTXS3MultipartRequest.h"
#include "transfer/TXS3ObjectRequest.h"

extern char** environ;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kAccessKey = "AKIDBENCH00000000000";
constexpr const char* kSecretKey = "YmVuY2ggc2VjcmV0IGtleQ==";
constexpr const char* kBucket = "bench";

std::string findProgram(const std::string& name) {
    std::string all = std::getenv("PATH") ? std::getenv("PATH") : "";
    all += ":/usr/sbin:/sbin:/usr/bin";
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos)
            end = all.size();
        std::string p = all.substr(start, end - start) + "/" + name;
        if (access(p.c_str(), X_OK) == 0)
            return p;
        start = end + 1;
    }
    return {};
}

uint16_t freePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

bool waitUntilAccepting(uint16_t port) {
    for (int i = 0; i < 500; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& log = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stop(pid_t pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
}

struct Measure {
    double seconds = 0;
    long maxRssKiB = 0;
    bool ok = false;
};

// Runs a program to its end: wall time and peak memory.
Measure run(const std::vector<std::string>& argv, const std::string& log) {
    Measure m;
    auto start = Clock::now();
    pid_t pid = spawn(argv, log);
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return m;
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.maxRssKiB = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

void writeFile(const std::string& path, uint64_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> block(1 << 20);
    uint64_t x = 0x9e3779b97f4a7c15ULL;
    for (auto& c : block) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        c = static_cast<char>(x);
    }
    for (uint64_t done = 0; done < bytes; done += block.size()) {
        out.write(block.data(),
                  static_cast<std::streamsize>(std::min<uint64_t>(block.size(), bytes - done)));
    }
}

std::string nginxConfig(const std::string& folder, uint16_t port) {
    std::string conf = folder + "/nginx.conf";
    std::ofstream(conf) << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                        << "pid " << folder << "/nginx.pid;\nerror_log " << folder
                        << "/error.log;\nevents { worker_connections 64; }\n"
                        << "http {\n access_log off;\n client_body_temp_path " << folder
                        << "/tmp;\n proxy_temp_path " << folder << "/tmp;\n fastcgi_temp_path "
                        << folder << "/tmp;\n uwsgi_temp_path " << folder
                        << "/tmp;\n scgi_temp_path " << folder << "/tmp;\n server {\n  listen "
                        << "127.0.0.1:" << port << ";\n  root " << folder << "/www;\n"
                        << "  location /dav/ { dav_methods PUT; client_max_body_size 0; "
                        << "client_body_buffer_size 1m; }\n }\n}\n";
    return conf;
}

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
    std::string curl = findProgram("curl"), nginx = findProgram("nginx");
    const char* sourceEnv = std::getenv("QV_SOURCE_DIR");
    std::string source = sourceEnv
                             ? sourceEnv
                             : std::filesystem::path(__FILE__).parent_path().parent_path().string();
    std::string server = source + "/tests/fakes/s3_server.py";
    if (mib == 0 || curl.empty() || nginx.empty() || access("/usr/bin/python3", X_OK) != 0 ||
        access(server.c_str(), R_OK) != 0) {
        std::fprintf(stderr,
                     "usage: bench_s3_upload [MiB]; needs curl, nginx, /usr/bin/python3 with "
                     "botocore and %s\n",
                     server.c_str());
        return 2;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-bench-s3-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        return 1;
    std::string folder = buf.data();
    for (const char* sub : {"/store", "/tmp", "/www/dav"})
        std::filesystem::create_directories(folder + sub);
    uint64_t bytes = mib << 20;
    std::string file = folder + "/upload.bin";
    writeFile(file, bytes);

    uint16_t s3Port = freePort(), webPort = freePort();
    pid_t s3 = spawn({"/usr/bin/python3", server, std::to_string(s3Port), folder + "/store",
                      kAccessKey, kSecretKey},
                     folder + "/s3.log");
    pid_t web = spawn(
        {nginx, "-p", folder, "-c", nginxConfig(folder, webPort), "-e", folder + "/error.log"},
        folder + "/nginx.out");
    int rc = 1;
    if (waitUntilAccepting(s3Port) && waitUntilAccepting(webPort)) {
        setenv("QUORVANE_STORAGE_HOST", ("localhost:" + std::to_string(s3Port)).c_str(), 1);
        setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
        std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        std::string log = folder + "/child.log";
        std::printf("s3 upload: %llu MiB over loopback\n", static_cast<unsigned long long>(mib));
        Measure ref = run({curl, "-s", "-f", "-o", "/dev/null", "-H", "Expect:", "-T", file,
                           "http://127.0.0.1:" + std::to_string(webPort) + "/dav/curl.bin"},
                          log);
        // The stand-in reads a whole unsigned body before refusing it: curl's time there
        // is the most the stand-in itself can take in.
        Measure ceiling = run({curl, "-s", "-o", "/dev/null", "-H", "Expect:", "-T", file,
                               "http://127.0.0.1:" + std::to_string(s3Port) + "/bench/ceiling"},
                              log);
        Measure single = run({self, "--child", "single", file}, log);
        Measure multi = run({self, "--child", "multipart", file}, log);
        std::error_code ec;
        bool stored = std::filesystem::file_size(folder + "/www/dav/curl.bin", ec) == bytes && !ec;
        if (ref.ok && single.ok && multi.ok && stored) {
            double refRate = static_cast<double>(bytes) / (1 << 20) / ref.seconds;
            std::printf("curl -T    %8.1f MiB/s  (nginx, reference)   peak RSS %7ld KiB\n", refRate,
                        ref.maxRssKiB);
            if (ceiling.ok)
                report("curl->s3", bytes, ceiling, ref);
            report("single PUT", bytes, single, ref);
            report("multipart", bytes, multi, ref);
            rc = 0;
        } else {
            std::fprintf(stderr, "an upload failed (curl %d, single %d, multipart %d); see %s\n",
                         ref.ok, single.ok, multi.ok, log.c_str());
        }
    }
    stop(s3);
    stop(web);
    if (rc == 0)
        std::filesystem::remove_all(folder);
    return rc;
}
