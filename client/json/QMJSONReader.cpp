#include "client/json/QMJSONReader.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <utility>

#include "base/Decimal.h"
#include "base/Format.h"
#include "client/json/QMJSONError.h"
#include "client/json/QMJSONText.h"

namespace qmjson {

// ---- structure

Reader::Reader(std::string_view text, uint64_t maxDepth, uint64_t hardLimit)
    : c_(reinterpret_cast<const unsigned char*>(text.data())),
      end_(c_ + text.size()),
      textEnd_(end_),
      maxDepth_(maxDepth),
      hardLimit_(hardLimit),
      builder_(text.size()) {
    if (text.empty()) {
        return;
    }
    if (const void* nul = std::memchr(c_, 0, text.size())) {
        end_ = static_cast<const unsigned char*>(nul);
    }
}

std::optional<base::Value> Reader::read(bool allowScalar) {
    base::Value value;
    if (!scanValue(value)) {
        return std::nullopt;
    }
    skipWhitespace();
    // NUL padding after the value ends the text quietly; anything else after a NUL is
    // content the caller would lose, so it is garbage like any other.
    const bool garbage =
        c_ != end_ || std::any_of(end_, textEnd_, [](unsigned char b) { return b != 0; });
    if (garbage) {
        fail(err(kGarbage, "Garbage after JSON"));
        return std::nullopt;
    }
    if (!allowScalar && !value.isArray() && !value.isDictionary()) {
        fail(err(kNotContainer, "Valid fragment, but not JSON"));
        return std::nullopt;
    }
    return builder_.finish(std::move(value));
}

bool Reader::scanValue(base::Value& result) {
    base::Value value;
    for (;;) {
        // A value is due: at the top, as an array element or as a member's value.
        skipWhitespace();
        if (scanIsAtEnd()) {
            return unwind(err(kUnexpectedEnd, "Unexpected end of string"), true);
        }
        Step step;
        if (*c_ == '[' || *c_ == '{') {
            const bool isObject = *c_++ == '{';
            if (!openContainer(isObject)) {
                return false;
            }
            step = isObject ? objectStep(false) : arrayStep(false);
        } else {
            if (!scanScalar(value)) {
                return unwind(std::move(*error_), true);
            }
            if (frames_.empty()) {
                result = std::move(value);
                return true;
            }
            addToTop(std::move(value));
            step = frames_.back().isObject ? objectStep(true) : arrayStep(true);
        }
        while (step == Step::Closed) {
            value = closeTop();
            if (frames_.empty()) {
                result = std::move(value);
                return true;
            }
            addToTop(std::move(value));
            step = frames_.back().isObject ? objectStep(true) : arrayStep(true);
        }
        if (step == Step::Failed) {
            return false;
        }
    }
}

bool Reader::openContainer(bool isObject) {
    const uint64_t depth = frames_.size() + 1;
    if ((maxDepth_ != 0 && depth > maxDepth_) || depth > hardLimit_) {
        return unwind(err(kTooDeep, "Nested too deep"), true);
    }
    Frame& frame = frames_.emplace_back();
    frame.isObject = isObject;
    frame.start = isObject ? members_.size() : elements_.size();
    return true;
}

Reader::Step Reader::arrayStep(bool afterElement) {
    if (afterElement) {
        skipWhitespace();
        if (!scanIsAtEnd() && *c_ == ',') {
            ++c_;
            skipWhitespace();
            if (!scanIsAtEnd() && *c_ == ']') {
                unwind(err(kTrailingComma, "Trailing comma disallowed in array"), false);
                return Step::Failed;
            }
        }
    }
    if (scanIsAtEnd()) {
        unwind(err(kUnexpectedEnd, "End of input while parsing array"), false);
        return Step::Failed;
    }
    skipWhitespace();
    if (!scanIsAtEnd() && *c_ == ']') {
        ++c_;
        return Step::Closed;
    }
    return Step::NeedValue;
}

Reader::Step Reader::objectStep(bool afterMember) {
    if (afterMember) {
        skipWhitespace();
        if (!scanIsAtEnd() && *c_ == ',') {
            ++c_;
            skipWhitespace();
            if (!scanIsAtEnd() && *c_ == '}') {
                unwind(err(kTrailingComma, "Trailing comma disallowed in object"), false);
                return Step::Failed;
            }
        }
    }
    if (scanIsAtEnd()) {
        unwind(err(kUnexpectedEnd, "End of input while parsing object"), false);
        return Step::Failed;
    }
    skipWhitespace();
    if (!scanIsAtEnd() && *c_ == '}') {
        ++c_;
        return Step::Closed;
    }
    if (scanIsAtEnd() || *c_ != '"') {
        unwind(err(kUnexpectedText, "Object key string expected"), false);
        return Step::Failed;
    }
    ++c_;
    if (!scanRestOfString(frames_.back().key)) {
        unwind(errWithUnderlier(kUnexpectedText, std::move(*error_), "Object key string expected"),
               false);
        return Step::Failed;
    }
    skipWhitespace();
    if (scanIsAtEnd() || *c_ != ':') {
        unwind(err(kUnexpectedText, "Expected ':' separating key and value"), false);
        return Step::Failed;
    }
    ++c_;
    return Step::NeedValue;
}

void Reader::addToTop(base::Value value) {
    Frame& top = frames_.back();
    if (top.isObject) {
        members_.emplace_back(std::move(top.key), std::move(value));
    } else {
        elements_.push_back(std::move(value));
    }
}

base::Value Reader::closeTop() {
    const Frame& top = frames_.back();
    base::Value value;
    if (top.isObject) {
        value = builder_.dictionary(
            std::span(members_.data() + top.start, members_.size() - top.start));
        members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(top.start), members_.end());
    } else {
        value =
            builder_.array(std::span(elements_.data() + top.start, elements_.size() - top.start));
        elements_.erase(elements_.begin() + static_cast<std::ptrdiff_t>(top.start),
                        elements_.end());
    }
    frames_.pop_back();
    return value;
}

