#include "tests/helpers/TestCertificates.h"

#include "tests/helpers/Peer.h"

namespace testsupport {
namespace {

bool issue(const std::string& openssl, const std::string& dir, const std::string& name,
           const std::string& subject, const std::string& san, const std::string& log,
           std::string& error) {
    std::string key = dir + "/" + name + ".key", csr = dir + "/" + name + ".csr";
    std::string ext = dir + "/" + name + ".ext";
    if (Peer::runTool(
            {openssl, "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-keyout", key, "-out", csr, "-subj", subject},
            log) != 0) {
        error = "openssl req failed for " + name;
        return false;
    }
    FILE* f = fopen(ext.c_str(), "w");
    if (!f)
        return false;
    fprintf(f, "basicConstraints=CA:FALSE\nsubjectAltName=%s\n", san.c_str());
    fclose(f);
    if (Peer::runTool({openssl, "x509", "-req", "-in", csr, "-CA", dir + "/ca.pem", "-CAkey",
                       dir + "/ca.key", "-CAcreateserial", "-days", "2", "-sha256", "-extfile", ext,
                       "-out", dir + "/" + name + ".pem"},
                      log) != 0) {
        error = "openssl x509 failed for " + name;
        return false;
    }
    return true;
}

}  // namespace

bool TestCertificates::make(const std::string& dir, std::string& error) {
    std::string openssl = Peer::findBinary("openssl");
    if (openssl.empty()) {
        error = "openssl is not installed";
        return false;
    }
    std::string log = dir + "/openssl.log";
    if (Peer::runTool({openssl,
                       "req",
                       "-x509",
                       "-newkey",
                       "ec",
                       "-pkeyopt",
                       "ec_paramgen_curve:prime256v1",
                       "-nodes",
                       "-keyout",
                       dir + "/ca.key",
                       "-out",
                       dir + "/ca.pem",
                       "-days",
                       "2",
                       "-subj",
                       "/CN=Test CA",
                       "-addext",
                       "basicConstraints=critical,CA:TRUE",
                       "-addext",
                       "keyUsage=critical,keyCertSign,cRLSign"},
                      log) != 0) {
        error = "openssl could not make the test CA";
        return false;
    }
    if (!issue(openssl, dir, "server", "/CN=localhost",
               "DNS:localhost,DNS:bucket.localhost,IP:127.0.0.1", log, error) ||
        !issue(openssl, dir, "wrong", "/CN=wrong.example", "DNS:wrong.example", log, error) ||
        !issue(openssl, dir, "client", "/CN=Test Client", "email:client@example.invalid", log,
               error)) {
        return false;
    }
    caCert = dir + "/ca.pem";
    serverCert = dir + "/server.pem";
    serverKey = dir + "/server.key";
    wrongHostCert = dir + "/wrong.pem";
    wrongHostKey = dir + "/wrong.key";
    clientCert = dir + "/client.pem";
    clientKey = dir + "/client.key";
    return true;
}

}  // namespace testsupport
