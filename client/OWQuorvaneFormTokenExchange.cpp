#include "client/OWQuorvaneFormTokenExchange.h"

#include "base/RunLoop.h"

void OWQuorvaneFormTokenExchange::send(const Request& /*request*/, Completion done) {
    base::MainQueue::post([done] {
        Outcome outcome;
        outcome.failed = true;
        outcome.errorText = "The transfer engine is not available";
        done(outcome);
    });
}
