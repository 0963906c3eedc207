#pragma once
// API calls over the transfer engine: one POST run synchronously on the calling thread
// in the engine's private run-loop mode. Certificates are verified, redirects are
// followed and the connection gives up after 180 idle seconds. A body without a type
// of its own goes out as "application/x-www-form-urlencoded".
#include <memory>

#include "client/OWQuorvaneURLLoading.h"

class OWQuorvaneURLLoader final : public OWQuorvaneURLLoading {
  public:
    static constexpr const char* kFormContentType = "application/x-www-form-urlencoded";

    Response load(const Request& request, Cancellation& cancellation) override;

    // The process's loader.
    static std::shared_ptr<OWQuorvaneURLLoading> shared();
};
