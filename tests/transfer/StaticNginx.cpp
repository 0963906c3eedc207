#include "tests/transfer/StaticNginx.h"

namespace txtest {

bool StaticNginx::start(const testsupport::TempDir& dir, const std::string& locations,
                        std::string& error) {
    std::string nginx = testsupport::Peer::findBinary("nginx");
    if (nginx.empty()) {
        error = "nginx";
        return false;
    }
    std::string base = dir.makeFolder("nginx");
    dir.makeFolder("nginx/tmp");
    root = dir.makeFolder("nginx/www");
    port = testsupport::Peer::freePort();
    std::string conf =
        "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        "pid " +
        base + "/nginx.pid;\nerror_log " + base +
        "/error.log info;\n"
        "events { worker_connections 64; }\n"
        "http {\n"
        " client_body_temp_path " +
        base + "/tmp/body; proxy_temp_path " + base + "/tmp/proxy;\n fastcgi_temp_path " + base +
        "/tmp/fcgi; uwsgi_temp_path " + base + "/tmp/uwsgi;\n scgi_temp_path " + base +
        "/tmp/scgi;\n"
        " access_log " +
        base +
        "/access.log;\n"
        " default_type application/octet-stream;\n"
        " server {\n  listen 127.0.0.1:" +
        std::to_string(port) + ";\n  root " + root + ";\n" + locations + " }\n}\n";
    std::string confPath = dir.write("nginx/nginx.conf", conf);
    if (!peer.start({nginx, "-p", base, "-c", confPath, "-e", base + "/error.log"}, base, port)) {
        error = peer.failure();
        return false;
    }
    return true;
}

std::string StaticNginx::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

}  // namespace txtest
