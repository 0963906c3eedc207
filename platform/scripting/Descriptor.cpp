#include "platform/scripting/Descriptor.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

#include "base/TextEncoding.h"

namespace platform::scripting {
namespace {

template <class T>
base::Data littleEndian(T value) {
    base::Data data(sizeof(T));
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (size_t i = 0; i < sizeof(T); ++i) {
        data[i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    return data;
}

template <class T>
std::optional<T> readLittleEndian(const base::Data& data) {
    if (data.size() != sizeof(T)) {
        return std::nullopt;
    }
    std::make_unsigned_t<T> bits = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        bits |= static_cast<std::make_unsigned_t<T>>(data[i]) << (8 * i);
    }
    return static_cast<T>(bits);
}

// The value of an integer descriptor, widened; none for other types or sizes.
std::optional<__int128> integer(FourCharCode type, const base::Data& data) {
    switch (type) {
        case kTypeSInt16:
            return readLittleEndian<int16_t>(data);
        case kTypeUInt16:
            return readLittleEndian<uint16_t>(data);
        case kTypeSInt32:
            return readLittleEndian<int32_t>(data);
        case kTypeUInt32:
            return readLittleEndian<uint32_t>(data);
        case kTypeSInt64:
            return readLittleEndian<int64_t>(data);
        case kTypeUInt64:
            return readLittleEndian<uint64_t>(data);
        default:
            return std::nullopt;
    }
}

std::string hexText(const base::Data& data) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const size_t shown = std::min<size_t>(data.size(), 64);
    for (size_t i = 0; i < shown; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xF];
    }
    if (shown < data.size()) {
        out += "...";
    }
    return out;
}

}  // namespace

Descriptor Descriptor::atomic(FourCharCode type, base::Data data) {
    Descriptor d;
    d.type_ = type;
    d.data_ = std::move(data);
    return d;
}

Descriptor Descriptor::text(std::string_view utf8) {
    return atomic(kTypeUTF8Text, base::Data(utf8.begin(), utf8.end()));
}

Descriptor Descriptor::unicodeText(std::string_view utf8) {
    // Text that is no UTF-8 gives an empty text rather than a guess.
    const auto units = base::TextEncoding::fromUtf8(utf8, "UTF-16LE").value_or("");
    return atomic(kTypeUnicodeText, base::Data(units.begin(), units.end()));
}

Descriptor Descriptor::int32(int32_t value) {
    return atomic(kTypeSInt32, littleEndian(value));
}

Descriptor Descriptor::int16(int16_t value) {
    return atomic(kTypeSInt16, littleEndian(value));
}

Descriptor Descriptor::typeCode(FourCharCode code) {
    const std::string text = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    return atomic(kTypeType, base::Data(text.begin(), text.end()));
}

Descriptor Descriptor::enumerated(FourCharCode code) {
    Descriptor d = typeCode(code);
    d.type_ = kTypeEnumerated;
    return d;
}

Descriptor Descriptor::list(FourCharCode type) {
    Descriptor d;
    d.type_ = type;
    d.kind_ = Kind::List;
    return d;
}

Descriptor Descriptor::record(FourCharCode type) {
    Descriptor d;
    d.type_ = type;
    d.kind_ = Kind::Record;
    return d;
}

size_t Descriptor::count() const {
    switch (kind_) {
        case Kind::List:
            return items_.size();
        case Kind::Record:
            return fields_.size();
        case Kind::Atomic:
            return 0;
    }
    return 0;
}

const Descriptor* Descriptor::at(size_t position) const {
    if (kind_ != Kind::List || position == 0 || position > items_.size()) {
        return nullptr;
    }
    return &items_[position - 1];
}

void Descriptor::append(Descriptor item) {
    if (kind_ == Kind::List) {
        items_.push_back(std::move(item));
    }
}

const Descriptor* Descriptor::field(FourCharCode keyword) const {
    if (kind_ != Kind::Record) {
        return nullptr;
    }
    for (const auto& [key, value] : fields_) {
        if (key == keyword) {
            return &value;
        }
    }
    return nullptr;
}

