// Uploads one large file through the progress window (UploadProgressController) on the
// offscreen platform on loopback, the file as one signed PUT into nginx (DAV answering
// for the bucket's host name) and its registration with the stand-in service, and
// prints:
// - the longest main-thread stall while the file goes up: the worst lateness of a 10 ms
//   Qt timer (aim below 50 ms);
// - the growth of resident memory from the window's start to its end (aim below 64 MiB);
// - throughput against `curl -T` of the same file with the same headers into the same
//   nginx in the same run (aim 0.9x or better);
// - how far the bar's count falls short of the file size when the file is registered.
// The upload runs in a child process, so its memory is its own.
//
// Usage: bench_upload_window [MiB]   (default 1024)
// Needs /usr/bin/python3 with botocore, nginx and curl (scripts/setup).
#include <unistd.h>

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/UserDefaults.h"
#include "bench/BenchSupport.h"
#include "client/OWQuorvane.h"
#include "platform/ui/qt/DesktopApplication.h"
#include "tests/client/QuorvaneFakes.h"
#include "tests/helpers/Peer.h"
#include "upload_dialog/QuorvSettingsController.h"
#include "upload_dialog/UploadProgressController.h"

namespace {

using bench::Measure;
using testsupport::Peer;

constexpr const char* kAccessKey = "AKIDBENCHWINDOW00000";
constexpr const char* kSecretKey = "YmVuY2ggd2luZG93IHNlY3JldA==";
constexpr const char* kBucket = "quorvane";

long currentRssKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The host: hears the end, and notes the bar's count when the file is registered.
class Host : public UploadProgressDelegate {
  public:
    void uploadComplete() override { done = ok = true; }
    void uploadCancelled() override { done = true; }
    void uploadFailed() override { done = true; }
    bool done = false;
    bool ok = false;
};

int windowChild(int argc, char** argv, const std::string& path, const std::string& site,
                const std::string& token, const std::string& prefs, const std::string& result) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    platform::ui::qt::DesktopApplication app(argc, argv);
    base::UserDefaults::setPreferencesFolder(prefs);
    auto account = std::make_shared<quorvanetest::FakeAccount>();
    account->link(token);
    account->setSite(site);
    OWQuorvaneAccount::setShared(account);

    auto record = QuorvSettingsController::create();
    record->setProjectID(1);
    record->setTitle("Bench");
    record->setFolder("/");
    record->setFps(25);

    const long rssBefore = currentRssKiB();
    long rssPeak = rssBefore;
    auto host = std::make_shared<Host>();
    auto window = UploadProgressController::create(path);
    window->setDelegate(host);

    // A 10 ms timer's worst lateness is the longest the main thread was kept busy.
    QElapsedTimer sinceTick;
    qint64 worstLateMs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (sinceTick.isValid()) {
            worstLateMs = std::max(worstLateMs, sinceTick.elapsed() - 10);
        }
        sinceTick.restart();
        rssPeak = std::max(rssPeak, currentRssKiB());
    });
    tick.start(10);

    QElapsedTimer clock;
    clock.start();
    window->uploadWithSettings(*record);
    while (!host->done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const double seconds = double(clock.elapsed()) / 1000.0;
    tick.stop();
    std::ofstream(result) << (host->ok ? 1 : 0) << ' ' << seconds << ' ' << worstLateMs << ' '
                          << (rssPeak - rssBefore) << ' ' << window->bytesSent() << ' '
                          << window->totalBytes() << '\n';
    window.reset();
    record.reset();
    return host->ok ? 0 : 1;
}

