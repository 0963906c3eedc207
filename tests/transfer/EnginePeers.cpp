#include "tests/transfer/EnginePeers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <utility>

#include "platform/crypto/Digest.h"

namespace txtest {
namespace {

std::string ports(uint16_t p) {
    return "127.0.0.1:" + std::to_string(p);
}

}  // namespace

std::string readLog(const std::string& path) {
    return testsupport::readFile(path);
}

bool EngineNginx::start(const testsupport::TempDir& dir, const testsupport::TestCertificates& certs,
                        std::string& error) {
    std::string nginx = testsupport::Peer::findBinary("nginx");
    std::string echo = testsupport::Peer::nginxEchoModule();
    std::string htpasswd = testsupport::Peer::findBinary("htpasswd");
    if (nginx.empty() || echo.empty() || htpasswd.empty()) {
        error = "nginx with the echo module, and htpasswd (apache2-utils)";
        return false;
    }
    std::string base = dir.makeFolder("nginx");
    for (const char* sub : {"tmp", "www", "www/gz", "www/plain", "www/norange", "www/cs/utf8",
                            "www/cs/koi8", "www/cs/none", "www/dav"})
        dir.makeFolder(std::string("nginx/") + sub);
    root = base + "/www";
    accessLog = base + "/access.log";
    if (testsupport::Peer::runTool({htpasswd, "-b", "-c", base + "/htpasswd", "alice", "secret"},
                                   base + "/htpasswd.log") != 0) {
        error = "htpasswd failed";
        return false;
    }
    port = testsupport::Peer::freePort();
    tlsPort = testsupport::Peer::freePort();
    std::string conf;
    conf += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
    conf += "pid " + base + "/nginx.pid;\nerror_log " + base + "/error.log info;\n";
    conf += "load_module " + echo + ";\nevents { worker_connections 256; }\nhttp {\n";
    for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += std::string(" ") + t + "_temp_path " + base + "/tmp/" + t + ";\n";
    conf +=
        " log_format engine '$connection $connection_requests $status $request_uri "
        "\"$remote_user\"';\n";
    conf += " access_log " + accessLog + " engine;\n";
    conf += " default_type text/plain; keepalive_requests 100; keepalive_timeout 30;\n";
    conf +=
        " ssl_certificate " + certs.serverCert + "; ssl_certificate_key " + certs.serverKey + ";\n";
    conf += " server {\n  listen " + ports(port) + ";\n  listen " + ports(tlsPort) + " ssl;\n";
    conf += "  root " + root + ";\n";
    // The method, the request head as the server read it, then the body.
    conf +=
        "  location = /echo { client_max_body_size 64m; echo_read_request_body; "
        "echo $request_method; echo -n $echo_client_request_headers; echo_request_body; }\n";
    for (int code : {301, 302, 303, 307})
        conf += "  location = /r" + std::to_string(code) + " { return " + std::to_string(code) +
                " /echo; }\n";
    for (int hop = 1; hop <= 6; ++hop)
        conf += "  location = /hop" + std::to_string(hop) + " { return 302 /hop" +
                std::to_string(hop + 1) + "; }\n";
    conf += "  location = /hop7 { return 200 \"arrived\"; }\n";
    conf += "  location /gz/ { gzip on; gzip_types text/plain; gzip_min_length 1; }\n";
    conf += "  location /plain/ { gzip off; }\n";
    conf += "  location /norange/ { max_ranges 0; }\n";
    conf += "  location /cs/utf8/ { charset utf-8; }\n";
    conf += "  location /cs/koi8/ { charset koi8-r; }\n";
    conf +=
        "  location = /setcookie { add_header Set-Cookie \"flavour=oat; Path=/\"; "
        "return 200 \"set\"; }\n";
    conf += "  location = /missing { return 404 \"not here\"; }\n";
    conf += "  location /private/ { auth_basic \"engine\"; auth_basic_user_file " + base +
            "/htpasswd; echo \"hello $remote_user\"; }\n";
    conf += "  location = /once { keepalive_requests 1; return 200 \"$connection\"; }\n";
    conf += "  location = /conn { return 200 \"$connection $connection_requests\"; }\n";
    conf +=
        "  location /dav/ { dav_methods PUT; create_full_put_path on; "
        "client_max_body_size 0; }\n";
    conf += " }\n";
    // A storage stand-in per TLS version that reads each body a second late, through
    // a small buffer into a kept file, and answers with that file's path.
    for (auto [versionPort, protocol] :
         {std::pair{&tls12Port, "TLSv1.2"}, {&tls13Port, "TLSv1.3"}}) {
        *versionPort = testsupport::Peer::freePort();
        conf += " server {\n  listen " + ports(*versionPort) + " ssl;\n  ssl_protocols " +
                protocol + ";\n";
        conf +=
            "  location / { client_max_body_size 0; client_body_buffer_size 16k; "
            "client_body_in_file_only on; echo_sleep 1; echo_read_request_body; "
            "echo -n $request_body_file; }\n }\n";
    }
    conf += "}\n";
    std::string confPath = dir.write("nginx/nginx.conf", conf);
    if (!peer.start({nginx, "-p", base, "-c", confPath, "-e", base + "/error.log"}, base, port)) {
        error = peer.failure();
        return false;
    }
    return true;
}

std::string EngineNginx::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

std::string EngineNginx::tlsUrl(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(tlsPort) + path;
}

bool EngineSquid::start(const testsupport::TempDir& dir, bool basicAuth, std::string& error) {
    std::string squid = testsupport::Peer::findBinary("squid");
    std::string htpasswd = testsupport::Peer::findBinary("htpasswd");
    if (squid.empty() || (basicAuth && htpasswd.empty())) {
        error = "squid and htpasswd (apache2-utils)";
        return false;
    }
    std::string base = dir.makeFolder("squid");
    accessLog = base + "/access.log";
    port = testsupport::Peer::freePort();
    std::string conf = "http_port " + ports(port) + "\npid_filename none\ncache_log " + base +
                       "/cache.log\naccess_log stdio:" + accessLog +
                       "\ncache deny all\ncoredump_dir " + base +
                       "\nnetdb_filename none\nshutdown_lifetime 0 seconds\n";
    if (basicAuth) {
        if (testsupport::Peer::runTool(
                {htpasswd, "-b", "-c", base + "/htpasswd", "alice", "secret"},
                base + "/htpasswd.log") != 0) {
            error = "htpasswd failed";
            return false;
        }
        conf += "auth_param basic program /usr/lib/squid/basic_ncsa_auth " + base +
                "/htpasswd\nauth_param basic realm squid-engine\n"
                "acl authed proxy_auth REQUIRED\nhttp_access allow authed\nhttp_access deny all\n";
    } else {
        conf += "http_access allow all\n";
    }
    std::string confPath = dir.write("squid/squid.conf", conf);
    testsupport::Peer::handFolderTo("proxy", base);
    if (!peer.start({squid, "-N", "-f", confPath}, base, port, 30)) {
        error = peer.failure();
        return false;
    }
    return true;
}

bool EngineApacheDigest::start(const testsupport::TempDir& dir, int nonceLifetime,
                               std::string& error) {
    std::string apache = testsupport::Peer::findBinary("apache2", {"/usr/sbin"});
    std::string modules = "/usr/lib/apache2/modules/";
    if (apache.empty() || access((modules + "mod_auth_digest.so").c_str(), R_OK) != 0) {
        error = "apache2 with mod_auth_digest";
        return false;
    }
    std::string base = dir.makeFolder("apache");
    dir.makeFolder("apache/www/digest");
    dir.write("apache/www/digest/index.txt", "digest ok\n");
    std::string ha1 = platform::crypto::Digest::hex(platform::crypto::Digest::of(
        platform::crypto::Digest::Algorithm::MD5, "alice:engine-digest:secret"));
    dir.write("apache/digest", "alice:engine-digest:" + ha1 + "\n");
    port = testsupport::Peer::freePort();
    std::string conf = "ServerRoot " + base + "\nServerName 127.0.0.1\nListen " + ports(port) +
                       "\nPidFile " + base + "/httpd.pid\nErrorLog " + base +
                       "/error.log\nDefaultRuntimeDir " + base + "\n";
    for (const char* m :
         {"mpm_prefork", "authn_core", "authn_file", "authz_core", "authz_user", "auth_digest"}) {
        std::string file =
            std::string(m) == "mpm_prefork" ? "mod_mpm_prefork" : "mod_" + std::string(m);
        conf += std::string("LoadModule ") + m + "_module " + modules + file + ".so\n";
    }
    if (getuid() == 0)
        conf += "User www-data\nGroup www-data\n";
    conf += "DocumentRoot " + base + "/www\n<Directory " + base +
            "/www>\n Require all granted\n</Directory>\n"
            "<Location /digest/>\n AuthType Digest\n AuthName \"engine-digest\"\n"
            " AuthDigestProvider file\n AuthUserFile " +
            base + "/digest\n AuthDigestNonceLifetime " + std::to_string(nonceLifetime) +
            "\n Require valid-user\n</Location>\n";
    std::string confPath = dir.write("apache/httpd.conf", conf);
    if (getuid() == 0) {
        // The child serves as www-data: it must pass through and read, not list.
        chmod(dir.path().c_str(), 0711);
        for (auto& e : std::filesystem::recursive_directory_iterator(base))
            chmod(e.path().c_str(), e.is_directory() ? 0711 : 0644);
        chmod(base.c_str(), 0711);
    }
    if (!peer.start({apache, "-X", "-f", confPath, "-d", base}, base, port)) {
        error = peer.failure();
        return false;
    }
    return true;
}

std::string EngineApacheDigest::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

}  // namespace txtest
