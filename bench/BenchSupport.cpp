#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "client/json/QMJSON.h"
#include "tests/support/Peer.h"

extern char** environ;

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
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

}  // namespace

Measure run(const std::vector<std::string>& argv, const std::string& log) {
    Measure m;
    const auto start = Clock::now();
    const pid_t pid = spawn(argv, log);
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
        return m;
    m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    m.maxRssKiB = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

long ownMaxRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string makeFolder(const std::string& name) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-bench-" + name + "-XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

std::string sourceDir() {
    const char* dir = std::getenv("QV_SOURCE_DIR");
    return dir ? dir : std::filesystem::path(__FILE__).parent_path().parent_path().string();
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

std::string writeNginxConfig(const std::string& folder, uint16_t port) {
    std::filesystem::create_directories(folder + "/tmp");
    std::filesystem::create_directories(folder + "/www/dav");
    const std::string conf = folder + "/nginx.conf";
    const std::string tmp = folder + "/tmp";
    std::ofstream(conf) << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                        << "pid " << folder << "/nginx.pid;\n"
                        << "error_log " << folder << "/error.log;\n"
                        << "events { worker_connections 64; }\n"
                        << "http {\n access_log off; sendfile on; tcp_nopush on;\n"
                        << " client_body_temp_path " << tmp << ";\n"
                        << " proxy_temp_path " << tmp << ";\n"
                        << " fastcgi_temp_path " << tmp << ";\n"
                        << " uwsgi_temp_path " << tmp << ";\n"
                        << " scgi_temp_path " << tmp << ";\n"
                        << " server {\n  listen 127.0.0.1:" << port << ";\n"
                        << "  root " << folder << "/www;\n"
                        << "  location /dav/ { dav_methods PUT; client_max_body_size 0; "
                        << "client_body_buffer_size 1m; }\n }\n}\n";
    return conf;
}

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

struct UploadPeers::Servers {
    testsupport::Peer s3, service, web;
};

UploadPeers::UploadPeers()
    : s3Port(testsupport::Peer::freePort()),
      servicePort(testsupport::Peer::freePort()),
      webPort(testsupport::Peer::freePort()),
      servers_(new Servers) {}

UploadPeers::~UploadPeers() {
    delete servers_;
}

bool UploadPeers::start(const std::string& folder, const std::string& nginx, const char* accessKey,
                        const char* secretKey) {
    for (const char* sub : {"/store", "/s3", "/service"}) {
        std::filesystem::create_directories(folder + sub);
    }
    const std::string source = sourceDir();
    Servers& s = *servers_;
    const bool started =
        s.s3.start({"/usr/bin/python3", source + "/tests/fakes/s3_server.py",
                    std::to_string(s3Port), folder + "/store", accessKey, secretKey},
                   folder + "/s3", s3Port) &&
        s.service.start({"/usr/bin/python3", source + "/tests/fakes/service.py", "--port",
                         std::to_string(servicePort)},
                        folder + "/service", servicePort) &&
        s.web.start({nginx, "-p", folder, "-c", writeNginxConfig(folder, webPort), "-e",
                     folder + "/error.log"},
                    folder, webPort);
    if (!started) {
        std::fprintf(stderr, "a server did not start: %s%s%s\n", s.s3.failure().c_str(),
                     s.service.failure().c_str(), s.web.failure().c_str());
    }
    return started;
}

}  // namespace bench