void Descriptor::setField(FourCharCode keyword, Descriptor value) {
    if (kind_ != Kind::Record) {
        return;
    }
    for (auto& [key, existing] : fields_) {
        if (key == keyword) {
            existing = std::move(value);
            return;
        }
    }
    fields_.emplace_back(keyword, std::move(value));
}

std::optional<std::string> Descriptor::stringValue() const {
    if (kind_ != Kind::Atomic) {
        return std::nullopt;
    }
    if (type_ == kTypeUTF8Text || type_ == fourCC("TEXT")) {
        return std::string(data_.begin(), data_.end());
    }
    if (type_ == kTypeUnicodeText) {
        return base::TextEncoding::toUtf8(
            std::string_view(reinterpret_cast<const char*>(data_.data()), data_.size()),
            "UTF-16LE");
    }
    if (auto n = integer(type_, data_)) {
        char buf[48];
        const bool negative = *n < 0;
        unsigned __int128 magnitude =
            negative ? -static_cast<unsigned __int128>(*n) : static_cast<unsigned __int128>(*n);
        char* end = std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(magnitude)).ptr;
        return (negative ? "-" : "") + std::string(buf, end);
    }
    return std::nullopt;
}

std::optional<int32_t> Descriptor::int32Value() const {
    if (kind_ != Kind::Atomic) {
        return std::nullopt;
    }
    const auto n = integer(type_, data_);
    if (!n || *n < std::numeric_limits<int32_t>::min() ||
        *n > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(*n);
}

std::optional<FourCharCode> Descriptor::typeCodeValue() const {
    if (kind_ != Kind::Atomic || (type_ != kTypeType && type_ != kTypeEnumerated) ||
        data_.size() != 4) {
        return std::nullopt;
    }
    return (FourCharCode(data_[0]) << 24) | (FourCharCode(data_[1]) << 16) |
           (FourCharCode(data_[2]) << 8) | FourCharCode(data_[3]);
}

int Descriptor::depth() const {
    int deepest = 0;
    for (const auto& item : items_) {
        deepest = std::max(deepest, item.depth());
    }
    for (const auto& [key, value] : fields_) {
        deepest = std::max(deepest, value.depth());
    }
    return 1 + deepest;
}

std::string Descriptor::describe() const {
    std::string out;
    appendDescription(out, std::string::npos);
    return out;
}

std::string Descriptor::describe(size_t limit) const {
    std::string out;
    appendDescription(out, limit);
    if (out.size() > limit) {
        out.resize(limit);
        out += "...";
    }
    return out;
}

void Descriptor::appendDescription(std::string& out, size_t limit) const {
    if (out.size() > limit) {
        return;
    }
    const std::string code = "'" + fourCCText(type_) + "'";
    switch (kind_) {
        case Kind::List:
            out += "[";
            for (size_t i = 0; i < items_.size() && out.size() <= limit; ++i) {
                out += i ? ", " : "";
                items_[i].appendDescription(out, limit);
            }
            out += "]";
            return;
        case Kind::Record:
            out += code + "{";
            for (size_t i = 0; i < fields_.size() && out.size() <= limit; ++i) {
                out += (i ? ", '" : "'") + fourCCText(fields_[i].first) + "': ";
                fields_[i].second.appendDescription(out, limit);
            }
            out += "}";
            return;
        case Kind::Atomic:
            break;
    }
    // Of the data, no more than the room left is turned into text.
    const size_t room = limit == std::string::npos ? data_.size() : limit - out.size() + 1;
    const base::Data head(data_.begin(),
                          data_.begin() + static_cast<std::ptrdiff_t>(std::min(room, data_.size())));
    const Descriptor shown = data_.size() == head.size() ? *this : atomic(type_, head);
    if (auto text = shown.stringValue()) {
        const bool isText =
            type_ == kTypeUTF8Text || type_ == kTypeUnicodeText || type_ == fourCC("TEXT");
        out += code + (isText ? "(\"" + *text + "\")" : "(" + *text + ")");
        return;
    }
    if (auto c = typeCodeValue()) {
        out += code + "('" + fourCCText(*c) + "')";
        return;
    }
    if (type_ == kTypeFileURL) {
        out += code + "(" + std::string(head.begin(), head.end()) + ")";
        return;
    }
    out += data_.empty() ? code : code + "($" + hexText(head) + ")";
}

}  // namespace platform::scripting
