#include "tests/transfer/S3StandIn.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/crypto/Digest.h"

namespace testsupport {

namespace {

std::string sourceDir() {
    const char* dir = std::getenv("QV_SOURCE_DIR");
    return dir != nullptr ? dir : ".";
}

}  // namespace

std::string S3StandIn::interpreter() {
    if (::access("/usr/bin/python3", X_OK) != 0) {
        return {};
    }
    return Peer::runTool({"/usr/bin/python3", "-c", "import botocore.auth"}) == 0
               ? "/usr/bin/python3"
               : "";
}

bool S3StandIn::start() {
    return startWithTls({}, {});
}

bool S3StandIn::startWithTls(const std::string& certificate, const std::string& key) {
    port_ = Peer::freePort();
    std::string store = dir_.makeFolder("store");
    std::vector<std::string> argv{interpreter(),
                                  sourceDir() + "/tests/fakes/s3_server.py",
                                  std::to_string(port_),
                                  store,
                                  kAccessKey,
                                  kSecretKey};
    uint16_t storagePort = port_;
    if (!certificate.empty()) {
        tlsPort_ = storagePort = Peer::freePort();
        argv.insert(argv.end(), {std::to_string(tlsPort_), certificate, key});
    }
    ::setenv("QUORVANE_STORAGE_HOST", ("localhost:" + std::to_string(storagePort)).c_str(), 1);
    ::setenv("QUORVANE_STORAGE_SCHEME", certificate.empty() ? "http" : "https", 1);
    return peer_.start(argv, dir_.path(), port_);
}

// A plain HTTP/1.0 exchange; enough for the server's control paths.
std::string S3StandIn::http(const std::string& method, const std::string& path,
                            const std::string& body) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return {};
    }
    std::string request = method + " " + path + " HTTP/1.0\r\nHost: " + kBucket +
                          ".localhost\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body;
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        ::close(fd);
        return {};
    }
    std::string reply;
    char buf[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) {
        reply.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    auto end = reply.find("\r\n\r\n");
    return end == std::string::npos ? "" : reply.substr(end + 4);
}

bool S3StandIn::script(const std::string& json) {
    return http("POST", "/__script", json) == "{}";
}

int64_t S3StandIn::stat(const std::string& name) {
    std::string json = http("GET", "/__stats", "");
    auto at = json.find("\"" + name + "\": ");
    if (at == std::string::npos) {
        return -1;
    }
    return std::atoll(json.c_str() + at + name.size() + 4);
}

std::string S3StandIn::objectBytes(const std::string& key) {
    using platform::crypto::Digest;
    std::string name = Digest::hex(Digest::of(Digest::Algorithm::SHA256, key));
    return readFile(dir_.path() + "/store/" + kBucket + "/" + name);
}

}  // namespace testsupport
