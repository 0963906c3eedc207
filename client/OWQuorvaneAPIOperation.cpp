#include "client/OWQuorvaneAPIOperation.h"

#include "client/OWQuorvaneCore.h"

OWQuorvaneAPIOperation::OWQuorvaneAPIOperation(std::shared_ptr<OWQuorvaneCore> core,
                                               OWQuorvaneRequest request)
    : core_(std::move(core)), request_(std::move(request)) {}

void OWQuorvaneAPIOperation::main() {
    if (isCancelled() || !core_ || core_->isUnloading()) {
        return;
    }
    core_->sendRequest(request_, cancellation_);
}

void OWQuorvaneAPIOperation::cancel() {
    base::Operation::cancel();
    cancellation_.cancel();
}
