#pragma once
// The receiver of one upload's transfer request: it turns the engine's progress,
// finish and failure reports (main thread) into the client's upload road, and owns
// the zip archive made for the upload, which goes when the transfer ends or, at the
// latest, with this object.
#include <cstdint>
#include <memory>
#include <string>

#include "transfer/TXHTTPRequest.h"
#include "transfer/TXHTTPRequestDelegate.h"
#include "transfer/TXProgressDelegate.h"

class OWQuorvane;

class OWQuorvaneUploadTransfer : public TXHTTPRequestDelegate, public TXProgressDelegate {
  public:
    // Hosted: to the storage bucket, then registered. Self-hosted: a form post to the
    // server, whose reply is the outcome. Form: a form upload outside the upload list
    // (no settings, no progress), whose reply is the outcome.
    enum class Road { Storage, Server, Form };

    OWQuorvaneUploadTransfer(std::weak_ptr<OWQuorvane> client, Road road, std::string archivePath);
    ~OWQuorvaneUploadTransfer() override;
    OWQuorvaneUploadTransfer(const OWQuorvaneUploadTransfer&) = delete;
    OWQuorvaneUploadTransfer& operator=(const OWQuorvaneUploadTransfer&) = delete;

    Road road() const { return road_; }
    // Makes this object the request's delegate and progress receiver.
    void attach(TXHTTPRequest& request);

    void uploadFinished(TXHTTPRequest& request);
    void uploadFailed(TXHTTPRequest& request);
    void didSendBytes(TXHTTPRequest& request, int64_t bytes) override;

  private:
    void finishStorageUpload(OWQuorvane& client);
    void finishServerUpload(OWQuorvane& client, TXHTTPRequest& request);
    static void deliverReply(OWQuorvane& client, TXHTTPRequest& request);
    void removeArchive();
    // The end of the transfer: the archive goes and the client lets go of this object.
    void end();

    std::weak_ptr<OWQuorvane> client_;
    Road road_;
    std::string archivePath_;
};
