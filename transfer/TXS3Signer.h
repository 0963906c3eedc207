#pragma once
// Signature version 2 of S3 requests: the request date, the key path escaping,
// the canonical x-amz header text, the string to sign and its HMAC-SHA1.
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TXS3Signer {
  public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    // "Tue, 8 Dec 2026 08:47:23 +0000": English names, UTC, day without a leading zero.
    static std::string requestDateString(std::chrono::system_clock::time_point when);
    // "2026-12-08T08:47:23.000Z" (only zero milliseconds read); none otherwise.
    static std::optional<std::chrono::system_clock::time_point> parseResponseDate(
        std::string_view text);

    // "/" for no key; otherwise the key escaped in UTF-8 (letters, digits, "-_./"
    // kept) with a leading "/".
    static std::string stringByURLEncodingForS3Path(const std::optional<std::string>& key);

    // One "name:value\n" line per header, names lower-cased and sorted bytewise.
    static std::string canonicalHeaders(const Headers& amzHeaders);
    // method, Content-MD5 (always empty), content type, date, headers, resource.
    static std::string stringToSign(std::string_view method, std::string_view contentType,
                                    std::string_view date, std::string_view canonicalHeaders,
                                    std::string_view resource);
    // Base64 of HMAC-SHA1 of the text keyed with the secret (28 characters).
    static std::string signature(std::string_view secretAccessKey, std::string_view stringToSign);
    static std::string authorization(std::string_view accessKey, std::string_view signature);
};
