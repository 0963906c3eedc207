// The upload road of the service client: a file, or a folder or package packed into a
// zip archive, goes to the storage bucket and is then registered with the service, or
// is posted as a form to a self-hosted server.
#include <sys/stat.h>

#include <charconv>
#include <cmath>

#include "base/Path.h"
#include "base/RunLoop.h"
#include "base/UserDefaults.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneCore.h"
#include "client/OWQuorvaneUploadTransfer.h"
#include "platform/image/JpegCodec.h"
#include "support/OWFileManager.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"
#include "transfer/OWTXS3MultipartRequest.h"
#include "transfer/TXFormDataRequest.h"
#include "transfer/TXS3Configuration.h"

struct OWQuorvane::UploadRequestFields {
    std::string path;
    int64_t projectID = 0;
    std::optional<std::string> parentFolder;
    int64_t departmentID = -1;
    std::optional<std::string> title;
    std::optional<std::string> description;
    float frameRate = 0;
    std::optional<std::string> timecodeStart;
    uint64_t duration = 0;
    bool autoRevise = false;
    std::vector<std::string> linkEmails;
    bool allowComments = true;
    std::optional<std::string> appID;
    bool notifyUsers = true;
    base::Dictionary settings;
};

namespace {

// "%0.<digits>f" without the locale's decimal mark.
std::string fixed(double value, int digits) {
    char buffer[64];
    const auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, digits);
    return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A pipe, device or socket: its size says nothing of what reading it gives (a device
// reads as empty or endless, a pipe may block), so it is never uploaded.
bool isSpecialFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const auto& item : items) {
        text += (text.empty() ? "" : separator) + item;
    }
    return text;
}

}  // namespace

// ---- the overload ladder ----

void OWQuorvane::uploadFile(const std::string& path, int64_t projectID,
                            const std::optional<std::string>& parentFolder,
                            const std::optional<std::string>& title) {
    uploadFile(path, projectID, parentFolder, -1, title, std::nullopt, 0.0f, std::nullopt, 0);
}

bool OWQuorvane::uploadFile(const std::string& path, int64_t projectID,
                            const std::optional<std::string>& parentFolder, int64_t departmentID,
                            const std::optional<std::string>& title,
                            const std::optional<std::string>& description, float frameRate,
                            const std::optional<std::string>& timecodeStart, uint64_t duration,
                            bool autoRevise, const std::vector<std::string>& linkEmails,
                            bool allowComments, const std::optional<std::string>& appID,
                            bool notifyUsers, const base::Dictionary& settings) {
    return startUpload({path, projectID, parentFolder, departmentID, title, description, frameRate,
                 timecodeStart, duration, autoRevise, linkEmails, allowComments, appID, notifyUsers,
                 settings});
}

void OWQuorvane::uploadFile(const std::string& path, const std::string& appID,
                            const std::optional<std::string>& parentFolder,
                            const std::optional<std::string>& title) {
    uploadFile(path, -1, parentFolder, -1, title, std::string(), 0.0f, std::nullopt, 0, true, {},
               false, appID, true, {});
}

void OWQuorvane::uploadFile(const std::string& path, const std::string& appID,
                            const std::optional<std::string>& parentFolder,
                            const std::optional<std::string>& title, const base::Date& date) {
    uploadFile(path, -1, parentFolder, -1, title, std::string(), 0.0f, std::nullopt, 0, true, {},
               false, appID, false, base::Dictionary{{"date", fixed(date.secondsSince1970, 0)}});
}

// ---- the full operation ----

