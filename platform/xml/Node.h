#pragma once
// A node of a parsed XML document (document, element, attribute, text, ...). A node
// keeps its document alive, so nodes may outlive the Document they came from.
// One document and its nodes are used by one thread at a time.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _xmlDoc;   // NOLINT(bugprone-reserved-identifier): libxml2's own name
struct _xmlNode;  // NOLINT(bugprone-reserved-identifier)

namespace platform::xml {

class Node;

// The outcome of an XPath evaluation: the matches in document order, or an error.
struct XPathResult {
    std::vector<Node> nodes;
    std::optional<std::string> error;  // set when the expression could not be evaluated
    bool ok() const { return !error.has_value(); }
};

class Node {
  public:
    enum class Kind {
        None,
        Document,
        Element,
        Attribute,
        Text,
        Comment,
        ProcessingInstruction,
        Other
    };

    // XPath work stops after this many steps, so a query cannot hang its caller.
    static constexpr unsigned long kMaxXPathOperations = 20'000'000;
    // Longer queries are refused before they reach the evaluator.
    static constexpr size_t kMaxQueryLength = size_t{64} * 1024;

    Node() = default;  // no node
    Node(std::shared_ptr<_xmlDoc> doc, _xmlNode* node) : doc_(std::move(doc)), node_(node) {}

    explicit operator bool() const { return node_ != nullptr; }
    Kind kind() const;
    // Element or attribute name with its prefix ("fcpxml", "xlink:href"); "" otherwise.
    std::string name() const;
    // The XPath string value: an element's concatenated text, an attribute's value,
    // a text node's text. None for no node.
    std::optional<std::string> stringValue() const;

    Node parent() const;
    // Siblings skip text nodes made only of white space (the indentation of a
    // document is not content) and the document type declaration. Attributes have
    // no siblings.
    Node previousSibling() const;
    Node nextSibling() const;
    std::vector<Node> children() const;
    // The root element of this node's document.
    Node rootElement() const;
    // The node and its descendants as XML text.
    std::string xmlString() const;

    // Evaluates an XPath expression with this node as the context node. Step unions
    // inside paths ("a/(b | c)/d") are accepted (see XPathRewriter).
    XPathResult evaluate(std::string_view expression) const;

    // Same node of the same document.
    friend bool operator==(const Node& a, const Node& b) { return a.node_ == b.node_; }

  private:
    std::shared_ptr<_xmlDoc> doc_;
    _xmlNode* node_ = nullptr;
};

}  // namespace platform::xml
