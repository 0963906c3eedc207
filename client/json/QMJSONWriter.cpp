#include "client/json/QMJSONWriter.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "base/Format.h"
#include "client/json/QMJSONError.h"
#include "client/json/QMJSONText.h"

namespace qmjson {

std::optional<std::string> Writer::write(const base::Value& value, bool allowScalar) {
    depth_ = 0;
    out_.clear();
    // Growing a large text step by step copies it again and again; one estimate up
    // front, with room for numbers longer than guessed, avoids nearly all of that.
    const size_t estimate = estimatedSize(value, 0);
    out_.reserve(128 + estimate + estimate / 8);
    if (!allowScalar && !value.isArray() && !value.isDictionary()) {
        fail(err(kNotContainer, "Not valid type for JSON"));
        return std::nullopt;
    }
    if (!appendValue(value)) {
        return std::nullopt;
    }
    return std::move(out_);
}

size_t Writer::estimatedSize(const base::Value& value, uint64_t depth) const {
    const size_t indent = humanReadable_ ? 1 + 2 * (depth + 1) : 0;
    if (depth >= hardLimit_) {
        return 0;
    }
    if (const base::Array* array = value.array()) {
        size_t size = 2 + indent;
        for (const base::Value& element : *array) {
            size += 1 + indent + estimatedSize(element, depth + 1);
        }
        return size;
    }
    if (const base::Dictionary* dictionary = value.dictionary()) {
        size_t size = 2 + indent;
        for (const auto& [key, element] : *dictionary) {
            size += 4 + indent + key.size() + (humanReadable_ ? 2 : 0) +
                    estimatedSize(element, depth + 1);
        }
        return size;
    }
    if (const base::String* text = value.string()) {
        return text->size() + 2;
    }
    return 5;  // numbers, true, false and null are short
}

bool Writer::appendValue(const base::Value& value) {
    switch (value.type()) {
        case base::Value::Type::Dictionary:
            return appendDictionary(*value.dictionary());
        case base::Value::Type::Array:
            return appendArray(*value.array());
        case base::Value::Type::String:
            return appendString(*value.string()) || unsupported("String");
        case base::Value::Type::Bool:
            out_ += value.boolValue() ? "true" : "false";
            return true;
        case base::Value::Type::Number:
            // NaN and the infinities have no JSON text.
            if (value.isNonFiniteNumber()) {
                return unsupported("Number");
            }
            value.appendNumberText(out_);
            return true;
        case base::Value::Type::Null:
            out_ += "null";
            return true;
        case base::Value::Type::Data:
            return unsupported("Data");
        case base::Value::Type::Date:
            return unsupported("Date");
    }
    return unsupported("Value");
}

bool Writer::appendArray(const base::Array& array) {
    if (!enterContainer("Array")) {
        return false;
    }
    out_ += '[';
    ++depth_;
    bool first = true;
    for (const base::Value& element : array) {
        if (!first) {
            out_ += ',';
        }
        first = false;
        if (humanReadable_) {
            indent();
        }
        if (!appendValue(element)) {
            return false;
        }
    }
    --depth_;
    if (humanReadable_ && !array.empty()) {
        indent();
    }
    out_ += ']';
    return true;
}

bool Writer::appendDictionary(const base::Dictionary& dictionary) {
    if (!enterContainer("Dictionary")) {
        return false;
    }
    out_ += '{';
    ++depth_;
    if (sortKeys_) {
        std::vector<const base::Dictionary::Entry*> sorted;
        sorted.reserve(dictionary.size());
        for (const auto& member : dictionary) {
            sorted.push_back(&member);
        }
        // std::string compares bytes as unsigned, which orders UTF-8 by code point.
        std::sort(sorted.begin(), sorted.end(),
                  [](const auto* a, const auto* b) { return a->first.view() < b->first.view(); });
        for (const auto* member : sorted) {
            if (!appendMember(*member, member == sorted.front())) {
                return false;
            }
        }
    } else {
        bool first = true;
        for (const auto& member : dictionary) {
            if (!appendMember(member, first)) {
                return false;
            }
            first = false;
        }
    }
    --depth_;
    if (humanReadable_ && !dictionary.empty()) {
        indent();
    }
    out_ += '}';
    return true;
}

bool Writer::appendMember(const base::Dictionary::Entry& member, bool first) {
    if (!first) {
        out_ += ',';
    }
    if (humanReadable_) {
        indent();
    }
    if (!appendString(member.first)) {
        return fail(err(kUnsupportedValue, "JSON object key must be string"));
    }
    out_ += humanReadable_ ? " : " : ":";
    if (!appendValue(member.second)) {
        return fail(err(kUnsupportedValue, base::format("Unsupported value for key %@ in object",
                                                        member.first.view())));
    }
    return true;
}

bool Writer::appendString(const base::String& text) {
    if (text.isPlain()) {
        // Read from JSON without escapes: nothing to check or escape.
        const size_t at = out_.size();
        out_.resize(at + text.size() + 2);
        char* p = out_.data() + at;
        *p = '"';
        std::memcpy(p + 1, text.data(), text.size());
        p[text.size() + 1] = '"';
        return true;
    }
    return appendString(text.view());
}

bool Writer::appendString(std::string_view text) {
    out_ += '"';
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    const auto end = p + text.size();
    for (;;) {
        const unsigned char* run = p;
        while (p != end) {
            p = plainAsciiEnd(p, end);
            if (p == end || *p < 0x80) {
                break;
            }
            const size_t length = utf8SequenceLength(p, end);
            if (length == 0) {
                return false;
            }
            p += length;
        }
        out_.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end) {
            break;
        }
        appendEscaped(*p++);
    }
    out_ += '"';
    return true;
}

void Writer::appendEscaped(unsigned char byte) {
    static constexpr char kHex[] = "0123456789abcdef";
    switch (byte) {
        case '"':
            out_ += "\\\"";
            return;
        case '\\':
            out_ += "\\\\";
            return;
        case '\b':
            out_ += "\\b";
            return;
        case '\t':
            out_ += "\\t";
            return;
        case '\n':
            out_ += "\\n";
            return;
        case '\f':
            out_ += "\\f";
            return;
        case '\r':
            out_ += "\\r";
            return;
        default: {
            const char escape[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
            out_.append(escape, sizeof escape);
        }
    }
}

void Writer::indent() {
    out_ += '\n';
    out_.append(static_cast<size_t>(depth_ * 2), ' ');
}

bool Writer::enterContainer(const char* className) {
    return depth_ < hardLimit_ || unsupported(className);
}

bool Writer::unsupported(const char* className) {
    return fail(
        err(kUnsupportedValue, base::format("JSON serialisation not supported for %@", className)));
}

bool Writer::fail(base::Error error) {
    error_ = std::move(error);
    return false;
}

}  // namespace qmjson
