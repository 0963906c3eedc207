#pragma once
// Runs proxy auto-configuration scripts. The script engine is neither reentrant
// nor interruptible, and a script may loop for ever, so each evaluation runs in a
// forked child process that is killed at the time limit; the waiting happens on
// a helper thread, never on the caller's run loop.
#include <functional>
#include <string>
#include <vector>

#include "base/RunLoop.h"
#include "platform/net/ProxyEntry.h"
#include "platform/net/Url.h"

namespace platform::net {

class PacEvaluator {
  public:
    static constexpr size_t kMaxScriptBytes = 1 << 20;
    static constexpr double kDefaultTimeLimit = 5.0;

    // Blocks the calling thread for at most `timeLimit` seconds. Any failure (too
    // large, does not parse, throws, runs too long) means [Direct].
    static std::vector<ProxyEntry> evaluate(const std::string& script, const Url& url,
                                            double timeLimit = kDefaultTimeLimit);
    // The raw answer of FindProxyForURL, or none on failure.
    static std::optional<std::string> findProxy(const std::string& script, const Url& url,
                                                double timeLimit);
    // Evaluates on a helper thread and delivers the answer as a task on `loop`.
    static void evaluateAsync(std::string script, Url url, base::RunLoop& loop,
                              std::function<void(std::vector<ProxyEntry>)> done,
                              double timeLimit = kDefaultTimeLimit);
};

}  // namespace platform::net
