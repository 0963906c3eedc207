// XPath expressions: the step-union rewrite and evaluation against a small FCPXML
// document. The rewrite must leave expressions without a step union alone and must
// be stable on its own output.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/xml/Document.h"
#include "platform/xml/XPathRewriter.h"

namespace {

constexpr std::string_view kDocument =
    "<fcpxml><resources><format id='r1' frameDuration='1001/30000s'/></resources>"
    "<library><event><project><sequence format='r1' tcFormat='DF'><spine>"
    "<clip offset='0s' start='0s' duration='5s'><marker start='1s' value='a'/>"
    "<title><marker start='2s' value='b'/></title></clip>"
    "<gap offset='5s'><marker start='0s' value='c'/></gap>"
    "</spine></sequence></project></event></library></fcpxml>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using platform::xml::XPathRewriter;
    static const auto parsed = platform::xml::Document::parse(kDocument);
    if (size > 4096) {
        return 0;
    }
    const std::string_view query(reinterpret_cast<const char*>(data), size);
    const std::string once = XPathRewriter::rewrite(query);
    if (query.find('(') == std::string_view::npos && once != query) {
        std::abort();
    }
    if (once.size() > XPathRewriter::kMaxRewrittenLength && once != query) {
        std::abort();
    }
    if (XPathRewriter::rewrite(once) != once) {
        std::abort();
    }
    auto result = parsed.document->documentNode().evaluate(query);
    for (const auto& node : result.nodes) {
        (void)node.name();
        (void)node.stringValue();
        (void)node.nextSibling();
    }
    return 0;
}