bool Reader::fail(base::Error error) {
    error_ = std::move(error);
    return false;
}

bool Reader::unwind(base::Error error, bool byTop) {
    size_t wrapping = frames_.size();
    if (!byTop && wrapping > 0) {
        --wrapping;
    }
    while (wrapping > 0) {
        const Frame& frame = frames_[--wrapping];
        if (frame.isObject) {
            error = errWithUnderlier(
                kUnexpectedText, std::move(error),
                base::format("Object value expected for key: %@", frame.key.view()));
        } else {
            error = errWithUnderlier(kUnexpectedText, std::move(error),
                                     "Expected value while parsing array");
        }
    }
    frames_.clear();
    return fail(std::move(error));
}

void Reader::skipWhitespace() {
    while (c_ != end_ && kSpaceBytes[*c_]) {
        ++c_;
    }
}

// ---- scalars

bool Reader::scanScalar(base::Value& out) {
    switch (*c_) {
        case '"': {
            ++c_;
            base::String text;
            if (!scanRestOfString(text)) {
                return false;
            }
            out = base::Value(std::move(text));
            return true;
        }
        case 't':
            ++c_;
            out = base::Value(true);
            return scanRestOfTrue();
        case 'f':
            ++c_;
            out = base::Value(false);
            return scanRestOfFalse();
        case 'n':
            ++c_;
            out = base::Value();
            return scanRestOfNull();
        case '+':
            return fail(err(kBadNumber, "Leading + disallowed in number"));
        case '-':
        case '0':
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            return scanNumber(out);
        default:
            return fail(err(kUnexpectedText, "Unrecognised leading character"));
    }
}

bool Reader::scanRestOfTrue() {
    return scanLiteralRest("rue", "Expected 'true'");
}
bool Reader::scanRestOfFalse() {
    return scanLiteralRest("alse", "Expected 'false'");
}
bool Reader::scanRestOfNull() {
    return scanLiteralRest("ull", "Expected 'null'");
}

bool Reader::scanLiteralRest(std::string_view rest, const char* message) {
    if (static_cast<size_t>(end_ - c_) < rest.size() ||
        std::memcmp(c_, rest.data(), rest.size()) != 0) {
        return fail(err(kUnexpectedText, message));
    }
    c_ += rest.size();
    return true;
}

bool Reader::scanRestOfString(base::String& out) {
    const unsigned char* start = c_;
    for (;;) {
        c_ = plainAsciiEnd(c_, end_);
        if (c_ == end_) {
            break;
        }
        if (*c_ == '"') {
            // No escapes: valid UTF-8 without quotes, backslashes or control bytes.
            out = builder_.string(
                std::string_view(reinterpret_cast<const char*>(start), c_ - start), true);
            ++c_;
            return true;
        }
        if (*c_ < 0x80) {
            break;
        }
        const size_t length = utf8SequenceLength(c_, end_);
        if (length == 0) {
            return fail(err(kBadUnicode, "Invalid UTF-8 in string"));
        }
        c_ += length;
    }
    if (!scanIsAtEnd() && *c_ == '\\') {
        return scanEscapedRest(start, out);
    }
    // The end of the text counts as the control byte 0.
    const unsigned stop = scanIsAtEnd() ? 0 : *c_++;
    return fail(err(kControlCharacter, base::format("Unescaped control character '0x%x'", stop)));
}

