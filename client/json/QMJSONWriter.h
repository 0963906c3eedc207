#pragma once
// The writer behind QMJSON's writing operations: one instance per write.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/Error.h"
#include "base/Value.h"

namespace qmjson {

class Writer {
  public:
    Writer(bool humanReadable, bool sortKeys, uint64_t hardLimit)
        : humanReadable_(humanReadable), sortKeys_(sortKeys), hardLimit_(hardLimit) {}

    // The JSON text of `value`; a scalar at the top only when `allowScalar`. On failure
    // the error is in `error()`.
    std::optional<std::string> write(const base::Value& value, bool allowScalar);
    const base::Error& error() const { return *error_; }

  private:
    size_t estimatedSize(const base::Value& value, uint64_t depth) const;
    bool appendValue(const base::Value& value);
    bool appendArray(const base::Array& array);
    bool appendDictionary(const base::Dictionary& dictionary);
    bool appendMember(const base::Dictionary::Entry& member, bool first);
    // False when the text is not valid UTF-8; the caller reports it.
    bool appendString(const base::String& text);
    bool appendString(std::string_view text);
    void appendEscaped(unsigned char byte);
    void indent();
    bool enterContainer(const char* className);
    bool unsupported(const char* className);
    bool fail(base::Error error);

    const bool humanReadable_;
    const bool sortKeys_;
    const uint64_t hardLimit_;
    uint64_t depth_ = 0;
    std::string out_;
    std::optional<base::Error> error_;
};

}  // namespace qmjson
