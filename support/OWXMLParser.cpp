#include "support/OWXMLParser.h"

#include <algorithm>

#include "base/Hex.h"
#include "base/Url.h"
#include "support/LeadingNumber.h"
#include "support/OWLog.h"

namespace {

using Node = platform::xml::Node;
using owtext::leadingInteger;

constexpr uint32_t kReplacementCharacter = 0xFFFD;

// The text as UTF-16 code units; bytes that are not UTF-8 count as U+FFFD.
std::vector<uint16_t> utf16Units(std::string_view s) {
    std::vector<uint16_t> units;
    units.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t length = b < 0x80         ? 1
                        : (b >> 5) == 6  ? 2
                        : (b >> 4) == 14 ? 3
                        : (b >> 3) == 30 ? 4
                                         : 0;
        uint32_t cp = length == 1   ? b
                      : length == 2 ? (b & 0x1F)
                      : length == 3 ? (b & 0x0F)
                                    : (b & 0x07);
        bool valid = length > 0 && i + length <= s.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            valid = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr uint32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        valid =
            valid && cp >= kMinimum[length] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!valid) {
            units.push_back(static_cast<uint16_t>(kReplacementCharacter));
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            units.push_back(static_cast<uint16_t>(0xD800 + (cp >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(cp));
        }
        i += length;
    }
    return units;
}

void appendUTF8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isURLCharacter(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::string_view("-._~:/?#[]@!$&'()*+,;=%").find(c) != std::string_view::npos;
}

bool isMinusOne(const std::optional<std::string>& text) {
    return text && *text == "-1";
}

std::optional<std::string> startText(const Node& n) {
    return OWXMLParser::stringValueForQuery("./start[1]/text()", n);
}

std::optional<std::string> endText(const Node& n) {
    return OWXMLParser::stringValueForQuery("./end[1]/text()", n);
}

int64_t rangeValue(const std::optional<std::string>& text) {
    return text ? leadingInteger(*text) : 0;
}

}  // namespace

std::optional<std::vector<std::string>> OWXMLParser::stringValuesForQuery(std::string_view query,
                                                                          const Node& node) {
    auto result = node.evaluate(escapeQueryString(query));
    if (!result.ok() || result.nodes.empty()) {
        return std::nullopt;
    }
    std::vector<std::string> values;
    for (const Node& n : result.nodes) {
        if (auto value = n.stringValue()) {
            values.push_back(std::move(*value));
        }
    }
    return values;
}

std::optional<std::string> OWXMLParser::stringValueForQuery(std::string_view query,
                                                            const Node& inElement) {
    return firstValue(inElement, escapeQueryString(query));
}

std::optional<std::vector<Node>> OWXMLParser::nodesForQuery(std::string_view query,
                                                            const Node& inElement) {
    auto result = inElement.evaluate(escapeQueryString(query));
    if (!result.ok()) {
        OWLog::appendLog("XML parsing error: %@", *result.error);
        return std::nullopt;
    }
    return std::move(result.nodes);
}

OWXMLParser::Node OWXMLParser::nodeForQuery(std::string_view query, const Node& inElement) {
    auto nodes = nodesForQuery(query, inElement);
    return nodes && !nodes->empty() ? nodes->front() : Node();
}

std::optional<std::string> OWXMLParser::idAttributeForNode(const Node& node) {
    auto value = stringValueForQuery("./@id[1]", node);
    return value ? percentUnescape(*value) : std::nullopt;
}

