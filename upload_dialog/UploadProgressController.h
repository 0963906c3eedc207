#pragma once
// The small window both exporters show while a movie is uploaded: a bar and the time
// left while the file goes up, "Finishing..." while its thumbnail follows, then the
// window closes, a notification says the upload is complete, the movie is deleted and
// the host is told.
//
// Use: create() with the movie's path (its size sizes the bar) builds the window from
// its interface file "UploadProgress", wires it and runs its load step; the host may set
// a thumbnail and a delegate, then calls uploadWithSettings() with the finished settings
// window. Everything runs on the main thread.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/Value.h"
#include "client/OWQuorvaneDelegate.h"
#include "platform/image/RGBAImage.h"
#include "support/OWTimeEstimate.h"

class OWQuorvane;
class QuorvSettingsController;
class QDialog;
namespace Ui {
class UploadProgress;
}

// What the host hears; every callback is optional.
class UploadProgressDelegate {
  public:
    virtual ~UploadProgressDelegate() = default;
    virtual void uploadComplete() {}
    virtual void uploadCancelled() {}
    // The upload failed and its error alert has been answered: the window is gone.
    virtual void uploadFailed() {}
};

class UploadProgressController : public OWQuorvaneDelegate,
                                 public std::enable_shared_from_this<UploadProgressController> {
  public:
    static constexpr const char* kInterfaceName = "UploadProgress";
    static constexpr const char* kUploadingText = "Uploading to Quorvane...";
    static constexpr const char* kFinishingText = "Finishing...";
    static constexpr const char* kCompleteNotificationTitle = "Quorvane Upload Complete";
    static constexpr const char* kMimeType = "video/mp4";
    static constexpr const char* kNotRegisteredText =
        "Quorvane did not confirm the uploaded file: its reply named no file. Please try "
        "again.";

    enum class State { Loaded, Uploading, Finishing, Complete, Cancelled, Failed };

    static std::shared_ptr<UploadProgressController> create(std::string sourceFile);
    ~UploadProgressController() override;
    UploadProgressController(const UploadProgressController&) = delete;
    UploadProgressController& operator=(const UploadProgressController&) = delete;

    // Starts the upload with the choices of a finished settings window; returns at once.
    void uploadWithSettings(const QuorvSettingsController& settings);
    // The cancel button's action.
    void cancel();

    // ---- properties ----
    std::shared_ptr<OWQuorvane> quorv() const { return quorv_; }
    const std::string& sourceFile() const { return sourceFile_; }
    const std::string& title() const { return title_; }
    std::shared_ptr<const platform::image::RGBAImage> thumbnail() const { return thumbnail_; }
    void setThumbnail(std::shared_ptr<const platform::image::RGBAImage> image) {
        thumbnail_ = std::move(image);
    }
    // Not retained: the host keeps itself alive.
    void setDelegate(std::weak_ptr<UploadProgressDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    const OWTimeEstimate& timeEstimate() const { return timeEstimate_; }
    State state() const { return state_; }
    QDialog* window() const;
    // Bytes reported sent so far, and the file's size as read at load.
    uint64_t bytesSent() const { return bytesSent_; }
    uint64_t totalBytes() const { return totalBytes_; }

    // The settings sent with the upload (every value a text).
    static base::Dictionary uploadSettings(const QuorvSettingsController& settings);
    // The start timecode text of the settings' movie.
    static std::string startTimecode(const QuorvSettingsController& settings);

    // ---- client callbacks ----
    void didUploadBytes(OWQuorvane&, int64_t bytes, const base::Dictionary& file) override;
    void fileUploaded(OWQuorvane&, const base::Value& result) override;
    void thumbnailUploadSuccessful(OWQuorvane&, const base::Value& result) override;
    void thumbnailUploadFailedWithError(OWQuorvane&, const base::Error& error) override;
    void uploadFileFailedWithError(OWQuorvane&, const base::Error& error) override;

    // Delivers a user notification with the default sound.
    static void sendNotification(const std::string& title, const std::string& info);
    // Deletes the movie when it exists; a failure is ignored.
    void removeSourceFile() const;
    // Whether a complete upload deletes the movie (it does unless the host says not).
    void setRemovesSourceFile(bool removes) { removesSourceFile_ = removes; }

  private:
    explicit UploadProgressController(std::string sourceFile);
    void buildForm();
    void connectActions();
    void awakeFromNib();
    void complete();
    void orderOut();
    void showProgress();
    void setBarDeterminate(bool determinate);
    // A 64-bit count in the bar's int range: the total maps exactly onto its maximum.
    int barValue(uint64_t bytes) const;

    std::string sourceFile_;
    std::string title_;
    std::shared_ptr<const platform::image::RGBAImage> thumbnail_;
    std::weak_ptr<UploadProgressDelegate> delegate_;
    std::shared_ptr<OWQuorvane> quorv_;
    OWTimeEstimate timeEstimate_;
    State state_ = State::Loaded;
    uint64_t totalBytes_ = 0;
    uint64_t bytesSent_ = 0;
    int barShift_ = 0;
    int shownBarValue_ = -1;
    bool removesSourceFile_ = true;

    std::unique_ptr<QDialog> window_;
    std::unique_ptr<Ui::UploadProgress> ui_;
};
