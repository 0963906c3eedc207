#include "transfer/TXS3ReplyParser.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <cstring>
#include <limits>

namespace {

struct ParseState {
    const TXS3ReplyParser::ElementEnded* handler = nullptr;
    xmlParserCtxtPtr context = nullptr;
    std::vector<std::string> stack;
    std::string text;
    bool stopped = false;
    std::optional<std::string> error;

    void stop() {
        stopped = true;
        xmlStopParser(context);
    }
    void fail(std::string why) {
        if (!error) {
            error = std::move(why);
        }
        xmlStopParser(context);
    }
};

ParseState& stateOf(void* context) {
    auto* parser = static_cast<xmlParserCtxtPtr>(context);
    return *static_cast<ParseState*>(parser->_private);
}

std::string qualifiedName(const xmlChar* localName, const xmlChar* prefix) {
    std::string name = reinterpret_cast<const char*>(localName);
    if (prefix != nullptr) {
        name = std::string(reinterpret_cast<const char*>(prefix)) + ":" + name;
    }
    return name;
}

void startElement(void* ctx, const xmlChar* localName, const xmlChar* prefix, const xmlChar*, int,
                  const xmlChar**, int, int, const xmlChar**) {
    ParseState& s = stateOf(ctx);
    if (s.stack.size() >= TXS3ReplyParser::kMaxDepth) {
        s.fail("The reply is nested too deeply");
        return;
    }
    s.text.clear();
    s.stack.push_back(qualifiedName(localName, prefix));
}

void endElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    ParseState& s = stateOf(ctx);
    if (s.stack.empty() || s.stopped || s.error) {
        return;
    }
    std::string name = std::move(s.stack.back());
    s.stack.pop_back();
    if (!(*s.handler)(name, s.text, s.stack)) {
        s.stop();
    }
}

void characters(void* ctx, const xmlChar* chars, int length) {
    ParseState& s = stateOf(ctx);
    s.text.append(reinterpret_cast<const char*>(chars), static_cast<size_t>(length));
}

void structuredError(void* ctx, xmlErrorPtr error) {
    if (ctx == nullptr || error == nullptr || error->level < XML_ERR_ERROR) {
        return;
    }
    ParseState& s = stateOf(ctx);
    std::string message = error->message != nullptr ? error->message : "XML error";
    while (!message.empty() && message.back() == '\n') {
        message.pop_back();
    }
    s.fail(message + " (line " + std::to_string(error->line) + ")");
}

// Entity lookups answer nothing, so neither internal nor external entities expand.
xmlEntityPtr noEntity(void*, const xmlChar*) {
    return nullptr;
}

}  // namespace

TXS3ReplyParser::Outcome TXS3ReplyParser::parse(std::string_view bytes,
                                                const ElementEnded& handler) {
    Outcome outcome;
    if (bytes.size() > kMaxReplyBytes ||
        bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
        outcome.error = "The reply is too large";
        return outcome;
    }
    xmlInitParser();
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = startElement;
    sax.endElementNs = endElement;
    sax.characters = characters;
    sax.cdataBlock = characters;
    sax.getEntity = noEntity;
    sax.serror = structuredError;

    ParseState state;
    state.handler = &handler;
    xmlParserCtxtPtr context = xmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr);
    if (context == nullptr) {
        outcome.error = "Unable to create an XML parser";
        return outcome;
    }
    context->_private = &state;
    state.context = context;
    xmlCtxtUseOptions(context, XML_PARSE_NONET);
    xmlParseChunk(context, bytes.data(), static_cast<int>(bytes.size()), 1);
    if (!state.stopped && !state.error && context->wellFormed == 0) {
        state.error = "The reply is not well-formed XML";
    }
    // A document type declaration leaves a document behind even without tree handlers.
    if (context->myDoc != nullptr) {
        xmlFreeDoc(context->myDoc);
        context->myDoc = nullptr;
    }
    xmlFreeParserCtxt(context);
    outcome.stopped = state.stopped && !state.error;
    outcome.error = state.error;
    return outcome;
}
