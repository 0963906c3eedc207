// S3 replies: the event parser, the error-document check and the initiate reply.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "transfer/TXS3MultipartXml.h"
#include "transfer/TXS3ReplyParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TXS3ReplyParser::parse(bytes, [](const std::string& name, const std::string&,
                                     const std::vector<std::string>&) { return name != "Code"; });
    TXS3MultipartXml::errorMessage(bytes);
    auto reply = TXS3MultipartXml::parseInitiateReply(bytes);
    if (reply.uploadID) {
        TXS3MultipartXml::isValidUploadID(*reply.uploadID);
    }
    return 0;
}
