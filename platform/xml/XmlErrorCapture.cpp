#include "platform/xml/XmlErrorCapture.h"

#include <libxml/parser.h>
#include <libxml/xmlIO.h>

#include <mutex>

namespace platform::xml {
namespace {

xmlParserInputPtr refuseExternalResource(const char* /*url*/, const char* /*id*/,
                                         xmlParserCtxtPtr /*context*/) {
    return nullptr;
}

}  // namespace

void XmlErrorCapture::initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalResource);
    });
}

XmlErrorCapture::XmlErrorCapture()
    : savedStructured_(xmlStructuredError),
      savedStructuredContext_(xmlStructuredErrorContext),
      savedGeneric_(xmlGenericError),
      savedGenericContext_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(this, &XmlErrorCapture::structuredHandler);
    xmlSetGenericErrorFunc(this, &XmlErrorCapture::genericHandler);
}

XmlErrorCapture::~XmlErrorCapture() {
    xmlSetStructuredErrorFunc(savedStructuredContext_, savedStructured_);
    xmlSetGenericErrorFunc(savedGenericContext_, savedGeneric_);
}

void XmlErrorCapture::structuredHandler(void* self, xmlErrorPtr error) {
    if (self != nullptr && error != nullptr) {
        static_cast<XmlErrorCapture*>(self)->keep(error->message);
    }
}

void XmlErrorCapture::genericHandler(void* self, const char* message, ...) {
    // Generic messages arrive in pieces through a format; the structured ones
    // carry the useful text, so these are only kept when nothing else was.
    if (self != nullptr) {
        static_cast<XmlErrorCapture*>(self)->keep(message);
    }
}

void XmlErrorCapture::keep(const char* message) {
    if (!first_.empty() || message == nullptr) {
        return;
    }
    std::string text(message);
    const auto last = text.find_last_not_of(" \t\r\n");
    text.erase(last == std::string::npos ? 0 : last + 1);
    const auto firstChar = text.find_first_not_of(" \t\r\n");
    first_ = firstChar == std::string::npos ? std::string() : text.substr(firstChar);
}

}  // namespace platform::xml
