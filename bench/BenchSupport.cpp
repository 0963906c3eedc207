#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "client/json/QMJSON.h"
#include "tests/helpers/Peer.h"
#include "transfer/TXHTTPRequest.h"
#include "transfer/TXS3Signer.h"

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

// "what   123.4 MiB/s  (0.56x <reference>)  peak RSS 1234 KiB"; no ratio for a
// reference itself (no `reference`).
void reportOne(const char* what, uint64_t bytes, const Measure& m, const Measure* reference,
               const char* referenceName) {
    if (!m.ok) {
        std::printf("  %-11s failed (see the log)\n", what);
        return;
    }
    const double rate = static_cast<double>(bytes) / (1 << 20) / m.seconds;
    char ratio[64] = "";
    if (reference != nullptr && reference->ok)
        std::snprintf(ratio, sizeof ratio, "(%.2fx %s)", reference->seconds / m.seconds,
                      referenceName);
    std::printf("  %-11s %8.1f MiB/s  %-20s peak RSS %7ld KiB\n", what, rate, ratio, m.maxRssKiB);
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

std::string writeNginxConfig(const std::string& folder, uint16_t port, const std::string& bucket) {
    std::filesystem::create_directories(folder + "/tmp");
    std::filesystem::create_directories(folder + "/www/dav");
    const std::string conf = folder + "/nginx.conf";
    const std::string tmp = folder + "/tmp";
    const std::string dav =
        "dav_methods PUT; create_full_put_path on; client_max_body_size 0; "
        "client_body_buffer_size 1m;";
    std::ofstream out(conf);
    out << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
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
        << "  location /dav/ { " << dav << " }\n }\n";
    if (!bucket.empty()) {
        std::filesystem::create_directories(folder + "/www/" + bucket);
        out << " server {\n  listen 127.0.0.1:" << port << ";\n  server_name " << bucket
            << ".localhost;\n  root " << folder << "/www/" << bucket << ";\n  location / { " << dav
            << " }\n }\n";
    }
    out << "}\n";
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
                        const char* secretKey, const std::string& bucket) {
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
        s.web.start({nginx, "-p", folder, "-c", writeNginxConfig(folder, webPort, bucket), "-e",
                     folder + "/error.log"},
                    folder, webPort);
    if (!started) {
        std::fprintf(stderr, "a server did not start: %s%s%s\n", s.s3.failure().c_str(),
                     s.service.failure().c_str(), s.web.failure().c_str());
    }
    return started;
}

std::vector<std::string> s3rverCommand(const std::string& folder, uint16_t port,
                                       const std::string& bucket) {
    const std::string s3rver = sourceDir() + "/tests/peers/node_modules/.bin/s3rver";
    if (access(s3rver.c_str(), X_OK) != 0 || testsupport::Peer::findBinary("node").empty())
        return {};
    std::filesystem::create_directories(folder + "/s3rver");
    return {s3rver,
            "--directory",
            folder + "/s3rver",
            "--address",
            "127.0.0.1",
            "--port",
            std::to_string(port),
            "--silent",
            "--allow-mismatched-signatures",
            "--service-endpoint",
            "localhost",
            "--configure-bucket",
            bucket};
}

Measure curlSignedPut(const std::string& curl, const std::string& file, const std::string& url,
                      const std::string& resource, const std::string& accessKey,
                      const std::string& secretKey, const std::string& log) {
    const std::string type =
        TXHTTPRequest::mimeTypeForFileAtPath(file).value_or("application/octet-stream");
    const std::string date = TXS3Signer::requestDateString(std::chrono::system_clock::now());
    const std::string authorization = TXS3Signer::authorization(
        accessKey, TXS3Signer::signature(
                       secretKey, TXS3Signer::stringToSign("PUT", type, date, "", resource)));
    return run({curl,
                "-s",
                "-f",
                "-o",
                "/dev/null",
                "-A",
                TXHTTPRequest::defaultUserAgentString().value_or("bench"),
                "-H",
                "Accept-Encoding: gzip",
                "-H",
                "Date: " + date,
                "-H",
                "Content-Type: " + type,
                "-H",
                "Authorization: " + authorization,
                "-H",
                "Expect:",
                "-T",
                file,
                url},
               log);
}

Measure s3cmdMultipartPut(const std::string& s3cmd, const std::string& folder, uint16_t port,
                          const std::string& file, const std::string& bucket,
                          const std::string& key, int partMiB, const std::string& accessKey,
                          const std::string& log) {
    const std::string host = "127.0.0.1:" + std::to_string(port);
    const std::string config = folder + "/s3cfg";
    std::ofstream(config) << "[default]\naccess_key = " << accessKey
                          << "\nsecret_key = " << accessKey << "\nhost_base = " << host
                          << "\nhost_bucket = " << host
                          << "\nuse_https = False\nsignature_v2 = True\n";
    return run({s3cmd, "-c", config, "--no-progress",
                "--multipart-chunk-size-mb=" + std::to_string(partMiB), "put", file,
                "s3://" + bucket + "/" + key},
               log);
}

bool report(const UploadComparison& c, uint64_t bytes, const std::string& bucket, int partMiB) {
    std::printf("into nginx (DAV for %s.localhost):\n", bucket.c_str());
    reportOne("curl -T", bytes, c.curlPut, nullptr, "");
    reportOne("single PUT", bytes, c.single, &c.curlPut, "curl -T");
    std::printf("into s3rver (parts of %d MiB):\n", partMiB);
    reportOne("s3cmd", bytes, c.s3cmdPut, nullptr, "");
    reportOne("multipart", bytes, c.multi, &c.s3cmdPut, "s3cmd");
    return c.curlPut.ok && c.single.ok && c.s3cmdPut.ok && c.multi.ok;
}

}  // namespace bench