bool OWQuorvane::startUpload(const UploadRequestFields& f) {
    if (!isLinked() || f.path.empty() || f.projectID == 0) {
        return false;
    }
    if (isSpecialFile(f.path)) {
        // Told as any failed upload is, once the caller has returned.
        std::weak_ptr<OWQuorvane> weak = weak_from_this();
        const std::string text = "The item at path '" + f.path + "' is not a file";
        base::MainQueue::post([weak, text] {
            if (auto self = weak.lock()) {
                self->postError(
                    base::Error("OWQuorvaneErrorDomain", 0, base::Dictionary{{"error", text}}),
                    "files/upload");
            }
        });
        return true;
    }
    // A folder (a package is one too) goes as a zip archive that keeps the folder's
    // own name at its top.
    std::string file = f.path;
    std::string archive;
    if (isFolder(f.path)) {
        const std::string zip = OWLocalPaths::tempFile() + ".zip";
        OWLog::appendLog("Temporary zip path: %@", zip);
        if (OWFileManager::compressFile(f.path, zip, true)) {
            file = archive = zip;
        }
    }
    const std::string key =
        "uploads/" + randomString(32) + "-" + sanitizeFilename(base::lastPathComponent(file));

    base::Dictionary s;
    s.set("source", key);
    s.set("parent", f.parentFolder.value_or("/"));
    s.set("department", f.departmentID);
    s.set("project_id", f.projectID);
    s.set("title", f.title.value_or(base::lastPathComponent(f.path)));
    s.set("mime-type", fileMIMEType(file));
    s.set("auto_revise", f.autoRevise ? "1" : "0");
    s.set("notifications", f.notifyUsers ? "1" : "0");
    if (f.description) {
        s.set("description", *f.description);
    }
    if (f.frameRate > 0) {
        s.set("frameRate", fixed(f.frameRate, 2));
    }
    if (f.timecodeStart) {
        s.set("timecodeStart", *f.timecodeStart);
    }
    if (f.duration != 0) {
        s.set("duration", std::to_string(f.duration));
    }
    if (f.appID) {
        s.set("app_id", *f.appID);
    }
    if (!archive.empty()) {
        s.set("resetsize", true);
    }
    for (const auto& [name, value] : f.settings) {
        s.set(name, value);
    }
    // The key names the object actually stored, and the token travels only in the
    // request bodies, never in settings the delegate sees.
    s.set("source", key);
    s.remove(OWQuorvaneRequest::kAccessTokenField);
    if (!f.linkEmails.empty()) {
        s.set("link_emails", joined(f.linkEmails, ","));
        s.set("link_comments", f.allowComments ? 1 : 0);
    }
    if (const auto source = sourceAppID()) {
        s.set("source_id", *source);
    }

    const auto account = this->account();
    const bool selfHosted = account && !account->quorvServerURLString().empty();
    auto transfer = std::make_shared<OWQuorvaneUploadTransfer>(
        weak_from_this(),
        selfHosted ? OWQuorvaneUploadTransfer::Road::Server
                   : OWQuorvaneUploadTransfer::Road::Storage,
        archive);
    if (selfHosted) {
        sendToServer(file, std::move(s), std::move(transfer));
    } else {
        sendToStorage(file, std::move(s), std::move(transfer));
    }
    return true;
}

void OWQuorvane::sendToStorage(const std::string& file, base::Dictionary settings,
                               std::shared_ptr<OWQuorvaneUploadTransfer> transfer) {
    const auto config = TXS3Configuration::current();
    const std::string key = *settings.find("source")->string();
    const bool segmented = base::UserDefaults::standard()->boolValue(kSegmentedUploadsDefault);
    std::shared_ptr<TXS3ObjectRequest> request;
    if (segmented) {
        request = OWTXS3MultipartRequest::PUTRequestForFile(file, config.bucket, key);
    } else {
        request = TXS3ObjectRequest::PUTRequestForFile(file, config.bucket, key);
    }
    if (TXS3Request::sharedAccessKey().empty()) {
        request->setAccessKey(config.accessKey);
        request->setSecretAccessKey(config.secretAccessKey);
    }
    request->setDelegate(transfer);
    request->setUploadProgressDelegate(transfer);
    transfer->attach(*request);
    request->setTimeOutSeconds(kStorageTimeOutSeconds);
    request->setNumberOfTimesToRetryOnTimeout(0);
    // A single PUT streams its body from the file already; a multipart upload reads
    // each part from the file when it sends it, and has no body of its own.

    settings.set("file", file);
    keepTransfer(std::move(transfer));
    appendUploadSettings(std::move(settings));
    addOperationToQueue(request);
}

