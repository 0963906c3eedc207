// XML documents and the query helpers over them. The first line of the input is a
// query, the rest the document.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/QuietLog.h"
#include "platform/xml/Document.h"
#include "support/OWXMLParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::quietLog();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string_view query =
        newline == std::string_view::npos ? std::string_view() : input.substr(0, newline);
    const std::string_view text =
        newline == std::string_view::npos ? input : input.substr(newline + 1);
    (void)OWXMLParser::escapeQueryString(query);
    (void)OWXMLParser::filenameFromPathURLString(query);
    (void)OWXMLParser::percentUnescape(query);

    auto parsed = platform::xml::Document::parse(text);
    if (!parsed.document) {
        return 0;
    }
    const OWXMLParser::Node root = parsed.document->rootElement();
    (void)OWXMLParser::stringValuesForQuery(query.empty() ? "//*" : query, root);
    auto nodes = OWXMLParser::nodesForQuery(query.empty() ? "//*" : query, root);
    size_t visited = 0;
    for (const auto& node : nodes.value_or(std::vector<OWXMLParser::Node>{})) {
        if (++visited > 64) {
            break;
        }
        (void)OWXMLParser::nameForNode(node);
        (void)OWXMLParser::uuidForNode(node, true);
        (void)OWXMLParser::idAttributeForNode(node);
        int64_t start = 0;
        int64_t end = 0;
        (void)OWXMLParser::affectedNodesForClip(node, &start, &end);
        (void)OWXMLParser::node(node, std::string("clip"), {"spine"});
        (void)OWXMLParser::nextSiblingForNode(node);
    }
    // Walk the whole tree in document order through the sibling helper.
    size_t steps = 0;
    for (OWXMLParser::Node n = root.children().empty() ? root : root.children().front();
         n && steps < 10000; ++steps) {
        auto children = n.children();
        n = children.empty() ? OWXMLParser::nextSiblingForNode(n) : children.front();
    }
    return 0;
}
