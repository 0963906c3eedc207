#pragma once
// The XML of a multipart upload: reading the upload id from the initiate reply,
// recognising an error reply, writing the complete request's body, and the
// upload ids that may go into a URL.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class TXS3MultipartXml {
  public:
    struct InitiateReply {
        std::optional<std::string> uploadID;
        // Set when there is no upload id: what the console is told.
        std::optional<std::string> problem;
        // The document as text, for the console; empty when it did not parse.
        std::string documentText;
    };
    // Elements are matched by local name, so a reply in S3's namespace reads the same
    // as a plain one.
    static InitiateReply parseInitiateReply(std::string_view bytes);

    // The "Message" (or else the "Code") of a reply whose root is "Error"; none for
    // any other reply, an empty one included.
    static std::optional<std::string> errorMessage(std::string_view bytes);

    // "<CompleteMultipartUpload><Part><PartNumber>1</PartNumber><ETag>...</ETag></Part>
    // ...</CompleteMultipartUpload>", parts 1 to count in order, with "&", "<" and ">"
    // of the ETags escaped. None when a part has no ETag.
    static std::optional<std::string> completeBody(const std::map<uint64_t, std::string>& etags,
                                                   uint64_t count);

    // Upload ids go into URLs and signed resources unescaped: only [A-Za-z0-9._~-].
    static bool isValidUploadID(std::string_view uploadID);
};
