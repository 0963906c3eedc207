#include "platform/xml/Node.h"

#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include "platform/xml/XPathRewriter.h"
#include "platform/xml/XmlErrorCapture.h"

namespace platform::xml {
namespace {

std::string takeXmlString(xmlChar* text) {
    if (text == nullptr) {
        return {};
    }
    std::string result(reinterpret_cast<const char*>(text));
    xmlFree(text);
    return result;
}

bool isBlankText(const xmlNode* n) {
    if (n->type != XML_TEXT_NODE || n->content == nullptr) {
        return false;
    }
    for (const xmlChar* p = n->content; *p != 0; ++p) {
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') {
            return false;
        }
    }
    return true;
}

bool isSkippedSibling(const xmlNode* n) {
    return n->type == XML_DTD_NODE || isBlankText(n);
}

bool hasSiblings(const xmlNode* n) {
    return n->type != XML_ATTRIBUTE_NODE && n->type != XML_DOCUMENT_NODE &&
           n->type != XML_HTML_DOCUMENT_NODE && n->type != XML_NAMESPACE_DECL;
}

std::string qualifiedName(const xmlNode* n) {
    std::string name = n->name != nullptr ? reinterpret_cast<const char*>(n->name) : "";
    if (n->ns != nullptr && n->ns->prefix != nullptr) {
        return std::string(reinterpret_cast<const char*>(n->ns->prefix)) + ":" + name;
    }
    return name;
}

}  // namespace

Node::Kind Node::kind() const {
    if (node_ == nullptr) {
        return Kind::None;
    }
    switch (node_->type) {
        case XML_DOCUMENT_NODE:
        case XML_HTML_DOCUMENT_NODE:
            return Kind::Document;
        case XML_ELEMENT_NODE:
            return Kind::Element;
        case XML_ATTRIBUTE_NODE:
            return Kind::Attribute;
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            return Kind::Text;
        case XML_COMMENT_NODE:
            return Kind::Comment;
        case XML_PI_NODE:
            return Kind::ProcessingInstruction;
        default:
            return Kind::Other;
    }
}

std::string Node::name() const {
    switch (kind()) {
        case Kind::Element:
        case Kind::Attribute:
            return qualifiedName(node_);
        case Kind::ProcessingInstruction:
            return node_->name != nullptr ? reinterpret_cast<const char*>(node_->name) : "";
        default:
            return {};
    }
}

std::optional<std::string> Node::stringValue() const {
    if (node_ == nullptr) {
        return std::nullopt;
    }
    xmlChar* content = xmlNodeGetContent(node_);
    if (content == nullptr) {
        return std::string();
    }
    return takeXmlString(content);
}

Node Node::parent() const {
    if (node_ == nullptr || node_->parent == nullptr) {
        return {};
    }
    return Node(doc_, node_->parent);
}

Node Node::previousSibling() const {
    if (node_ == nullptr || !hasSiblings(node_)) {
        return {};
    }
    xmlNode* n = node_->prev;
    while (n != nullptr && isSkippedSibling(n)) {
        n = n->prev;
    }
    return n != nullptr ? Node(doc_, n) : Node();
}

Node Node::nextSibling() const {
    if (node_ == nullptr || !hasSiblings(node_)) {
        return {};
    }
    xmlNode* n = node_->next;
    while (n != nullptr && isSkippedSibling(n)) {
        n = n->next;
    }
    return n != nullptr ? Node(doc_, n) : Node();
}

std::vector<Node> Node::children() const {
    std::vector<Node> result;
    if (node_ == nullptr || node_->type == XML_ATTRIBUTE_NODE) {
        return result;
    }
    for (xmlNode* n = node_->children; n != nullptr; n = n->next) {
        if (!isSkippedSibling(n)) {
            result.emplace_back(doc_, n);
        }
    }
    return result;
}

Node Node::rootElement() const {
    if (doc_ == nullptr) {
        return {};
    }
    xmlNode* root = xmlDocGetRootElement(doc_.get());
    return root != nullptr ? Node(doc_, root) : Node();
}

std::string Node::xmlString() const {
    if (node_ == nullptr) {
        return {};
    }
    if (kind() == Kind::Document) {
        xmlChar* text = nullptr;
        int size = 0;
        xmlDocDumpMemory(doc_.get(), &text, &size);
        return takeXmlString(text);
    }
    xmlBuffer* buffer = xmlBufferCreate();
    if (buffer == nullptr) {
        return {};
    }
    xmlNodeDump(buffer, doc_.get(), node_, 0, 0);
    std::string result(reinterpret_cast<const char*>(xmlBufferContent(buffer)),
                       static_cast<size_t>(xmlBufferLength(buffer)));
    xmlBufferFree(buffer);
    return result;
}

XPathResult Node::evaluate(std::string_view expression) const {
    XPathResult result;
    if (node_ == nullptr) {
        result.error = "No context node";
        return result;
    }
    const std::string query = XPathRewriter::rewrite(expression);
    if (query.size() > kMaxQueryLength || query.find('\0') != std::string::npos) {
        result.error = "Invalid expression";
        return result;
    }
    XmlErrorCapture::initialiseLibrary();
    XmlErrorCapture capture;
    std::unique_ptr<xmlXPathContext, void (*)(xmlXPathContextPtr)> context(
        xmlXPathNewContext(doc_.get()), xmlXPathFreeContext);
    if (!context) {
        result.error = "Out of memory";
        return result;
    }
    context->node = node_;
    context->error = &XmlErrorCapture::structuredHandler;
    context->userData = &capture;
    context->opLimit = kMaxXPathOperations;
    std::unique_ptr<xmlXPathObject, void (*)(xmlXPathObjectPtr)> object(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(query.c_str()), context.get()),
        xmlXPathFreeObject);
    if (!object) {
        result.error =
            capture.firstMessage().empty() ? "Invalid expression" : capture.firstMessage();
        return result;
    }
    if (object->type != XPATH_NODESET) {
        result.error = "The expression does not select nodes";
        return result;
    }
    const xmlNodeSet* set = object->nodesetval;
    const int count = set != nullptr ? set->nodeNr : 0;
    result.nodes.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        xmlNode* n = set->nodeTab[i];
        // Namespace nodes are copies owned by the result; they are not part of the tree.
        if (n != nullptr && n->type != XML_NAMESPACE_DECL) {
            result.nodes.emplace_back(doc_, n);
        }
    }
    return result;
}

}  // namespace platform::xml
