#pragma once
// A parsed XML document. Parsing never touches the network, never loads external
// entities or DTDs, and refuses input above a size cap.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/xml/Node.h"

namespace platform::xml {

class Document {
  public:
    static constexpr size_t kMaxDocumentBytes = size_t{64} * 1024 * 1024;

    struct ParseResult;
    static ParseResult parse(std::string_view bytes);
    // Reads a local file (at most kMaxDocumentBytes) and parses it.
    static ParseResult parseFile(const std::string& path);

    Node documentNode() const;
    Node rootElement() const;
    std::string xmlString() const;

  private:
    explicit Document(std::shared_ptr<_xmlDoc> doc) : doc_(std::move(doc)) {}
    std::shared_ptr<_xmlDoc> doc_;
};

struct Document::ParseResult {
    std::optional<Document> document;
    std::string error;  // why there is no document
};

}  // namespace platform::xml
