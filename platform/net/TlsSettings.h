#pragma once
// How a stream speaks TLS: the trust it checks against, the name it expects, and
// an optional client identity. Verification is on unless the engine turns it off.
#include <memory>
#include <optional>
#include <string>

#include "base/Error.h"

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;
typedef struct stack_st_X509 STACK_OF_X509;

namespace platform::net {

// A certificate with its private key and any intermediate certificates.
class ClientIdentity {
  public:
    ~ClientIdentity();
    ClientIdentity(const ClientIdentity&) = delete;
    ClientIdentity& operator=(const ClientIdentity&) = delete;

    // A PEM certificate (followed by its chain, when the file holds more) and a
    // PEM private key.
    static std::shared_ptr<ClientIdentity> fromPemFiles(
        const std::string& certificateFile, const std::string& keyFile,
        std::optional<base::Error>* error = nullptr);
    X509* certificate() const { return cert_; }
    EVP_PKEY* key() const { return key_; }
    STACK_OF_X509* chain() const { return chain_; }

  private:
    ClientIdentity() = default;
    X509* cert_ = nullptr;
    EVP_PKEY* key_ = nullptr;
    STACK_OF_X509* chain_ = nullptr;
};

struct TlsSettings {
    bool validatesCertificateChain = true;
    // The name the certificate must carry; the address's host when empty.
    std::string peerName;
    // Trust only this PEM bundle instead of the system store (which already
    // honours SSL_CERT_FILE and SSL_CERT_DIR).
    std::string caFile;
    std::shared_ptr<const ClientIdentity> identity;
};

}  // namespace platform::net
