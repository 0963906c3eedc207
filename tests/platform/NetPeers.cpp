#include "tests/platform/NetPeers.h"

#include <sys/stat.h>
#include <unistd.h>


namespace nettest {

bool Nginx::start(const testsupport::TempDir& dir, const testsupport::TestCertificates& certs,
                  std::string& error) {
    std::string nginx = testsupport::Peer::findBinary("nginx");
    std::string echo = testsupport::Peer::nginxEchoModule();
    if (nginx.empty() || echo.empty()) {
        error = "nginx with the echo module";
        return false;
    }
    std::string base = dir.makeFolder("nginx");
    for (const char* sub : {"tmp", "www", "www/gz", "www/dav"})
        dir.makeFolder(std::string("nginx/") + sub);
    root = base + "/www";
    accessLog = base + "/access.log";
    port = testsupport::Peer::freePort();
    tlsPort = testsupport::Peer::freePort();
    clientCertPort = testsupport::Peer::freePort();
    std::string conf =
        "daemon off;\nmaster_process off;\nworker_processes 1;\n"
        "pid " +
        base + "/nginx.pid;\nerror_log " + base +
        "/error.log info;\n"
        "load_module " +
        echo +
        ";\n"
        "events { worker_connections 256; }\n"
        "http {\n"
        " client_body_temp_path " +
        base + "/tmp/body; proxy_temp_path " + base +
        "/tmp/proxy;\n"
        " fastcgi_temp_path " +
        base + "/tmp/fcgi; uwsgi_temp_path " + base +
        "/tmp/uwsgi;\n"
        " scgi_temp_path " +
        base +
        "/tmp/scgi;\n"
        " log_format conn '$connection $connection_requests \"$request\"';\n"
        " access_log " +
        accessLog +
        " conn;\n"
        " default_type text/plain; keepalive_requests 100; keepalive_timeout 30;\n"
        " ssl_certificate " +
        certs.serverCert + "; ssl_certificate_key " + certs.serverKey +
        ";\n"
        " server {\n"
        "  listen 127.0.0.1:" +
        std::to_string(port) +
        ";\n"
        "  listen 127.0.0.1:" +
        std::to_string(tlsPort) +
        " ssl;\n"
        "  root " +
        root +
        ";\n"
        "  location = /head { echo -n $echo_client_request_headers; }\n"
        "  location = /chunked { echo first; echo_flush; echo_sleep 0.05; echo second; }\n"
        "  location = /slow { echo_sleep 0.3; echo late; }\n"
        "  location = /conn { return 200 \"$connection $connection_requests\"; }\n"
        "  location = /echo-body { client_max_body_size 64m; echo_read_request_body; "
        "echo_request_body; }\n"
        "  location /gz/ { gzip on; gzip_types text/plain; gzip_min_length 1; }\n"
        "  location = /missing { return 404 \"not here\"; }\n"
        "  location = /close { keepalive_timeout 0; return 200 \"bye\"; }\n"
        "  location /dav/ { dav_methods PUT; create_full_put_path on; client_max_body_size 0; }\n"
        " }\n"
        " server {\n"
        "  listen 127.0.0.1:" +
        std::to_string(clientCertPort) +
        " ssl;\n"
        "  ssl_client_certificate " +
        certs.caCert +
        "; ssl_verify_client on;\n"
        "  location / { return 200 \"client $ssl_client_s_dn\"; }\n"
        " }\n"
        "}\n";
    std::string confPath = dir.write("nginx/nginx.conf", conf);
    if (!peer.start({nginx, "-p", base, "-c", confPath, "-e", base + "/error.log"}, base, port)) {
        error = peer.failure();
        return false;
    }
    return true;
}

std::string Nginx::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

std::string Nginx::tlsUrl(const std::string& path, const std::string& host) const {
    return "https://" + host + ":" + std::to_string(tlsPort) + path;
}

bool Squid::start(const testsupport::TempDir& dir, Auth auth, std::string& error) {
    std::string squid = testsupport::Peer::findBinary("squid");
    if (squid.empty()) {
        error = "squid";
        return false;
    }
    std::string base = dir.makeFolder("squid");
    port = testsupport::Peer::freePort();
    std::string conf = "http_port 127.0.0.1:" + std::to_string(port) +
                       "\n"
                       "pid_filename none\ncache_log " +
                       base +
                       "/cache.log\n"
                       "access_log stdio:" +
                       base +
                       "/access.log\n"
                       "cache deny all\ncoredump_dir " +
                       base +
                       "\nnetdb_filename none\n"
                       "shutdown_lifetime 0 seconds\n"
                       "acl CONNECT method CONNECT\n";
    std::string helpers = "/usr/lib/squid/";
    switch (auth) {
        case Auth::None:
            conf += "http_access allow all\n";
            break;
        case Auth::Basic:
            conf += "auth_param basic program " + helpers + "basic_ncsa_auth " + base +
                    "/htpasswd\n"
                    "auth_param basic realm squid-test\n";
            break;
        case Auth::Digest:
            dir.write("squid/digest", "alice:secret\n");
            conf += "auth_param digest program " + helpers + "digest_file_auth " + base +
                    "/digest\n"
                    "auth_param digest realm squid-digest\nauth_param digest "
                    "nonce_garbage_interval 1 minute\n";
            break;
        case Auth::Ntlm:
            conf += "auth_param ntlm program " + helpers +
                    "ntlm_fake_auth\nauth_param ntlm children 2\n";
            break;
    }
    if (auth != Auth::None)
        conf += "acl authed proxy_auth REQUIRED\nhttp_access allow authed\nhttp_access deny all\n";
    if (auth == Auth::Basic) {
        std::string htpasswd = testsupport::Peer::findBinary("htpasswd");
        if (htpasswd.empty() || testsupport::Peer::runTool(
                                    {htpasswd, "-b", "-c", base + "/htpasswd", "alice", "secret"},
                                    base + "/htpasswd.log") != 0) {
            error = "htpasswd (apache2-utils)";
            return false;
        }
    }
    std::string confPath = dir.write("squid/squid.conf", conf);
    testsupport::Peer::handFolderTo("proxy", base);
    // Squid names its shared memory segments after the service name: parallel tests
    // need one each.
    const std::string service = "qvtest" + std::to_string(port);
    if (!peer.start({squid, "-N", "-n", service, "-f", confPath}, base, port, 30)) {
        error = peer.failure();
        return false;
    }
    return true;
}

bool Microsocks::start(const testsupport::TempDir& dir, std::string& error) {
    std::string bin = testsupport::Peer::findBinary("microsocks");
    if (bin.empty()) {
        error = "microsocks";
        return false;
    }
    port = testsupport::Peer::freePort();
    std::string base = dir.makeFolder("socks");
    if (!peer.start({bin, "-i", "127.0.0.1", "-p", std::to_string(port)}, base, port)) {
        error = peer.failure();
        return false;
    }
    return true;
}

bool WrongHostTls::start(const testsupport::TempDir& dir,
                         const testsupport::TestCertificates& certs, std::string& error) {
    std::string openssl = testsupport::Peer::findBinary("openssl");
    if (openssl.empty()) {
        error = "openssl";
        return false;
    }
    port = testsupport::Peer::freePort();
    std::string base = dir.makeFolder("s_server");
    if (!peer.start({openssl, "s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert",
                     certs.wrongHostCert, "-key", certs.wrongHostKey, "-www", "-quiet"},
                    base, port)) {
        error = peer.failure();
        return false;
    }
    return true;
}

}  // namespace nettest
