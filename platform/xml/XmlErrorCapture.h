#pragma once
// libxml2 reports problems through per-thread handlers that print to stderr by
// default. While one of these is alive on a thread, messages of that thread are
// kept instead of printed, and the first one can be read.
#include <libxml/xmlerror.h>

#include <string>

namespace platform::xml {

class XmlErrorCapture {
  public:
    XmlErrorCapture();
    ~XmlErrorCapture();
    XmlErrorCapture(const XmlErrorCapture&) = delete;
    XmlErrorCapture& operator=(const XmlErrorCapture&) = delete;

    // The first message reported, trimmed; empty when none was.
    const std::string& firstMessage() const { return first_; }

    // For libxml2 contexts that take a handler of their own (XPath).
    static void structuredHandler(void* self, xmlErrorPtr error);

    // Once per process: initialises libxml2 and refuses every external entity,
    // DTD or other resource a document might ask libxml2 to load.
    static void initialiseLibrary();

  private:
    static void genericHandler(void* self, const char* message, ...);
    void keep(const char* message);

    std::string first_;
    xmlStructuredErrorFunc savedStructured_;
    void* savedStructuredContext_;
    xmlGenericErrorFunc savedGeneric_;
    void* savedGenericContext_;
};

}  // namespace platform::xml
