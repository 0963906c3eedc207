#pragma once
// A small strict JSON reader and writer over base::Value. Numbers are read straight from
// their text into exact decimals, never through binary floating point. The error texts
// are part of the interface: the service client tells an unreadable reply from a service
// error by them. Make a new instance for each use; one instance is never shared between
// threads.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/Error.h"
#include "base/Value.h"

// "org.tremlin.JSON.ErrorDomain", codes 1 to 12.
extern const char* const QMJSONErrorDomain;

class QMJSON {
  public:
    // Containers nested deeper than this are refused even when `maxDepth` is 0 ("no
    // limit"), by the reader with code 7 and by the writer with code 1. Values are
    // compared, described and destroyed recursively; this keeps even a sanitizer build
    // well inside an 8 MB thread stack.
    static constexpr uint64_t kNestingLimit = 4'096;

    // Writing. A scalar at the top is refused with code 4 unless `allowScalar`.
    std::optional<std::string> stringWithObject(const base::Value& value, bool allowScalar,
                                                base::Error* error);
    std::optional<std::string> stringWithFragment(const base::Value& value,
                                                  base::Error* error = nullptr);
    std::optional<std::string> stringWithObject(const base::Value& value,
                                                base::Error* error = nullptr);

    // Reading. `std::nullopt` stands for a missing text (code 12); the text ends at its
    // first NUL byte, and anything after that byte is garbage (code 10).
    std::optional<base::Value> objectWithString(std::optional<std::string_view> text,
                                                bool allowScalar, base::Error* error);
    std::optional<base::Value> fragmentWithString(std::optional<std::string_view> text,
                                                  base::Error* error = nullptr);
    std::optional<base::Value> objectWithString(std::optional<std::string_view> text,
                                                base::Error* error = nullptr);

    // Writer option: line breaks and two spaces of indentation per level.
    bool humanReadable() const { return humanReadable_; }
    void setHumanReadable(bool on) { humanReadable_ = on; }
    // Writer option: object keys in ascending code-point order.
    bool sortKeys() const { return sortKeys_; }
    void setSortKeys(bool on) { sortKeys_ = on; }
    // Deepest nesting of arrays and objects the reader accepts; 0 means no limit.
    uint64_t maxDepth() const { return maxDepth_; }
    void setMaxDepth(uint64_t depth) { maxDepth_ = depth; }

  private:
    bool humanReadable_ = false;
    bool sortKeys_ = false;
    uint64_t maxDepth_ = 512;
};

// One-call forms: each makes a new QMJSON, and when the result is none writes the error
// to the system console.
std::optional<base::Value> JSONValue(std::string_view text);          // objects and arrays
std::optional<base::Value> JSONFragmentValue(std::string_view text);  // any value
std::optional<std::string> JSONRepresentation(const base::Value& value);
std::optional<std::string> JSONFragment(const base::Value& value);
