#include "transfer/TXFormDataRequest.h"

#include <sys/stat.h>

#include <algorithm>

#include "base/Format.h"
#include "base/Path.h"

namespace {

template <class Entry>
void removeKey(std::optional<std::vector<Entry>>& list, const std::string& key) {
    if (list) {
        std::erase_if(*list, [&](const Entry& e) { return e.key == key; });
    }
}

}  // namespace

TXFormDataRequest::TXFormDataRequest(const std::optional<base::Url>& url) : TXHTTPRequest(url) {
    setRequestMethod("POST");
}

std::shared_ptr<TXFormDataRequest> TXFormDataRequest::requestWithURL(
    const std::optional<base::Url>& url) {
    return std::shared_ptr<TXFormDataRequest>(new TXFormDataRequest(url));
}

std::shared_ptr<TXHTTPRequest> TXFormDataRequest::copy() const {
    return configuredCopy(requestWithURL(url()));
}

void TXFormDataRequest::copyConfigurationInto(TXHTTPRequest& other) const {
    TXHTTPRequest::copyConfigurationInto(other);
    copySettingsInto(formLock_, form_, other, &TXFormDataRequest::formLock_,
                     &TXFormDataRequest::form_);
}

std::string TXFormDataRequest::encodeURL(std::string_view text) const {
    return TXFormBodyWriter::encodeURL(text, stringEncoding());
}

// ---- fields -----------------------------------------------------------------

void TXFormDataRequest::addPostValue(const base::Value& value,
                                     const std::optional<std::string>& key) {
    if (!key) {
        return;
    }
    std::lock_guard guard(formLock_);
    if (!form_.postData) {
        form_.postData.emplace();
    }
    form_.postData->push_back({*key, value.describe()});
}

void TXFormDataRequest::setPostValue(const base::Value& value,
                                     const std::optional<std::string>& key) {
    if (key) {
        std::lock_guard guard(formLock_);
        removeKey(form_.postData, *key);
    }
    addPostValue(value, key);
}

void TXFormDataRequest::addFile(const std::string& path, const std::string& key) {
    addFile(path, std::nullopt, std::nullopt, key);
}

void TXFormDataRequest::addFile(const std::string& path, const std::optional<std::string>& fileName,
                                const std::optional<std::string>& contentType,
                                const std::string& key) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        failWithError(
            TXMakeError(TXErrorCode::BuildingRequest, base::format("No file exists at %@", path)));
        return;
    }
    std::string type =
        contentType.value_or(mimeTypeForFileAtPath(path).value_or("application/octet-stream"));
    addData(path, fileName.value_or(base::lastPathComponent(path)), type, key);
}

void TXFormDataRequest::setFile(const std::string& path, const std::string& key) {
    setFile(path, std::nullopt, std::nullopt, key);
}

void TXFormDataRequest::setFile(const std::string& path, const std::optional<std::string>& fileName,
                                const std::optional<std::string>& contentType,
                                const std::string& key) {
    {
        std::lock_guard guard(formLock_);
        removeKey(form_.fileData, key);
    }
    addFile(path, fileName, contentType, key);
}

void TXFormDataRequest::addData(const base::Data& data, const std::string& key) {
    addData(data, "file", std::nullopt, key);
}

void TXFormDataRequest::addData(std::variant<std::string, base::Data> data,
                                const std::string& fileName,
                                const std::optional<std::string>& contentType,
                                const std::string& key) {
    std::lock_guard guard(formLock_);
    if (!form_.fileData) {
        form_.fileData.emplace();
    }
    form_.fileData->push_back(
        {key, fileName, contentType.value_or("application/octet-stream"), std::move(data)});
}

void TXFormDataRequest::setData(const base::Data& data, const std::string& key) {
    setData(data, "file", std::nullopt, key);
}

void TXFormDataRequest::setData(std::variant<std::string, base::Data> data,
                                const std::string& fileName,
                                const std::optional<std::string>& contentType,
                                const std::string& key) {
    {
        std::lock_guard guard(formLock_);
        removeKey(form_.fileData, key);
    }
    addData(std::move(data), fileName, contentType, key);
}

// ---- properties -------------------------------------------------------------

std::optional<std::vector<TXFormField>> TXFormDataRequest::postData() const {
    std::lock_guard guard(formLock_);
    return form_.postData;
}

std::optional<std::vector<TXFormFile>> TXFormDataRequest::fileData() const {
    std::lock_guard guard(formLock_);
    return form_.fileData;
}

int32_t TXFormDataRequest::postFormat() const {
    std::lock_guard guard(formLock_);
    return form_.postFormat;
}

void TXFormDataRequest::setPostFormat(int32_t format) {
    std::lock_guard guard(formLock_);
    form_.postFormat = format;
}

TXStringEncoding TXFormDataRequest::stringEncoding() const {
    std::lock_guard guard(formLock_);
    return form_.stringEncoding;
}

void TXFormDataRequest::setStringEncoding(TXStringEncoding encoding) {
    std::lock_guard guard(formLock_);
    form_.stringEncoding = encoding;
}

// ---- the body ---------------------------------------------------------------

void TXFormDataRequest::buildPostBody() {
    if (haveBuiltPostBody()) {
        return;
    }
    auto fields = postData();
    auto files = fileData();
    if (!fields && !files) {
        TXHTTPRequest::buildPostBody();
        return;
    }
    if (files && !files->empty()) {
        setShouldStreamPostDataFromDisk(true);
    }
    if (postFormat() == PostFormatURLEncoded) {
        buildURLEncodedPostBody();
    } else {
        buildMultipartFormDataPostBody();
    }
    if (error()) {
        return;
    }
    TXHTTPRequest::buildPostBody();
}

void TXFormDataRequest::buildURLEncodedPostBody() {
    auto files = fileData();
    if (files && !files->empty()) {
        setPostFormat(PostFormatMultipart);
        buildMultipartFormDataPostBody();
        return;
    }
    TXStringEncoding encoding = stringEncoding();
    auto charset = TXFormBodyWriter::charsetName(encoding);
    auto body =
        TXFormBodyWriter::urlEncodedBody(postData().value_or(std::vector<TXFormField>{}), encoding);
    if (!charset || !body) {
        failEncoding();
        return;
    }
    addRequestHeader("Content-Type", "application/x-www-form-urlencoded; charset=" + *charset);
    appendPostData(*body);
}

void TXFormDataRequest::buildMultipartFormDataPostBody() {
    TXStringEncoding encoding = stringEncoding();
    auto charset = TXFormBodyWriter::charsetName(encoding);
    if (!charset) {
        failEncoding();
        return;
    }
    std::string boundary = TXFormBodyWriter::newBoundary();
    addRequestHeader("Content-Type",
                     "multipart/form-data; charset=" + *charset + "; boundary=" + boundary);
    TXFormBodyWriter::Sink sink{
        [this](std::string_view bytes) {
            appendPostData(bytes);
            return !error();
        },
        // The base request fails itself when the file cannot be opened or read.
        [this](const std::string& path) { return appendPostDataFromFile(path); },
    };
    bool encoded = TXFormBodyWriter::writeMultipart(postData().value_or(std::vector<TXFormField>{}),
                                                    fileData().value_or(std::vector<TXFormFile>{}),
                                                    boundary, encoding, sink);
    if (!encoded && !error()) {
        failEncoding();
    }
}

// Dropping a text that the encoding cannot hold would send a different form from
// the one the caller built, so the request fails instead.
void TXFormDataRequest::failEncoding() {
    failWithError(
        TXMakeError(TXErrorCode::BuildingRequest, "Unable to write the form in its text encoding"));
}
