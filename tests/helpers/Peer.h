#pragma once
// A real server process for a test: started in its own process group from an
// argument vector (never a shell), with stdin at end of file and its output in a
// log file, waited for until it accepts on 127.0.0.1, and stopped with its whole
// group when the object goes away.
//
// Tests that need a peer call requirePeerBinary() in SetUp: a missing binary
// skips the test locally and fails it when CI=true, so CI proves what it claims.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

class Peer {
  public:
    Peer() = default;
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Full path of an installed program (PATH, then /usr/sbin and /usr/lib
    // folders given), or empty.
    static std::string findBinary(const std::string& name,
                                  const std::vector<std::string>& extraFolders = {});
    // A port that was free a moment ago on 127.0.0.1, below the range the kernel
    // gives outgoing connections, and not handed out before by this process.
    static uint16_t freePort();
    static bool isCi();
    // Full path of nginx's echo module where the distribution installs it, or empty.
    static std::string nginxEchoModule();
    // For a server that drops root for `user`: hands it `folder` and everything in
    // it, and lets it pass through the (still unlistable) folder above. Nothing
    // when not running as root.
    static void handFolderTo(const std::string& user, const std::string& folder);
    // Runs a tool to its end (for openssl and the like); its exit status, -1 when
    // it could not run. Output goes to `logFile` when given.
    static int runTool(const std::vector<std::string>& argv, const std::string& logFile = {});

    // Starts the server and waits until 127.0.0.1:`port` accepts; false (with the
    // server's log in failure()) when it exits or does not listen in time.
    bool start(const std::vector<std::string>& argv, const std::string& workDir, uint16_t port,
               double timeoutSeconds = 15);
    void stop();
    bool running() const { return pid_ > 0; }
    const std::string& failure() const { return failure_; }
    std::string log() const;

  private:
    pid_t pid_ = -1;
    std::string logPath_;
    std::string failure_;
};

// For SetUp(): skips (locally) or fails (CI) when `path` is empty.
#define QV_REQUIRE_PEER_BINARY(path, what)                                   \
    do {                                                                     \
        if ((path).empty()) {                                                \
            if (::testsupport::Peer::isCi()) {                               \
                FAIL() << (what) << " is not installed (run scripts/setup)"; \
            }                                                                \
            GTEST_SKIP() << (what) << " is not installed";                   \
        }                                                                    \
    } while (0)

}  // namespace testsupport
