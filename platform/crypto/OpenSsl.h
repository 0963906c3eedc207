#pragma once
// OpenSSL, set up once for the whole process without its clean-up at exit: threads that
// are never joined (the network thread, a transfer being cancelled) may still sign or
// encrypt while the process exits, and would find OpenSSL's locks already freed. Every
// file that calls OpenSSL calls this first; the first call in the process decides.

namespace platform::crypto {

void initOpenSsl();

}  // namespace platform::crypto
