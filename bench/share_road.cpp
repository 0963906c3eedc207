// The share road's start with a 1 GiB movie: from the editor's open-documents command to
// the first bytes of the movie going out to the stand-in storage (timing from the
// FCPXML and the movie, the thumbnail frame, the progress window, the upload's start),
// how much of the movie was read by then, and the program's peak resident memory while
// the whole movie goes up. Reference: ffmpeg taking the same thumbnail frame alone.
//
// Usage: bench_share_road [MiB]   (default 1024; the movie is raw 1080p video)
// Needs ffmpeg, curl, nginx, dbus-run-session and /usr/bin/python3 with botocore.
#include <unistd.h>

#include <QElapsedTimer>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "apps/share_destination/SAMApplicationDelegate.h"
#include "base/UserDefaults.h"
#include "bench/BenchSupport.h"
#include "platform/scripting/Bookmark.h"
#include "platform/ui/qt/DesktopApplication.h"
#include "tests/client/QuorvaneFakes.h"
#include "tests/helpers/Peer.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace {

using platform::scripting::Descriptor;
using testsupport::Peer;

constexpr const char* kAccessKey = "AKIDBENCHSHAREROAD00";
constexpr const char* kSecretKey = "YmVuY2ggc2hhcmUgcm9hZA==";
constexpr const char* kBucket = "quorvane";
constexpr uint64_t kFrameBytes = 1920ull * 1080 * 2;

long currentRssKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Bytes this process has read through read calls so far.
unsigned long long bytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    unsigned long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return 0;
}

int shareChild(int argc, char** argv, const std::string& movie, const std::string& xml,
               const std::string& site, const std::string& token, const std::string& prefs,
               const std::string& result) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    platform::ui::qt::DesktopApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    base::UserDefaults::setPreferencesFolder(prefs);
    auto account = std::make_shared<quorvanetest::FakeAccount>();
    account->link(token);
    account->setSite(site);
    OWQuorvaneAccount::setShared(account);

    bool done = false;
    SAMApplicationDelegate::Options options;
    options.terminate = [&done](int) { done = true; };
    options.introspection = "<interface name=\"com.oxburyworks.QuorvFCPXExporter.Scripting\"/>";
    auto delegate = SAMApplicationDelegate::create(options);
    if (!delegate->applicationDidFinishLaunching()) {
        return 1;
    }
    delegate->stopTimeout();
    // As a confirmed settings window leaves the record.
    QuorvSettingsController& settings = *delegate->settingsController();
    settings.setProjectID(1);
    settings.setFolder("/");
    settings.setTitle("Bench");

    Descriptor files = Descriptor::list();
    for (const std::string& path : {movie, xml}) {
        files.append(Descriptor::atomic(
            platform::scripting::kTypeBookmarkData,
            platform::scripting::bookmark::create(platform::scripting::FileURL::fromPath(path))));
    }
    Descriptor parameters = Descriptor::record();
    parameters.setField(platform::scripting::kKeyDirectObject, files);
    platform::scripting::ScriptCommand open(
        platform::scripting::ScriptCommand::Event::OpenDocuments, Descriptor::record(), parameters,
        [](auto&, auto&) {});

    double firstByteSeconds = -1;
    unsigned long long readAtFirstByte = 0;
    long rssPeak = currentRssKiB();
    QElapsedTimer clock;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    const unsigned long long readBefore = bytesRead();
    QObject::connect(&tick, &QTimer::timeout, [&] {
        rssPeak = std::max(rssPeak, currentRssKiB());
        const auto& progress = delegate->progressController();
        if (firstByteSeconds < 0 && progress && progress->bytesSent() > 0) {
            firstByteSeconds = double(clock.nsecsElapsed()) / 1e9;
            readAtFirstByte = bytesRead() - readBefore;
        }
    });
    tick.start(1);
    clock.start();
    delegate->openFiles(open);
    open.finish();
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    const double total = double(clock.nsecsElapsed()) / 1e9;
    tick.stop();
    const bool ok = delegate->progressController() && delegate->progressController()->state() ==
                                                          UploadProgressController::State::Complete;
    std::ofstream(result) << (ok ? 1 : 0) << ' ' << (settings.thumbnail() ? 1 : 0) << ' '
                          << firstByteSeconds << ' ' << readAtFirstByte << ' ' << rssPeak << ' '
                          << total << '\n';
    delegate.reset();
    return ok ? 0 : 1;
}

