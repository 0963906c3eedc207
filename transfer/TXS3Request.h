#pragma once
// A REST request to the storage service signed with S3 signature version 2: it adds
// the request date, the x-amz headers and the "Authorization" header when the
// engine builds its headers, and reads S3's error replies when it ends.
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "transfer/TXHTTPRequest.h"
#include "transfer/TXS3Signer.h"

inline constexpr const char* TXS3StorageClassStandard = "STANDARD";
inline constexpr const char* TXS3StorageClassReducedRedundancy = "REDUCED_REDUNDANCY";
inline constexpr const char* TXS3AccessPolicyPrivate = "private";
inline constexpr const char* TXS3AccessPolicyPublicRead = "public-read";
inline constexpr const char* TXS3AccessPolicyPublicReadWrite = "public-read-write";
inline constexpr const char* TXS3AccessPolicyAuthenticatedRead = "authenticated-read";
inline constexpr const char* TXS3AccessPolicyBucketOwnerRead = "bucket-owner-read";
inline constexpr const char* TXS3AccessPolicyBucketOwnerFullControl = "bucket-owner-full-control";
inline constexpr const char* TXS3RequestSchemeHTTP = "http";
inline constexpr const char* TXS3RequestSchemeHTTPS = "https";

class TXS3Request : public TXHTTPRequest {
  public:
    static std::shared_ptr<TXS3Request> requestWithURL(const std::optional<base::Url>& url);
    std::shared_ptr<TXHTTPRequest> copy() const override;
    std::shared_ptr<TXHTTPRequest> HEADRequest() override;
    void main() override;

    void setDate(std::chrono::system_clock::time_point date);
    // The x-amz headers to send and sign, in the order they are added.
    virtual TXS3Signer::Headers S3Headers() const;
    virtual std::string canonicalizedResource() const;
    virtual std::string stringToSignForHeaders(const std::string& canonicalHeaders,
                                               const std::string& resource);
    // Sets the URL from the request's fields; nothing here.
    virtual void buildURL() {}

    std::string accessKey() const;
    void setAccessKey(const std::string& key);
    std::string secretAccessKey() const;
    void setSecretAccessKey(const std::string& key);
    std::string requestScheme() const;
    void setRequestScheme(const std::string& scheme);
    std::string dateString() const;
    void setDateString(const std::string& date);
    std::string accessPolicy() const;
    void setAccessPolicy(const std::string& policy);

    // Keys of every request that has none of its own; guarded, since clients set
    // them while requests on other threads read them.
    static std::string sharedAccessKey();
    static void setSharedAccessKey(const std::string& key);
    static std::string sharedSecretAccessKey();
    static void setSharedSecretAccessKey(const std::string& key);
    static std::string cloudfrontURL();
    static void setCloudfrontURL(const std::string& host);
    // cloudfrontURL() when set, otherwise the configured storage endpoint.
    static std::string S3Host();
    static std::string stringByURLEncodingForS3Path(const std::optional<std::string>& key) {
        return TXS3Signer::stringByURLEncodingForS3Path(key);
    }

  protected:
    explicit TXS3Request(const std::optional<base::Url>& url);

    void buildRequestHeaders() override;
    void requestFinished() override;
    // Reads an XML reply; false when the request failed or is being resent.
    bool parseResponseXML();
    void copyConfigurationInto(TXHTTPRequest& other) const override;
    // Builds the URL when there is none yet.
    void ensureURL();

  private:
    // Handles the end of one reply element; false to stop reading.
    bool replyElementEnded(const std::string& name, const std::string& text);

    mutable std::mutex s3Lock_;
    // What a copy takes over.
    struct Settings {
        std::string accessKey, secretAccessKey, requestScheme, accessPolicy;
    } s3_;
    std::string dateString_;
};
