#pragma once
// A notification service on the test's session bus: python3-dbusmock's notification
// template, started for one test and stopped with it. What it was asked to show is read
// back from its call log.
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/helpers/Peer.h"

namespace testsupport {

class NotificationService {
  public:
    NotificationService() = default;
    ~NotificationService();
    NotificationService(const NotificationService&) = delete;
    NotificationService& operator=(const NotificationService&) = delete;

    // Why it cannot run here (no session bus, no dbusmock), or empty.
    static std::string unavailableBecause();
    // Starts it and waits until it owns its bus name; false on failure.
    bool start();
    void stop();
    // The Notify calls so far, one log line each: time, "Notify", then the arguments
    // as the mock writes them ("app" 0 "" "summary" "body" [] {hints} -1).
    std::vector<std::string> notifyCalls() const;

  private:
    pid_t pid_ = -1;
    std::string log_;
};

// For SetUp(): skips (locally) or fails (CI) when no notification service can run;
// always skips under ThreadSanitizer.
#define QV_REQUIRE_NOTIFICATION_SERVICE()                                               \
    do {                                                                                \
        const std::string why = testsupport::NotificationService::unavailableBecause(); \
        if (!why.empty()) {                                                             \
            if (testsupport::Peer::isCi() && why.rfind("not under", 0) != 0) {          \
                FAIL() << why;                                                          \
            }                                                                           \
            GTEST_SKIP() << why;                                                        \
        }                                                                               \
    } while (0)

}  // namespace testsupport
