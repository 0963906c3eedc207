// The request road of the service client: building and queueing calls, reading replies
// that arrive outside the queue, and delivering outcomes on the main thread.
#include "base/RunLoop.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneAPIOperation.h"
#include "client/OWQuorvaneCore.h"
#include "client/OWQuorvaneDeliveryTable.h"
#include "support/OWLog.h"

void OWQuorvane::postURL(const std::string& url, base::Dictionary params,
                         const std::string& context) {
    postURL(url, std::move(params), std::optional<base::Dictionary>(),
            OWQuorvaneRequest::kDefaultMIMEType, std::optional<base::Dictionary>(), context);
}

void OWQuorvane::postURL(const std::string& url, base::Dictionary params,
                         const std::optional<base::Data>& data, const std::string& mimeType,
                         const std::optional<std::string>& filename, const std::string& context) {
    std::optional<base::Dictionary> filesData;
    std::optional<base::Dictionary> filenames;
    if (data && filename) {
        filesData = base::Dictionary{{"file", *data}};
        filenames = base::Dictionary{{"file", *filename}};
    }
    postURL(url, std::move(params), filesData, mimeType, filenames, context);
}

void OWQuorvane::postURL(const std::string& url, base::Dictionary params,
                         const std::optional<base::Dictionary>& filesData,
                         const std::string& mimeType,
                         const std::optional<base::Dictionary>& filenames,
                         const std::string& context, bool overrideAuth) {
    OWQuorvaneRequest request;
    request.url = url;
    request.context = context;
    request.params = std::move(params);
    if (filesData && filenames) {
        request.files = OWQuorvaneRequest::filesFrom(*filesData, *filenames);
    }
    request.mimeType = mimeType.empty() ? OWQuorvaneRequest::kDefaultMIMEType : mimeType;
    request.overrideAuth = overrideAuth;
    postRequest(std::move(request));
}

void OWQuorvane::postRequest(OWQuorvaneRequest request) {
    if (!request.overrideAuth && !isLinked()) {
        return;
    }
    if (request.overrideAuth && opQueue_) {
        opQueue_->setSuspended(false);
    }
    addRequestToQueue(std::move(request));
}

void OWQuorvane::addRequestToQueue(OWQuorvaneRequest request) {
    if (!opQueue_ || isUnloading()) {
        return;
    }
    // Held back until the token controller has a fresh token; calls that override
    // authorization need none.
    if (!request.overrideAuth && core_->tokenHasExpired()) {
        opQueue_->setSuspended(true);
    }
    opQueue_->addOperation(std::make_shared<OWQuorvaneAPIOperation>(core_, std::move(request)));
}

void OWQuorvane::processReturnedData(const base::Data& data, const std::string& context,
                                     int statusCode, const std::string& url) {
    OWQuorvaneRequest request;
    request.url = url;
    request.context = context;
    core_->processReturnedData(data, request, std::nullopt, statusCode);
}

void OWQuorvane::postError(const base::Error& error, const std::string& context) {
    OWQuorvaneRequest request;
    request.context = context;
    core_->postError(error, request, std::nullopt);
}

void OWQuorvane::postSuccessOnMainThread(const base::Value& result, const std::string& context) {
    if (isUnloading()) {
        return;
    }
    auto delegate = this->delegate();
    if (!delegate) {
        OWLog::appendLogAndPrint(
            "Unable to post success notification - no delegate set. Context: %@", context);
        return;
    }
    const auto* reply = result.dictionary();
    const base::Value* name = reply ? reply->find("name") : nullptr;
    if (context == "authenticate" && name && name->string()) {
        if (const auto account = this->account()) {
            account->setUsername(*name->string());
            account->saveSettings();
        }
        core_->center().post(kUpdateSettingsNotification);
    }
    if (auto callback = OWQuorvaneDeliveryTable::successCallback(context)) {
        ((*delegate).*callback)(*this, result);
    }
}

void OWQuorvane::postErrorOnMainThread(const base::Error& error, const std::string& context) {
    if (isUnloading()) {
        return;
    }
    auto delegate = this->delegate();
    if (!delegate) {
        OWLog::appendLogAndPrint(
            "Unable to post failure notification - no delegate set. Context: %@", context);
        return;
    }
    if (auto callback = OWQuorvaneDeliveryTable::failureCallback(context)) {
        ((*delegate).*callback)(*this, error);
    }
}
