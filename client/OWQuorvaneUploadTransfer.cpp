#include "client/OWQuorvaneUploadTransfer.h"

#include <unistd.h>

#include "client/OWQuorvane.h"
#include "client/OWQuorvaneRedaction.h"
#include "support/OWLog.h"

namespace {

constexpr const char* kContext = "files/upload";

}  // namespace

OWQuorvaneUploadTransfer::OWQuorvaneUploadTransfer(std::weak_ptr<OWQuorvane> client, Road road,
                                                   std::string archivePath)
    : client_(std::move(client)), road_(road), archivePath_(std::move(archivePath)) {}

OWQuorvaneUploadTransfer::~OWQuorvaneUploadTransfer() {
    removeArchive();
}

void OWQuorvaneUploadTransfer::attach(TXHTTPRequest& request) {
    request.setDidFinishSelector(TXSelector(&OWQuorvaneUploadTransfer::uploadFinished));
    request.setDidFailSelector(TXSelector(&OWQuorvaneUploadTransfer::uploadFailed));
}

void OWQuorvaneUploadTransfer::didSendBytes(TXHTTPRequest&, int64_t bytes) {
    if (road_ == Road::Form) {
        return;  // the list's head is some other upload
    }
    if (auto client = client_.lock(); client && !client->isUnloading()) {
        client->reportUploadedBytes(bytes);
    }
}

void OWQuorvaneUploadTransfer::uploadFinished(TXHTTPRequest& request) {
    auto client = client_.lock();
    if (!client || client->isUnloading()) {
        end();
        return;
    }
    if (road_ == Road::Storage) {
        finishStorageUpload(*client);
    } else if (road_ == Road::Server) {
        finishServerUpload(*client, request);
    } else {
        deliverReply(*client, request);
    }
    end();
}

// The file is in the bucket; the service learns of it through the registration.
void OWQuorvaneUploadTransfer::finishStorageUpload(OWQuorvane& client) {
    auto settings = client.takeUploadSettingsHead();
    if (!settings) {
        OWLog::appendLog("Upload finished for unknown file");
        return;
    }
    OWLog::appendLogAndPrint("Upload finished");
    if (!client.isLinked()) {
        // Told to the delegate as well, so a window waiting for the outcome is not left
        // waiting for ever.
        const std::string message = "Unable to finish upload - not linked to a Quorvane account";
        OWLog::appendLogAndPrint("%@", message);
        client.postError(
            base::Error("OWQuorvaneErrorDomain", 0, base::Dictionary{{"error", message}}),
            kContext);
        return;
    }
    OWLog::appendLog("params: %@", OWQuorvaneRedaction::value(base::Value(*settings)));
    client.postURL(client.apiURLString() + "/files/upload", std::move(*settings), kContext);
}

// The server's reply is read once, whole, now that the request has ended, so a reply
// split over many pieces, or none at all, still makes exactly one outcome.
void OWQuorvaneUploadTransfer::finishServerUpload(OWQuorvane& client, TXHTTPRequest& request) {
    if (!client.takeUploadSettingsHead()) {
        OWLog::appendLog("Upload finished for unknown file");
    } else {
        OWLog::appendLogAndPrint("Upload finished");
    }
    deliverReply(client, request);
}

void OWQuorvaneUploadTransfer::deliverReply(OWQuorvane& client, TXHTTPRequest& request) {
    const base::Data reply = request.responseData().value_or(request.rawResponseData());
    const auto url = request.url();
    client.processReturnedData(reply, kContext, request.responseStatusCode(),
                               url ? url->absoluteString() : std::string());
}

void OWQuorvaneUploadTransfer::uploadFailed(TXHTTPRequest& request) {
    if (auto client = client_.lock(); client && !client->isUnloading()) {
        if (road_ != Road::Form) {
            client->takeUploadSettingsHead();
        }
        const auto error = request.error();
        const std::string text = error ? error->localizedDescription() : "Upload failed";
        client->postError(
            base::Error("OWQuorvaneErrorDomain", 0, base::Dictionary{{"error", text}}), kContext);
        OWLog::appendLogAndPrint("Upload failed");
    }
    end();
}

void OWQuorvaneUploadTransfer::removeArchive() {
    if (!archivePath_.empty()) {
        ::unlink(archivePath_.c_str());
        archivePath_.clear();
    }
}

void OWQuorvaneUploadTransfer::end() {
    removeArchive();
    if (auto client = client_.lock()) {
        client->releaseTransfer(this);  // may destroy this object: nothing after it
    }
}