bool makeMovie(const std::string& path, uint64_t mib) {
    // Raw 4:2:2 1080p frames, as QuickTime stores them: about 4 MiB each.
    const uint64_t frames = std::max<uint64_t>(1, (mib << 20) / kFrameBytes);
    return bench::run({Peer::findBinary("ffmpeg"),
                       "-v",
                       "error",
                       "-nostdin",
                       "-y",
                       "-f",
                       "lavfi",
                       "-i",
                       "testsrc2=size=1920x1080:rate=30000/1001",
                       "-frames:v",
                       std::to_string(frames),
                       "-timecode",
                       "01:00:00;00",
                       "-c:v",
                       "rawvideo",
                       "-pix_fmt",
                       "uyvy422",
                       "-f",
                       "mov",
                       path})
        .ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 8 && std::string(argv[1]) == "--child") {
        int qtArgc = 1;
        return shareChild(qtArgc, argv, argv[2], argv[3], argv[4], argv[5], argv[6], argv[7]);
    }
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::string curl = Peer::findBinary("curl"), nginx = Peer::findBinary("nginx");
    const std::string ffmpeg = Peer::findBinary("ffmpeg");
    const std::string session = Peer::findBinary("dbus-run-session");
    if (mib == 0 || curl.empty() || nginx.empty() || ffmpeg.empty() || session.empty() ||
        ::access("/usr/bin/python3", X_OK) != 0) {
        std::fprintf(stderr,
                     "usage: bench_share_road [MiB]; needs ffmpeg, curl, nginx, "
                     "dbus-run-session and /usr/bin/python3 with botocore\n");
        return 2;
    }
    const std::string folder = bench::makeFolder("share-road");
    if (folder.empty()) {
        return 1;
    }
    std::filesystem::create_directories(folder + "/prefs");
    const std::string movie = folder + "/Untitled.mp4";
    const std::string xml = folder + "/Untitled.fcpxml";
    if (!makeMovie(movie, mib)) {
        std::fprintf(stderr, "ffmpeg could not make the movie\n");
        return 1;
    }
    std::ofstream(xml) << "<fcpxml version=\"1.8\"><resources><format id=\"r1\" "
                          "frameDuration=\"1001/30000s\"/></resources><library><event><project>"
                          "<sequence format=\"r1\" tcStart=\"3600s\" tcFormat=\"DF\"/>"
                          "</project></event></library></fcpxml>\n";
    const auto size = std::filesystem::file_size(movie);
    int rc = 1;
    {
        bench::UploadPeers peers;
        if (peers.start(folder, nginx, kAccessKey, kSecretKey)) {
            const std::string token = bench::issueToken(curl, peers.servicePort, folder);
            ::setenv("QUORVANE_STORAGE_HOST", ("localhost:" + std::to_string(peers.s3Port)).c_str(),
                     1);
            ::setenv("QUORVANE_STORAGE_SCHEME", "http", 1);
            ::setenv("QUORVANE_STORAGE_BUCKET", kBucket, 1);
            ::setenv("QUORVANE_STORAGE_ACCESS_KEY", kAccessKey, 1);
            ::setenv("QUORVANE_STORAGE_SECRET_KEY", kSecretKey, 1);
            // The reference: ffmpeg seeking to the thumbnail's time and decoding one frame.
            const double duration = double(size / kFrameBytes) * 1001.0 / 30000.0;
            const std::string at = std::to_string(std::ceil(0.1 * duration));
            const bench::Measure ref =
                bench::run({ffmpeg, "-v", "error", "-nostdin", "-ss", at, "-i", movie, "-frames:v",
                            "1", "-f", "null", "-"});
            const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
            const std::string result = folder + "/result.txt";
            const bench::Measure run =
                bench::run({session, "--", self, "--child", movie, xml,
                            "http://127.0.0.1:" + std::to_string(peers.servicePort), token,
                            folder + "/prefs", result},
                           folder + "/child.log");
            int ok = 0, thumbnail = 0;
            double first = 0, total = 0;
            unsigned long long readBytes = 0;
            long rssPeakKiB = 0;
            std::ifstream(result) >> ok >> thumbnail >> first >> readBytes >> rssPeakKiB >> total;
            if (!token.empty() && ref.ok && run.ok && ok && first >= 0) {
                std::printf("share road: %.0f MiB movie, open-documents to the first byte sent\n",
                            double(size) / (1 << 20));
                std::printf("to first byte     %8.3f s    (aim < 1 s)\n", first);
                std::printf("thumbnail         %8s\n", thumbnail ? "made" : "none");
                std::printf("ffmpeg thumbnail  %8.3f s    (reference; share road %.2fx)\n",
                            ref.seconds, first / ref.seconds);
                std::printf("read by then      %8.1f MiB  of %.0f MiB\n",
                            double(readBytes) / (1 << 20), double(size) / (1 << 20));
                std::printf("peak RSS          %8.1f MiB  (during the whole upload)\n",
                            double(rssPeakKiB) / 1024);
                std::printf("whole share       %8.2f s\n", total);
                rc = 0;
            } else {
                std::fprintf(stderr,
                             "the share failed (token %d, ffmpeg %d, share %d/%d); see %s\n",
                             !token.empty(), ref.ok, run.ok, ok, folder.c_str());
            }
        }
    }
    if (rc == 0) {
        std::filesystem::remove_all(folder);
    }
    return rc;
}
