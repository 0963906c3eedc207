#pragma once
// The token exchange over the transfer engine: a form request on the controller's
// serial queue, credentials presented before any challenge, results on the main thread.
#include <memory>

#include "base/OperationQueue.h"
#include "client/OWQuorvaneTokenExchange.h"

class OWQuorvaneFormTokenExchange : public OWQuorvaneTokenExchange {
  public:
    explicit OWQuorvaneFormTokenExchange(std::shared_ptr<base::OperationQueue> queue)
        : queue_(std::move(queue)) {}
    void send(const Request& request, Completion done) override;

  private:
    std::shared_ptr<base::OperationQueue> queue_;
};
