#pragma once
// The parser behind QMJSON's reading operations: one instance per parse. Containers are
// kept on an explicit stack rather than the call stack, so hostile nesting costs heap,
// not stack, and fails cleanly at the depth limit. Strings without escapes and numbers
// are taken from the text in one copy; numbers stay text until a caller asks for them.
// The document is built in one arena (see base/ValueArena.h).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Error.h"
#include "base/Value.h"
#include "base/ValueArena.h"

namespace qmjson {

class Reader {
  public:
    // `maxDepth` 0 means no limit of the caller's; `hardLimit` applies always.
    Reader(std::string_view text, uint64_t maxDepth, uint64_t hardLimit);

    // Reads one value followed by nothing but whitespace. On failure the error is in
    // `error()`.
    std::optional<base::Value> read(bool allowScalar);
    const base::Error& error() const { return *error_; }

  private:
    struct Frame {
        bool isObject = false;
        size_t start = 0;  // the frame's first slot in `elements_` or `members_`
        base::String key;  // of the member whose value is being read
    };

    enum class Step { NeedValue, Closed, Failed };

    bool scanValue(base::Value& result);
    bool scanScalar(base::Value& out);
    bool openContainer(bool isObject);
    Step arrayStep(bool afterElement);
    Step objectStep(bool afterMember);
    void addToTop(base::Value value);
    base::Value closeTop();

    bool scanRestOfTrue();
    bool scanRestOfFalse();
    bool scanRestOfNull();
    bool scanLiteralRest(std::string_view rest, const char* message);
    bool scanRestOfString(base::String& out);
    bool scanEscapedRest(const unsigned char* start, base::String& out);
    bool scanEscape(std::string& out);
    bool scanUnicodeChar(std::string& out);
    bool scanHexQuad(uint32_t& value);
    bool scanNumber(base::Value& out);
    bool scanIsAtEnd() const { return c_ == end_; }
    void skipWhitespace();
    bool isDigit() const { return c_ != end_ && *c_ >= '0' && *c_ <= '9'; }

    bool fail(base::Error error);
    // Wraps `error` in the message of every open container that was reading the failed
    // value, innermost first; `byTop` says whether the innermost one was.
    bool unwind(base::Error error, bool byTop);

    const unsigned char* c_;
    const unsigned char* end_;      // the first NUL byte or the end of the text
    const unsigned char* textEnd_;  // the end of the text
    uint64_t maxDepth_;
    uint64_t hardLimit_;
    base::TreeBuilder builder_;
    std::vector<Frame> frames_;
    // Elements and members of all open containers, innermost last: one pair of stacks
    // for the whole parse, so a container's slots are allocated once, when it closes.
    std::vector<base::Value> elements_;
    std::vector<base::Dictionary::Entry> members_;
    std::string unescaped_;  // the string being read, once it turned out to hold escapes
    std::optional<base::Error> error_;
};

}  // namespace qmjson
