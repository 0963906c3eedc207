// Pictures of the progress window for a person to review, in <build>/screenshots/:
// uploading part-way with a long file name, finishing (busy bar), and at scale 2 the
// same window is rendered by the look run with QT_SCALE_FACTOR=2.
#include <QLabel>
#include <QProgressBar>
#include <fstream>

#include "tests/upload_dialog/ProgressWindowSupport.h"

namespace {

class ProgressWindowLook : public progresstest::ProgressWindowTest {};

TEST_F(ProgressWindowLook, UploadingAndFinishing) {
    QV_PROGRESS_PEERS();
    const std::string name(200, 'x');
    const std::string movie = writeMovie(name.substr(0, 180) + ".mov", 10 * 1024 * 1024);
    auto record = settingsRecord(name);
    // Nothing is sent: the reports below are the client's. The window's failure for the
    // upload that never started comes from the main queue, after the window has ended.
    record->setProjectID(0);
    auto window = openWindow(movie);
    window->uploadWithSettings(*record);
    window->didUploadBytes(*window->quorv(), 4 * 1024 * 1024, {});
    EXPECT_FALSE(saveScreenshot(*window->window(), "progress-uploading").empty());

    // No thumbnail: completes.
    window->fileUploaded(*window->quorv(), base::Value(base::Dictionary{{"id", 31}}));
    EXPECT_FALSE(window->window()->isVisible());

    auto finishing = openWindow(writeMovie("Short.mov", 1024));
    finishing->setThumbnail(std::make_shared<const platform::image::RGBAImage>(
        std::move(*platform::image::RGBAImage::blank(120, 68))));
    finishing->uploadWithSettings(*record);
    finishing->didUploadBytes(*finishing->quorv(), 1024, {});
    finishing->fileUploaded(*finishing->quorv(), base::Value(base::Dictionary{{"id", 31}}));
    EXPECT_EQ(part<QLabel>(*finishing, "statusLabel")->text(), "Finishing...");
    EXPECT_FALSE(saveScreenshot(*finishing->window(), "progress-finishing").empty());
    finishing->cancel();
}

}  // namespace
