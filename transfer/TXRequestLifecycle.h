#pragma once
// Where one request stands between its start and its end. A request moves through
// these phases only by enter(); what varies independently of them (the answer was
// read to its end, the operation holds its queue slot, the stream is scheduled, the
// answer asks for a redirect) stays a fact of its own.
//
//   Ready ─start─▶ Running ─answer read, failure, time-out─▶ Ended
//   Running or Ended ─time-out, stale connection, resend asked─▶ Retrying ─▶ Running
//   Ended ─redirect followed─▶ Redirecting ─▶ Running (or Ended when it cannot start)
//   Ended ─challenge put to a receiver─▶ AwaitingCredentials ─answer─▶ Ended ─▶ Running
//   any ─cancel─▶ Cancelled, which nothing leaves
#include <cstdint>

class TXRequestLifecycle {
  public:
    enum class Phase : uint8_t {
        Ready,                // configured, not started
        Running,              // its message is being built, sent and answered
        Retrying,             // its stream is being torn down to send the message again
        Redirecting,          // the answer pointed elsewhere; it starts again there
        AwaitingCredentials,  // a receiver was asked for credentials and has not answered
        Ended,                // finished or failed
        Cancelled,            // cancelled: it never runs again
    };

    Phase phase() const { return phase_; }

    // Moves to `next`; false, changing nothing, once cancelled.
    bool enter(Phase next) {
        if (phase_ == Phase::Cancelled)
            return next == Phase::Cancelled;
        phase_ = next;
        return true;
    }

    // No transfer is under way: the request ended (for now, while it waits for an
    // answer or is about to follow a redirect, or for good).
    bool isComplete() const {
        return phase_ == Phase::Redirecting || phase_ == Phase::AwaitingCredentials ||
               phase_ == Phase::Ended || phase_ == Phase::Cancelled;
    }
    bool isCancelled() const { return phase_ == Phase::Cancelled; }
    bool isRetrying() const { return phase_ == Phase::Retrying; }
    bool awaitsCredentials() const { return phase_ == Phase::AwaitingCredentials; }

  private:
    Phase phase_ = Phase::Ready;
};
