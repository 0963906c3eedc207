#include "transfer/TXS3MultipartXml.h"

#include "platform/xml/Document.h"
#include "transfer/TXS3ReplyParser.h"

namespace {

std::string localName(const std::string& name) {
    auto colon = name.rfind(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

}  // namespace

TXS3MultipartXml::InitiateReply TXS3MultipartXml::parseInitiateReply(std::string_view bytes) {
    InitiateReply reply;
    auto parsed = platform::xml::Document::parse(bytes);
    if (!parsed.document) {
        reply.problem = "Error loading XML response: " + parsed.error;
        return reply;
    }
    reply.documentText = parsed.document->xmlString();
    platform::xml::Node root = parsed.document->rootElement();
    if (!root || localName(root.name()) != "InitiateMultipartUploadResult") {
        reply.problem = "Unable to find upload ID";
        return reply;
    }
    for (const auto& child : root.children()) {
        if (child.kind() == platform::xml::Node::Kind::Element &&
            localName(child.name()) == "UploadId") {
            reply.uploadID = child.stringValue().value_or("");
            return reply;
        }
    }
    reply.problem = "Unable to find upload ID";
    return reply;
}

std::optional<std::string> TXS3MultipartXml::errorMessage(std::string_view bytes) {
    if (bytes.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> code;
    std::optional<std::string> message;
    bool isError = false;
    auto outcome =
        TXS3ReplyParser::parse(bytes, [&](const std::string& name, const std::string& text,
                                          const std::vector<std::string>& open) {
            if (open.empty()) {
                isError = localName(name) == "Error";
            } else if (open.size() == 1 && localName(name) == "Code") {
                code = text;
            } else if (open.size() == 1 && localName(name) == "Message") {
                message = text;
            }
            return true;
        });
    if (outcome.error || !isError) {
        return std::nullopt;
    }
    return message ? message : code ? code : std::optional<std::string>("");
}

std::optional<std::string> TXS3MultipartXml::completeBody(
    const std::map<uint64_t, std::string>& etags, uint64_t count) {
    std::string body = "<CompleteMultipartUpload>";
    for (uint64_t n = 1; n <= count; ++n) {
        auto it = etags.find(n);
        if (it == etags.end()) {
            return std::nullopt;
        }
        body += "<Part><PartNumber>" + std::to_string(n) + "</PartNumber><ETag>" +
                escaped(it->second) + "</ETag></Part>";
    }
    body += "</CompleteMultipartUpload>";
    return body;
}

bool TXS3MultipartXml::isValidUploadID(std::string_view uploadID) {
    if (uploadID.empty()) {
        return false;
    }
    for (char c : uploadID) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '_' || c == '~' || c == '-';
        if (!ok) {
            return false;
        }
    }
    return true;
}
