// The storage stand-in's starter lives with the transfer tests.
#include "tests/upload_dialog/ProgressWindowSupport.h"
#include "tests/transfer/S3StandIn.cpp"  // NOLINT(bugprone-suspicious-include)

#include <cstdlib>
#include <fstream>

#include "transfer/TXS3Request.h"

namespace progresstest {

void BarRecord::watch(QProgressBar& bar) {
    QObject::connect(&bar, &QProgressBar::valueChanged, &bar, [this, &bar](int value) {
        if (value > largest) {
            largest = value;
            maximumAtLargest = bar.maximum();
        }
    });
}

void ProgressWindowTest::SetUp() {
    SettingsWindowTest::SetUp();
    ::setenv("QUORVANE_STORAGE_BUCKET", testsupport::S3StandIn::kBucket, 1);
    ::setenv("QUORVANE_STORAGE_ACCESS_KEY", testsupport::S3StandIn::kAccessKey, 1);
    ::setenv("QUORVANE_STORAGE_SECRET_KEY", testsupport::S3StandIn::kSecretKey, 1);
}

void ProgressWindowTest::TearDown() {
    SettingsWindowTest::TearDown();
    TXS3Request::setSharedAccessKey("");
    TXS3Request::setSharedSecretAccessKey("");
    for (const char* name :
         {"QUORVANE_STORAGE_BUCKET", "QUORVANE_STORAGE_ACCESS_KEY", "QUORVANE_STORAGE_SECRET_KEY",
          "QUORVANE_STORAGE_HOST", "QUORVANE_STORAGE_SCHEME"}) {
        ::unsetenv(name);
    }
}

std::string ProgressWindowTest::writeMovie(const std::string& name, size_t size) const {
    const std::string path = dir.file(name);
    std::ofstream out(path, std::ios::binary);
    std::string block(65536, '\0');
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>((i * 31 + i / 251) & 0xFF);
    }
    for (size_t done = 0; done < size; done += block.size()) {
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
    }
    return path;
}

std::shared_ptr<QuorvSettingsController> ProgressWindowTest::settingsRecord(
    const std::string& title) {
    auto record = QuorvSettingsController::create();
    record->setProjectID(1);
    record->setDeptID(11);
    record->setFolder("/Cuts");
    record->setTitle(title);
    record->setDesc("first cut");
    record->setEmails({"a@example.com", "", "b@example.com"});
    record->setAllowComments(true);
    record->setAlertUsers(true);
    record->setWorkflowID(21);
    record->setStatus(2);
    record->setLinkRequirePassword(true);
    record->setLinkPassword("k3y9zq1m");
    record->setLinkExpires(7);
    record->setFps(29.97f);
    record->setDropFrame(true);
    record->setTimecodeZeroPoint(107892);  // 01:00:00;00 at 29.97 drop-frame
    record->setDuration(4321);
    return record;
}

std::shared_ptr<UploadProgressController> ProgressWindowTest::openWindow(const std::string& movie) {
    auto window = UploadProgressController::create(movie);
    window->setDelegate(host);
    return window;
}

}  // namespace progresstest
