#pragma once
// Property lists through libplist: XML or binary files read into a Value, Values
// written as XML. Integers, reals, booleans, strings, data, dates, arrays and
// dictionaries (in their order) are carried; a property list has no null.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/Error.h"
#include "base/Value.h"

namespace base {

class PropertyList {
  public:
    static constexpr const char* kErrorDomain = "base.PropertyListErrorDomain";
    enum ErrorCode : int64_t {
        kFileNotFound = 1,  // reading a file that does not exist
        kReadFailed,        // the file could not be read (permissions, not a file, ...)
        kTooLarge,          // the file is above kMaxFileSize
        kCorrupt,           // the bytes are no property list we accept
        kInvalidValue,      // the value cannot be written as a property list
        kWriteFailed,       // the file could not be written
    };

    // Bigger files are refused rather than read into memory.
    static constexpr size_t kMaxFileSize = size_t{32} * 1024 * 1024;
    // Deeper nesting of arrays and dictionaries is refused, reading and writing.
    static constexpr size_t kMaxDepth = 512;
    // A binary list read is refused when, with its shared objects written out again as
    // libplist builds them, it holds more values than its bytes (no list without shared
    // containers does) or more text than kMaxFileSize.

    // Reads XML or binary (told apart by the bytes themselves).
    static std::optional<Value> read(std::string_view bytes, Error* error = nullptr);
    static std::optional<Value> readFile(const std::string& path, Error* error = nullptr);

    // The XML text of `value`. Fails for null values, texts that are not UTF-8 or hold
    // characters XML cannot carry, integers above the signed 64-bit range and dates
    // outside the years 1933 to 2069 that the format's 32-bit seconds can reach.
    // Dates are written to the whole second, as the XML format holds them.
    static std::optional<std::string> toXml(const Value& value, Error* error = nullptr);
    // Writes the XML text to `path` owner-only (mode 0600) and atomically: a reader
    // sees the old file or the new one, never a part.
    static bool writeFile(const Value& value, const std::string& path, Error* error = nullptr);
};

}  // namespace base