void OWQuorvane::sendToServer(const std::string& file, base::Dictionary settings,
                              std::shared_ptr<OWQuorvaneUploadTransfer> transfer) {
    auto request =
        makeFormUpload(apiURLString() + "/files/upload", settings, {{"file", file}}, transfer);
    settings.set("file", file);
    keepTransfer(std::move(transfer));
    appendUploadSettings(std::move(settings));
    addOperationToQueue(request);
}

std::shared_ptr<base::Operation> OWQuorvane::makeFormUpload(
    const std::string& url, const base::Dictionary& fields, const FormFiles& files,
    const std::shared_ptr<OWQuorvaneUploadTransfer>& transfer) {
    auto request = TXFormDataRequest::requestWithURL(base::Url::parse(url));
    for (const auto& [name, value] : fields) {
        request->addPostValue(value, name);
    }
    if (const auto account = this->account()) {
        if (const auto token = account->oauthToken()) {
            request->addPostValue(*token, std::string(OWQuorvaneRequest::kAccessTokenField));
        }
    }
    // Added before anyone listens: a file that cannot be sent fails the form while it
    // is built, and that failure is told below when the form's turn in the queue comes.
    for (const auto& [field, path] : files) {
        request->addFile(path, field);
    }
    if (request->error()) {
        return std::make_shared<base::BlockOperation>([request, transfer] {
            base::MainQueue::post([request, transfer] { transfer->uploadFailed(*request); });
        });
    }
    request->setDelegate(transfer);
    request->setUploadProgressDelegate(transfer);
    transfer->attach(*request);
    request->setTimeOutSeconds(kServerTimeOutSeconds);
    request->setNumberOfTimesToRetryOnTimeout(kServerRetries);
    request->setShouldStreamPostDataFromDisk(true);
    return request;
}

void OWQuorvane::postURL(const std::string& url, base::Dictionary params, const std::string& file,
                         const std::string& mimeType, const std::optional<std::string>& filename,
                         const std::string& context) {
    postURL(url, std::move(params), FormFiles{{"file", file}}, mimeType, filename, context);
}

void OWQuorvane::postURL(const std::string& url, base::Dictionary params, const FormFiles& files,
                         const std::string& /*mimeType*/,
                         const std::optional<std::string>& /*filename*/,
                         const std::string& /*context*/) {
    if (!isLinked()) {
        return;
    }
    auto transfer = std::make_shared<OWQuorvaneUploadTransfer>(
        weak_from_this(), OWQuorvaneUploadTransfer::Road::Form, std::string());
    auto request = makeFormUpload(url, params, files, transfer);
    keepTransfer(std::move(transfer));
    addOperationToQueue(request);
}

void OWQuorvane::keepTransfer(std::shared_ptr<OWQuorvaneUploadTransfer> transfer) {
    std::lock_guard lock(transfersMutex_);
    transfers_.push_back(std::move(transfer));
}

void OWQuorvane::releaseTransfer(const OWQuorvaneUploadTransfer* transfer) {
    std::shared_ptr<OWQuorvaneUploadTransfer> last;  // let go outside the lock
    std::lock_guard lock(transfersMutex_);
    for (auto it = transfers_.begin(); it != transfers_.end(); ++it) {
        if (it->get() == transfer) {
            last = std::move(*it);
            transfers_.erase(it);
            break;
        }
    }
}

// ---- thumbnails ----

void OWQuorvane::uploadThumbnailImage(const platform::image::RGBAImage& image, int64_t fileID) {
    if (!isLinked()) {
        return;
    }
    const auto jpeg = image.width() == static_cast<int>(kThumbnailWidth)
                          ? platform::image::encodeJPEG(image, kThumbnailQuality)
                          : resizeImage(image, kThumbnailWidth, 0,
                                        platform::image::ImageFileType::JPEG, kThumbnailQuality);
    if (!jpeg) {
        OWLog::appendLog("Unable to make a thumbnail of %@ by %@ pixels", image.width(),
                         image.height());
        return;
    }
    uploadThumbnailImage(*jpeg, fileID);
}
