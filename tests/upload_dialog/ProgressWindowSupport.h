#pragma once
// The progress window against the stand-ins: the settings window's stand-in service
// with a linked account, the botocore-checked storage stand-in, a settings record filled
// as an exporter fills it, and a host that records what the window tells it.
#include <QDialog>
#include <QProgressBar>
#include <memory>
#include <string>
#include <vector>

#include "tests/transfer/S3StandIn.h"
#include "tests/upload_dialog/SettingsWindowSupport.h"
#include "upload_dialog/UploadProgressController.h"

namespace progresstest {

class RecordingHost : public UploadProgressDelegate {
  public:
    void uploadComplete() override { calls.push_back("uploadComplete"); }
    void uploadCancelled() override { calls.push_back("uploadCancelled"); }
    void uploadFailed() override { calls.push_back("uploadFailed"); }
    std::vector<std::string> calls;
};

// What the bar showed: the largest value with the maximum it had then.
struct BarRecord {
    int largest = 0;
    int maximumAtLargest = -1;
    void watch(QProgressBar& bar);
};

class ProgressWindowTest : public settingstest::SettingsWindowTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // `size` bytes of a known pattern in the test's folder.
    std::string writeMovie(const std::string& name, size_t size) const;
    // A settings record as the exporters fill it (project 1, folder "/Cuts", ...).
    std::shared_ptr<QuorvSettingsController> settingsRecord(const std::string& title);
    // A progress window for `movie` with the recording host.
    std::shared_ptr<UploadProgressController> openWindow(const std::string& movie);

    template <class T>
    static T* part(const UploadProgressController& window, const char* name) {
        return window.window()->findChild<T*>(name);
    }

    testsupport::S3StandIn storage;
    std::shared_ptr<RecordingHost> host = std::make_shared<RecordingHost>();
};

// Skips (or in CI fails) when the stand-ins cannot run.
#define QV_PROGRESS_PEERS()                                     \
    do {                                                        \
        QV_SETTINGS_SERVICE();                                  \
        if (testsupport::S3StandIn::interpreter().empty()) {    \
            if (testsupport::Peer::isCi()) {                    \
                FAIL() << "python3 with botocore is missing";   \
            }                                                   \
            GTEST_SKIP() << "python3 with botocore is missing"; \
        }                                                       \
        ASSERT_TRUE(storage.start()) << storage.failure();      \
        link();                                                 \
    } while (0)

}  // namespace progresstest
