#pragma once
// The stand-in service (tests/fakes/service.py) started for one test on 127.0.0.1 with
// an ephemeral port, and stopped (its whole process group) when the object goes away.
#include <sys/types.h>

#include <string>
#include <vector>

namespace fakes {

class FakeService {
  public:
    // `arguments` go to service.py ("--client", "ID:SECRET", ...).
    explicit FakeService(const std::vector<std::string>& arguments);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // False when python3 is missing or the service did not come up; `problem()` says why.
    bool running() const { return port_ != 0; }
    const std::string& problem() const { return problem_; }
    int port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string url() const;

    // One plain HTTP request to the service (control endpoints and checks): the status
    // line's code and the body. Status 0 when the service cannot be reached.
    struct Reply {
        int status = 0;
        std::string head;  // status line and headers
        std::string body;
        // The value of the Location header, or "".
        std::string location() const;
    };
    Reply request(const std::string& method, const std::string& target,
                  const std::string& body = "") const;
    // Queues a scripted reply (a JSON object text) for the next request to `path`.
    void script(const std::string& path, const std::string& replyJson, int times = 1) const;
    void configure(const std::string& json) const;
    // The request log as JSON text.
    std::string log() const;

  private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string problem_;
};

// Skips the test when the service cannot run here, unless CI=true (then it fails).
#define QV_REQUIRE_SERVICE(service)                                                  \
    do {                                                                             \
        if (!(service).running()) {                                                  \
            const char* ci = std::getenv("CI");                                      \
            if (ci && std::string(ci) == "true") {                                   \
                FAIL() << "stand-in service unavailable: " << (service).problem();   \
            }                                                                        \
            GTEST_SKIP() << "stand-in service unavailable: " << (service).problem(); \
        }                                                                            \
    } while (0)

}  // namespace fakes
