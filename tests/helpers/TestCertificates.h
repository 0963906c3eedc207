#pragma once
// A throw-away certificate authority made with the openssl tool in a test's
// folder: a server certificate for localhost, bucket.localhost (the stand-in
// storage's bucket host) and 127.0.0.1, one for another host
// name, and a client certificate, all signed by the test CA. Verification stays
// on in the tests; they trust this CA instead of turning checks off.
#include <string>

namespace testsupport {

struct TestCertificates {
    std::string caCert;
    std::string serverCert, serverKey;        // localhost, bucket.localhost, 127.0.0.1
    std::string wrongHostCert, wrongHostKey;  // wrong.example
    std::string clientCert, clientKey;

    // Makes them inside `folder`; false (with `error`) when openssl fails.
    bool make(const std::string& folder, std::string& error);
};

}  // namespace testsupport
