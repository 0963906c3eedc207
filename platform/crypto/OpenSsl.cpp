#include "platform/crypto/OpenSsl.h"

#include <openssl/crypto.h>

namespace platform::crypto {

void initOpenSsl() {
    static const bool done = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
    (void)done;
}

}  // namespace platform::crypto