std::optional<std::string> OWXMLParser::filenameFromPathURLString(
    std::optional<std::string_view> urlString) {
    if (!urlString || urlString->empty()) {
        return std::nullopt;
    }
    std::string_view s = *urlString;
    for (size_t i = 0; i < s.size(); ++i) {
        if (!isURLCharacter(s[i]) ||
            (s[i] == '%' &&
             (i + 2 >= s.size() || base::hexValue(s[i + 1]) < 0 || base::hexValue(s[i + 2]) < 0))) {
            return std::nullopt;
        }
    }
    const size_t colon = s.find(':');
    const size_t delimiter = s.find_first_of("/?#");
    if (colon != std::string_view::npos && colon > 0 && colon < delimiter &&
        std::isalpha(static_cast<unsigned char>(s[0]))) {
        s.remove_prefix(colon + 1);
    }
    if (s.substr(0, 2) == "//") {
        s.remove_prefix(std::min(s.size(), s.find_first_of("/?#", 2)));
    }
    s = s.substr(0, s.find_first_of("?#"));
    // Every escape was checked above, and cutting at "?" or "#" splits none.
    std::string path = base::Url::percentDecode(s).value_or(std::string());
    if (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::vector<OWXMLParser::Node> OWXMLParser::node(const Node& node,
                                                 const std::vector<std::string>& nodesFromQueries) {
    std::vector<Node> all;
    for (const std::string& query : nodesFromQueries) {
        auto matches = nodesForQuery(query, node);
        for (const Node& n : matches.value_or(std::vector<Node>{})) {
            if (std::find(all.begin(), all.end(), n) == all.end()) {
                all.push_back(n);
            }
        }
    }
    return all;
}

OWXMLParser::Node OWXMLParser::node(const Node& node, const std::string& parentWithName,
                                    const std::vector<std::string>& limits) {
    for (Node n = node.parent(); n; n = n.parent()) {
        if (n.kind() == Node::Kind::Document) {
            break;  // the document has no name
        }
        const std::string name = n.name();
        if (std::find(limits.begin(), limits.end(), name) != limits.end()) {
            return {};
        }
        if (name == parentWithName) {
            return n;
        }
    }
    return {};
}

std::vector<OWXMLParser::Node> OWXMLParser::affectedNodesForClip(const Node& clip,
                                                                 int64_t* rangeStart,
                                                                 int64_t* rangeEnd) {
    std::optional<std::string> start = startText(clip);
    std::optional<std::string> end = endText(clip);
    std::vector<Node> chain{clip};
    for (Node cur = clip; isMinusOne(start);) {
        Node p = cur.previousSibling();
        if (!p) {
            break;
        }
        chain.insert(chain.begin(), p);
        if (!(p.name() == "transitionitem" && isMinusOne(endText(p.previousSibling())))) {
            start = startText(p);
        }
        cur = p;
    }
    for (Node cur = clip; isMinusOne(end);) {
        Node n = cur.nextSibling();
        if (!n) {
            break;
        }
        chain.push_back(n);
        if (!(n.name() == "transitionitem" && isMinusOne(startText(n.nextSibling())))) {
            end = endText(n);
        }
        cur = n;
    }
    // A walk that ran out of siblings leaves "-1" behind, which reads as -1.
    if (rangeStart != nullptr) {
        *rangeStart = rangeValue(start);
    }
    if (rangeEnd != nullptr) {
        *rangeEnd = rangeValue(end);
    }
    return chain;
}

std::vector<OWXMLParser::Node> OWXMLParser::queryNodes(const std::vector<Node>& nodes,
                                                       std::string_view withXPath) {
    std::vector<Node> all;
    if (nodes.empty()) {
        return all;
    }
    const std::string query = escapeQueryString(withXPath);
    for (const Node& n : nodes) {
        auto result = n.evaluate(query);
        all.insert(all.end(), result.nodes.begin(), result.nodes.end());
    }
    return all;
}

std::optional<std::string> OWXMLParser::nameForNode(const Node& node, bool immediateChildOnly) {
    if (auto name = childText(node, "name", immediateChildOnly)) {
        return name;
    }
    if (immediateChildOnly) {
        return std::nullopt;
    }
    return unescapedOrRaw(firstValue(node, "./@id[1]"));
}

std::optional<std::string> OWXMLParser::uuidForNode(const Node& node, bool immediateChildOnly) {
    return childText(node, "uuid", immediateChildOnly);
}

std::string OWXMLParser::escapeQueryString(std::string_view text) {
    const std::vector<uint16_t> u = utf16Units(text);
    std::string out;
    out.reserve(text.size());
    static constexpr uint16_t kAmp[] = {'&', 'a', 'm', 'p', ';'};
    for (size_t i = 0; i < u.size(); ++i) {
        const uint16_t c = u[i];
        if (c >= 160) {
            out += "&#" + std::to_string(c) + ";";
        } else if (c == '&') {
            const bool entity =
                u.size() - i >= 5 &&
                std::equal(kAmp, kAmp + 5, u.begin() + static_cast<std::ptrdiff_t>(i));
            out += entity ? "&" : "&amp;";
        } else if (c == 13) {
            out += "&#13;";
        } else if (c <= 19) {
            std::string character;
            appendUTF8(character, c);
            OWLog::appendLog("Stripped character %@", character);
        } else {
            appendUTF8(out, c);
        }
    }
    return out;
}

OWXMLParser::Node OWXMLParser::nextSiblingForNode(const Node& node) {
    for (Node n = node; n; n = n.parent()) {
        if (Node next = n.nextSibling()) {
            return next;
        }
    }
    return {};
}

std::optional<std::string> OWXMLParser::percentUnescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int hi = base::hexValue(text[i + 1]);
        const int lo = base::hexValue(text[i + 2]);
        if (hi < 0 || lo < 0 || hi >= 8) {
            return std::nullopt;  // malformed, or a byte that is not ASCII
        }
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

std::optional<std::string> OWXMLParser::firstValue(const Node& node, std::string_view query) {
    auto result = node.evaluate(query);
    if (!result.ok() || result.nodes.empty()) {
        return std::nullopt;
    }
    return result.nodes.front().stringValue();
}

std::optional<std::string> OWXMLParser::unescapedOrRaw(std::optional<std::string> value) {
    if (!value) {
        return std::nullopt;
    }
    auto unescaped = percentUnescape(*value);
    return unescaped ? unescaped : value;
}

std::optional<std::string> OWXMLParser::childText(const Node& node, std::string_view child,
                                                  bool immediateChildOnly) {
    const std::string name(child);
    if (auto value = firstValue(node, "./" + name + "[1]/text()")) {
        return unescapedOrRaw(value);
    }
    if (immediateChildOnly) {
        return std::nullopt;
    }
    return unescapedOrRaw(firstValue(node, ".//" + name + "[1]/text()"));
}
