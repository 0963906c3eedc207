#pragma once
// API calls over the transfer engine: one POST run synchronously on the calling thread
// in the engine's private run-loop mode. Certificates are verified, redirects are
// followed and the connection gives up after 180 idle seconds. A body without a type
// of its own goes out as "application/x-www-form-urlencoded". A reply is inflated as it
// arrives and read up to kMaxReplyBytes: a longer one is dropped as it passes the cap
// and answered as no response at all, so reading it costs no more than the cap.
#include <cstddef>
#include <memory>

#include "client/OWQuorvaneURLLoading.h"

class OWQuorvaneURLLoader final : public OWQuorvaneURLLoading {
  public:
    static constexpr const char* kFormContentType = "application/x-www-form-urlencoded";
    // Of a reply's text, once inflated. An events reply this long holds some 300,000
    // events, of which the widget keeps the newest 500.
    static constexpr size_t kMaxReplyBytes = size_t{16} * 1024 * 1024;

    Response load(const Request& request, Cancellation& cancellation) override;

    // The process's loader.
    static std::shared_ptr<OWQuorvaneURLLoading> shared();
};
