#pragma once
// Queries over parsed XML documents: string values and nodes for XPath queries,
// name, uuid and id lookups, ancestor and sibling walks, and the chain of clips
// joined by transitions in an editing-interchange document. Every query passed in
// is escaped first (escapeQueryString); failures give no value, never an exception.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/Node.h"

class OWXMLParser {
  public:
    using Node = platform::xml::Node;

    OWXMLParser() = delete;

    // String values of all matches; none when nothing matches or the query fails.
    static std::optional<std::vector<std::string>> stringValuesForQuery(std::string_view query,
                                                                        const Node& node);
    // String value of the first match; none when nothing matches or the query fails.
    static std::optional<std::string> stringValueForQuery(std::string_view query,
                                                          const Node& inElement);
    // All matches (maybe none); no list, and a log line, when the query fails.
    static std::optional<std::vector<Node>> nodesForQuery(std::string_view query,
                                                          const Node& inElement);
    static Node nodeForQuery(std::string_view query, const Node& inElement);

    // The node's id attribute, percent-unescaped; none when absent or not unescapable.
    static std::optional<std::string> idAttributeForNode(const Node& node);
    // The path of a URL text, percent escapes decoded; none for no text or no URL.
    static std::optional<std::string> filenameFromPathURLString(
        std::optional<std::string_view> urlString);

    // The matches of every query in order, each node once where it first matched.
    static std::vector<Node> node(const Node& node,
                                  const std::vector<std::string>& nodesFromQueries);
    // The nearest ancestor named `parentWithName`; none once an ancestor named in
    // `limits` is met on the way up.
    static Node node(const Node& node, const std::string& parentWithName,
                     const std::vector<std::string>& limits = {});

    // The clip with the transitions and clips joined to it. The range outputs
    // receive the chain's start and end ("-1" while a walk ran out inside a transition).
    static std::vector<Node> affectedNodesForClip(const Node& clip, int64_t* rangeStart = nullptr,
                                                  int64_t* rangeEnd = nullptr);
    // The matches of one query against each node, concatenated, duplicates kept.
    static std::vector<Node> queryNodes(const std::vector<Node>& nodes, std::string_view withXPath);

    static std::optional<std::string> nameForNode(const Node& node,
                                                  bool immediateChildOnly = false);
    static std::optional<std::string> uuidForNode(const Node& node,
                                                  bool immediateChildOnly = false);

    // Character references for code units from 160 and for carriage returns, "&amp;"
    // for a lone "&", other control characters dropped (and logged).
    static std::string escapeQueryString(std::string_view text);
    // The next sibling of the node or of its nearest ancestor that has one.
    static Node nextSiblingForNode(const Node& node);

    // Percent escapes replaced by their bytes; none when an escape is malformed or
    // gives a byte that is not ASCII.
    static std::optional<std::string> percentUnescape(std::string_view text);

  private:
    static std::optional<std::string> firstValue(const Node& node, std::string_view query);
    static std::optional<std::string> unescapedOrRaw(std::optional<std::string> value);
    static std::optional<std::string> childText(const Node& node, std::string_view child,
                                                bool immediateChildOnly);
};
