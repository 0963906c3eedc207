#pragma once
// A request whose body is an HTML form: ordered text fields and ordered file
// fields, sent URL-encoded or as "multipart/form-data". Everything about sending
// is the base request's; this class only fills the body and its "Content-Type".
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "transfer/TXFormBodyWriter.h"
#include "transfer/TXHTTPRequest.h"

class TXFormDataRequest : public TXHTTPRequest {
  public:
    enum PostFormat : int32_t { PostFormatMultipart = 0, PostFormatURLEncoded = 1 };

    static std::shared_ptr<TXFormDataRequest> requestWithURL(const std::optional<base::Url>& url);
    std::shared_ptr<TXHTTPRequest> copy() const override;

    // Percent-escaped in the form's encoding; empty when the text has no form there.
    std::string encodeURL(std::string_view text) const;

    // A field without a name is not added.
    void addPostValue(const base::Value& value, const std::optional<std::string>& key);
    void setPostValue(const base::Value& value, const std::optional<std::string>& key);

    // A path that is no file fails the request (code 6) and adds no field.
    // The file name defaults to the path's last component, the type to the file's.
    void addFile(const std::string& path, const std::string& key);
    void addFile(const std::string& path, const std::optional<std::string>& fileName,
                 const std::optional<std::string>& contentType, const std::string& key);
    void setFile(const std::string& path, const std::string& key);
    void setFile(const std::string& path, const std::optional<std::string>& fileName,
                 const std::optional<std::string>& contentType, const std::string& key);

    // Bytes sent as a file part: file name "file" unless given, and
    // "application/octet-stream" unless a type is given.
    void addData(const base::Data& data, const std::string& key);
    void addData(std::variant<std::string, base::Data> data, const std::string& fileName,
                 const std::optional<std::string>& contentType, const std::string& key);
    void setData(const base::Data& data, const std::string& key);
    void setData(std::variant<std::string, base::Data> data, const std::string& fileName,
                 const std::optional<std::string>& contentType, const std::string& key);

    // None until the first field of that kind is added.
    std::optional<std::vector<TXFormField>> postData() const;
    std::optional<std::vector<TXFormFile>> fileData() const;
    int32_t postFormat() const;
    void setPostFormat(int32_t format);
    TXStringEncoding stringEncoding() const;
    void setStringEncoding(TXStringEncoding encoding);

  protected:
    explicit TXFormDataRequest(const std::optional<base::Url>& url);

    void buildPostBody() override;
    void buildMultipartFormDataPostBody();
    void buildURLEncodedPostBody();
    void copyConfigurationInto(TXHTTPRequest& other) const override;

  private:
    void failEncoding();

    mutable std::mutex formLock_;
    // What a copy takes over.
    struct Settings {
        std::optional<std::vector<TXFormField>> postData;
        std::optional<std::vector<TXFormFile>> fileData;
        int32_t postFormat = PostFormatURLEncoded;
        TXStringEncoding stringEncoding = TXUTF8StringEncoding;
    } form_;
};