int measure(const std::string& curl, const std::string& folder, const std::string& file,
            uint64_t bytes, uint16_t servicePort, uint16_t webPort) {
    const std::string token = bench::issueToken(curl, servicePort, folder);
    const std::string webHost = "localhost:" + std::to_string(webPort);
    ::setenv("QUORVANE_STORAGE_HOST", webHost.c_str(), 1);
    ::setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
    ::setenv("QUORVANE_STORAGE_BUCKET", kBucket, 1);
    ::setenv("QUORVANE_STORAGE_ACCESS_KEY", kAccessKey, 1);
    ::setenv("QUORVANE_STORAGE_SECRET_KEY", kSecretKey, 1);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string site = "http://127.0.0.1:" + std::to_string(servicePort);
    const std::string log = folder + "/child.log";
    const std::string result = folder + "/result.txt";
    std::printf("upload window: %llu MiB over loopback, start to completion\n",
                static_cast<unsigned long long>(bytes >> 20));
    const std::string bucketURL = "http://" + std::string(kBucket) + "." + webHost;
    // Each upload starts with no dirty pages left by the file's writing or by the other
    // upload: otherwise the second one pays for the first one's writeback in nginx.
    ::sync();
    const Measure ref = bench::curlSignedPut(curl, file, bucketURL + "/curl.mov",
                                             "/" + std::string(kBucket) + "/curl.mov", kAccessKey,
                                             kSecretKey, log);
    ::sync();
    const Measure win =
        bench::run({self, "--child", file, site, token, folder + "/prefs", result}, log);
    int ok = 0;
    double seconds = 0;
    long lateMs = 0, rssGrowthKiB = 0;
    unsigned long long sent = 0, total = 0;
    std::ifstream(result) >> ok >> seconds >> lateMs >> rssGrowthKiB >> sent >> total;
    std::error_code ec;
    const bool stored =
        std::filesystem::file_size(folder + "/www/" + kBucket + "/curl.mov", ec) == bytes && !ec;
    if (token.empty() || !ref.ok || !win.ok || !ok || !stored) {
        std::fprintf(stderr, "an upload or the token failed; see %s\n", folder.c_str());
        return 1;
    }
    const double mib = static_cast<double>(bytes) / (1 << 20);
    std::printf("curl -T        %8.1f MiB/s  (into nginx, reference)\n", mib / ref.seconds);
    std::printf("window         %8.1f MiB/s  (%.2fx curl, into the same nginx)\n", mib / seconds,
                ref.seconds / seconds);
    std::printf("longest stall  %8ld ms    (10 ms timer's worst lateness; aim < 50)\n", lateMs);
    std::printf("RSS growth     %8.1f MiB  (aim < 64)\n", double(rssGrowthKiB) / 1024);
    std::printf("bar shortfall  %8llu bytes of %llu\n", total - std::min(sent, total), total);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 7 && std::string(argv[1]) == "--child") {
        int qtArgc = 1;
        return windowChild(qtArgc, argv, argv[2], argv[3], argv[4], argv[5], argv[6]);
    }
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::string curl = Peer::findBinary("curl"), nginx = Peer::findBinary("nginx");
    const std::string source = bench::sourceDir();
    const std::string storageServer = source + "/tests/fakes/s3_server.py";
    const std::string serviceServer = source + "/tests/fakes/service.py";
    if (mib == 0 || curl.empty() || nginx.empty() || ::access("/usr/bin/python3", X_OK) != 0 ||
        ::access(storageServer.c_str(), R_OK) != 0 || ::access(serviceServer.c_str(), R_OK) != 0) {
        std::fprintf(stderr,
                     "usage: bench_upload_window [MiB]; needs curl, nginx, /usr/bin/python3 "
                     "with botocore and %s/tests/fakes\n",
                     source.c_str());
        return 2;
    }
    const std::string folder = bench::makeFolder("window");
    if (folder.empty()) {
        return 1;
    }
    std::filesystem::create_directories(folder + "/prefs");
    const uint64_t bytes = mib << 20;
    const std::string file = folder + "/upload.mov";
    bench::writeFile(file, bytes);
    // The window deletes the movie after a complete upload; curl goes first.
    int rc = 1;
    {
        bench::UploadPeers peers;
        if (peers.start(folder, nginx, kAccessKey, kSecretKey, kBucket)) {
            rc = measure(curl, folder, file, bytes, peers.servicePort, peers.webPort);
        }
    }
    if (rc == 0) {
        std::filesystem::remove_all(folder);
    } else {
        std::fprintf(stderr, "logs kept in %s\n", folder.c_str());
    }
    return rc;
}
