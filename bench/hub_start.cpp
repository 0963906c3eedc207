// How fast the hub starts, in the two ways it is started:
//  - "-oauth", which every exporter runs while it starts itself (aim: well under 50 ms),
//    against starting /bin/true (the cost of any process start) and the exporters' own
//    reader (OWQuorvaneHubHandOver) around it;
//  - the linking window, from program start to the status page loaded and through the
//    renderer, with the hub's peak resident memory, against the least program that
//    shows a page in the same web engine (hub_start_peer).
// Usage: bench_hub_start [runs of -oauth, default 40] [window runs, default 5]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "client/OWQuorvaneHubHandOver.h"
#include "platform/keychain/KeychainFile.h"

namespace {

struct Summary {
    double medianSeconds = 0;
    long maxRssKiB = 0;
    int failures = 0;
};

Summary measure(const std::vector<std::string>& argv, int runs) {
    std::vector<double> times;
    Summary summary;
    for (int i = 0; i < runs; ++i) {
        const bench::Measure m = bench::run(argv);
        if (!m.ok) {
            ++summary.failures;
            continue;
        }
        times.push_back(m.seconds);
        summary.maxRssKiB = std::max(summary.maxRssKiB, m.maxRssKiB);
    }
    if (!times.empty()) {
        std::sort(times.begin(), times.end());
        summary.medianSeconds = times[times.size() / 2];
    }
    return summary;
}

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int oauthRuns = argc > 1 ? std::atoi(argv[1]) : 40;
    const int windowRuns = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string bundle = QV_HUB_BUNDLE;
    const std::string hub = bundle + "/Contents/MacOS/Quorvane Plugin Hub";

    // A private home with a linked account, as an exporter's user has.
    const std::string home = bench::makeFolder("hub-start");
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME",
                             "XDG_RUNTIME_DIR"}) {
        const std::string folder = home + "/" + name;
        ::mkdir(folder.c_str(), 0700);
        ::setenv(name, folder.c_str(), 1);
    }
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (::geteuid() == 0) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);  // the engine refuses root otherwise
    }
    platform::keychain::KeychainFile keychain(platform::keychain::KeychainFile::defaultFolder());
    keychain.add({"Quorvane - Quorvane Plugin Hub", "Quorvane Plugin Hub",
                  "0123456789abcdef0123456789abcdef01234567",
                  "alice######1893456000###fedcba9876543210fedcba9876543210fedcba98"});

    const Summary floor = measure({"/bin/true"}, oauthRuns);
    const Summary oauth = measure({hub, "-oauth"}, oauthRuns);
    ::setenv(OWQuorvaneHubHandOver::kBundleEnvironment, bundle.c_str(), 1);
    std::vector<double> reads;
    for (int i = 0; i < oauthRuns; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto credentials =
            OWQuorvaneHubHandOver(std::vector<std::string>{}).readCredentials();
        if (credentials && credentials->accessToken) {
            reads.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
    }
    std::printf("-oauth: %.1f ms median of %d (%d failed), peak %ld KiB\n",
                oauth.medianSeconds * 1e3, oauthRuns, oauth.failures, oauth.maxRssKiB);
    std::printf("  peer /bin/true: %.1f ms; ratio %.2f\n", floor.medianSeconds * 1e3,
                floor.medianSeconds > 0 ? oauth.medianSeconds / floor.medianSeconds : 0);
    std::printf("  exporter's reader (OWQuorvaneHubHandOver) around it: %.1f ms (%zu read)\n",
                medianOf(reads) * 1e3, reads.size());

    ::setenv("QUORVANE_HUB_EXIT_WHEN_SHOWN", "1", 1);
    const Summary window = measure({hub}, windowRuns);
    const Summary bare = measure({QV_HUB_START_PEER}, windowRuns);
    std::printf("window to status page: %.0f ms median of %d (%d failed), hub peak %ld KiB\n",
                window.medianSeconds * 1e3, windowRuns, window.failures, window.maxRssKiB);
    std::printf("  peer hub_start_peer (bare web view): %.0f ms, peak %ld KiB; ratio %.2f\n",
                bare.medianSeconds * 1e3, bare.maxRssKiB,
                bare.medianSeconds > 0 ? window.medianSeconds / bare.medianSeconds : 0);
    return oauth.failures == 0 && window.failures == 0 ? 0 : 1;
}