bool Reader::scanEscapedRest(const unsigned char* start, base::String& out) {
    std::string& text = unescaped_;
    text.assign(reinterpret_cast<const char*>(start), static_cast<size_t>(c_ - start));
    for (;;) {
        const unsigned char* run = c_;
        while (c_ != end_) {
            c_ = plainAsciiEnd(c_, end_);
            if (c_ == end_ || *c_ < 0x80) {
                break;
            }
            const size_t length = utf8SequenceLength(c_, end_);
            if (length == 0) {
                return fail(err(kBadUnicode, "Invalid UTF-8 in string"));
            }
            c_ += length;
        }
        text.append(reinterpret_cast<const char*>(run), static_cast<size_t>(c_ - run));
        // The end of the text counts as the control byte 0.
        const unsigned stop = scanIsAtEnd() ? 0 : *c_++;
        if (stop == '"') {
            out = builder_.string(text, false);
            return true;
        }
        if (stop != '\\') {
            return fail(
                err(kControlCharacter, base::format("Unescaped control character '0x%x'", stop)));
        }
        if (!scanEscape(text)) {
            return false;
        }
        if (scanIsAtEnd()) {
            return fail(err(kUnexpectedEnd, "Unexpected EOF while parsing string"));
        }
    }
}

bool Reader::scanEscape(std::string& out) {
    const unsigned escape = scanIsAtEnd() ? 0 : *c_++;
    switch (escape) {
        case '"':
        case '\\':
        case '/':
            out.push_back(static_cast<char>(escape));
            return true;
        case 'b':
            out.push_back('\b');
            return true;
        case 'f':
            out.push_back('\f');
            return true;
        case 'n':
            out.push_back('\n');
            return true;
        case 'r':
            out.push_back('\r');
            return true;
        case 't':
            out.push_back('\t');
            return true;
        case 'u':
            if (scanUnicodeChar(out)) {
                return true;
            }
            return fail(
                errWithUnderlier(kBadUnicode, std::move(*error_), "Broken unicode character"));
        default:
            return fail(err(kBadEscape, base::format("Illegal escape sequence '0x%x'", escape)));
    }
}

bool Reader::scanUnicodeChar(std::string& out) {
    uint32_t high = 0;
    if (!scanHexQuad(high)) {
        return fail(err(kBadUnicode, "Missing hex quad"));
    }
    if (high >= 0xDC00 && high <= 0xDFFF) {
        return fail(err(kBadUnicode, "Invalid high character in surrogate pair"));
    }
    if (high < 0xD800 || high > 0xDBFF) {
        appendUTF8(out, high);
        return true;
    }
    if (end_ - c_ < 2 || c_[0] != '\\' || c_[1] != 'u') {
        return fail(err(kBadUnicode, "Missing low character in surrogate pair"));
    }
    c_ += 2;
    uint32_t low = 0;
    if (!scanHexQuad(low)) {
        return fail(errWithUnderlier(kBadUnicode, std::move(*error_),
                                     "Missing low character in surrogate pair"));
    }
    if (low < 0xDC00 || low > 0xDFFF) {
        return fail(err(kBadUnicode, "Invalid low surrogate char"));
    }
    appendUTF8(out, 0x10000 + (high - 0xD800) * 0x400 + (low - 0xDC00));
    return true;
}

bool Reader::scanHexQuad(uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned char h = scanIsAtEnd() ? 0 : *c_;
        uint32_t digit;
        if (h >= '0' && h <= '9') {
            digit = h - '0';
        } else if (h >= 'a' && h <= 'f') {
            digit = h - 'a' + 10;
        } else if (h >= 'A' && h <= 'F') {
            digit = h - 'A' + 10;
        } else {
            return fail(err(kBadUnicode, "Missing hex digit in quad"));
        }
        value = value * 16 + digit;
        ++c_;
    }
    return true;
}

bool Reader::scanNumber(base::Value& out) {
    const unsigned char* start = c_;
    if (*c_ == '-') {
        ++c_;
        if (!isDigit()) {
            return fail(err(kBadNumber, "No digits after initial minus"));
        }
    }
    if (*c_ == '0') {
        ++c_;
        if (isDigit()) {
            return fail(err(kBadNumber, "Leading 0 disallowed in number"));
        }
    } else {
        while (isDigit()) {
            ++c_;
        }
    }
    if (!scanIsAtEnd() && *c_ == '.') {
        ++c_;
        if (!isDigit()) {
            return fail(err(kBadNumber, "No digits after decimal point"));
        }
        while (isDigit()) {
            ++c_;
        }
    }
    const bool hasExponent = !scanIsAtEnd() && (*c_ == 'e' || *c_ == 'E');
    if (hasExponent) {
        ++c_;
        if (!scanIsAtEnd() && (*c_ == '+' || *c_ == '-')) {
            ++c_;
        }
        if (!isDigit()) {
            return fail(err(kBadNumber, "No digits after exponent"));
        }
        while (isDigit()) {
            ++c_;
        }
    }
    const std::string_view text(reinterpret_cast<const char*>(start),
                                static_cast<size_t>(c_ - start));
    // Without an exponent the decimal exponent cannot exceed the number of digits, so
    // only an exponent or an enormous run of digits can put a number out of range.
    if ((hasExponent || text.size() > static_cast<size_t>(base::Decimal::kMaxExponent)) &&
        !base::Decimal::fromString(text)) {
        return fail(err(kBadNumber, "Failed creating decimal instance"));
    }
    out = builder_.number(text);
    return true;
}

}  // namespace qmjson
