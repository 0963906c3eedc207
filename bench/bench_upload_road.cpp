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

#include "base/NotificationCenter.h"
#include "base/RunLoop.h"
#include "base/UserDefaults.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneURLLoader.h"
#include "client/json/QMJSON.h"
#include "tests/client/QuorvaneFakes.h"

extern char** environ;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kAccessKey = "AKIDBENCHROAD0000000";
constexpr const char* kSecretKey = "YmVuY2ggcm9hZCBzZWNyZXQ=";
constexpr const char* kBucket = "quorvane";

std::string findProgram(const std::string& name) {
    std::string all = std::getenv("PATH") ? std::getenv("PATH") : "";
    all += ":/usr/sbin:/sbin:/usr/bin";
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos) {
            end = all.size();
        }
        const std::string p = all.substr(start, end - start) + "/" + name;
        if (::access(p.c_str(), X_OK) == 0) {
            return p;
        }
        start = end + 1;
    }
    return {};
}

uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool waitUntilAccepting(uint16_t port) {
    for (int i = 0; i < 500; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        ::close(fd);
        if (ok) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stop(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
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
    const auto start = Clock::now();
    const pid_t pid = spawn(argv, log);
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) {
        return m;
    }
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
    const std::string conf = folder + "/nginx.conf";
    const std::string tmp = folder + "/tmp";
    std::ofstream(conf) << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                        << "pid " << folder << "/nginx.pid;\nerror_log " << folder
                        << "/error.log;\nevents { worker_connections 64; }\n"
                        << "http {\n access_log off;\n client_body_temp_path " << tmp
                        << ";\n proxy_temp_path " << tmp << ";\n fastcgi_temp_path " << tmp
                        << ";\n uwsgi_temp_path " << tmp << ";\n scgi_temp_path " << tmp
                        << ";\n server {\n  listen 127.0.0.1:" << port << ";\n  root " << folder
                        << "/www;\n  location /dav/ { dav_methods PUT; client_max_body_size 0; "
                        << "client_body_buffer_size 1m; }\n }\n}\n";
    return conf;
}

// The access token the stand-in service issues for a user.
std::string issueToken(const std::string& curl, uint16_t port, const std::string& folder) {
    const std::string out = folder + "/token.json";
    const Measure m = run(
        {curl, "-s", "-f", "-o", out, "-X", "POST", "--data-binary", R"({"user_name": "bench"})",
         "http://127.0.0.1:" + std::to_string(port) + "/_control/issue"},
        folder + "/curl.log");
    std::ifstream in(out);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    QMJSON json;
    const auto value = m.ok ? json.objectWithString(text) : std::nullopt;
    return value ? (*value)["access_token"].stringValue() : std::string();
}

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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::string(argv[1]) == "--child") {
        return uploadChild(argv[2], argv[3], argv[4], argv[5], argv[6]);
    }
    uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::string curl = findProgram("curl"), nginx = findProgram("nginx");
    const char* sourceEnv = std::getenv("QV_SOURCE_DIR");
    const std::string source =
        sourceEnv ? sourceEnv
                  : std::filesystem::path(__FILE__).parent_path().parent_path().string();
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
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-bench-road-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        return 1;
    }
    const std::string folder = pattern;
    for (const char* sub : {"/store", "/tmp", "/www/dav", "/prefs"}) {
        std::filesystem::create_directories(folder + sub);
    }
    const uint64_t bytes = mib << 20;
    const std::string file = folder + "/upload.mov";
    writeFile(file, bytes);

    const uint16_t s3Port = freePort(), servicePort = freePort(), webPort = freePort();
    const pid_t s3 = spawn({"/usr/bin/python3", storageServer, std::to_string(s3Port),
                            folder + "/store", kAccessKey, kSecretKey},
                           folder + "/s3.log");
    const pid_t service =
        spawn({"/usr/bin/python3", serviceServer, "--port", std::to_string(servicePort)},
              folder + "/service.log");
    const pid_t web = spawn(
        {nginx, "-p", folder, "-c", nginxConfig(folder, webPort), "-e", folder + "/error.log"},
        folder + "/nginx.out");
    int rc = 1;
    if (waitUntilAccepting(s3Port) && waitUntilAccepting(servicePort) &&
        waitUntilAccepting(webPort)) {
        const std::string token = issueToken(curl, servicePort, folder);
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
                    static_cast<unsigned long long>(mib));
        const Measure ref = run({curl, "-s", "-f", "-o", "/dev/null", "-H", "Expect:", "-T", file,
                                 "http://127.0.0.1:" + std::to_string(webPort) + "/dav/curl.bin"},
                                log);
        const Measure single =
            run({self, "--child", "single", file, site, token, folder + "/prefs"}, log);
        const Measure multi =
            run({self, "--child", "multipart", file, site, token, folder + "/prefs"}, log);
        std::error_code ec;
        const bool stored =
            std::filesystem::file_size(folder + "/www/dav/curl.bin", ec) == bytes && !ec;
        if (!token.empty() && ref.ok && stored) {
            std::printf("curl -T    %8.1f MiB/s  (nginx, reference)   peak RSS %7ld KiB\n",
                        static_cast<double>(mib) / ref.seconds, ref.maxRssKiB);
            report("single PUT", bytes, single, ref);
            report("multipart", bytes, multi, ref);
            rc = single.ok && multi.ok ? 0 : 1;
        } else {
            std::fprintf(stderr, "the reference upload or the token failed; see %s\n",
                         folder.c_str());
        }
    }
    stop(s3);
    stop(service);
    stop(web);
    if (rc == 0) {
        std::filesystem::remove_all(folder);
    } else {
        std::fprintf(stderr, "logs kept in %s\n", folder.c_str());
    }
    return rc;
}
