#pragma once
// One queued API call. Cancelling it ends a load in progress at once; a call cancelled
// before or while it runs delivers nothing.
#include <memory>

#include "base/OperationQueue.h"
#include "client/OWQuorvaneRequest.h"
#include "client/OWQuorvaneURLLoading.h"

class OWQuorvaneCore;

class OWQuorvaneAPIOperation final : public base::Operation {
  public:
    OWQuorvaneAPIOperation(std::shared_ptr<OWQuorvaneCore> core, OWQuorvaneRequest request);

    void main() override;
    void cancel() override;
    const OWQuorvaneRequest& request() const { return request_; }

  private:
    std::shared_ptr<OWQuorvaneCore> core_;
    OWQuorvaneRequest request_;
    OWQuorvaneURLLoading::Cancellation cancellation_;
};
