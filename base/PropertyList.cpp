#include "base/PropertyList.h"

#include <fcntl.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "base/BigEndian.h"
#include "base/Path.h"
#include "base/PropertyListDepth.h"
#include "base/Random.h"
#include "base/TextEncoding.h"
#include "base/UniqueFd.h"

namespace base {
namespace {

// Dates count from 2001-01-01 00:00:00 UTC in the format, from 1970 in a Value.
constexpr double kEpochOffset = 978307200.0;

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

void fail(Error* error, PropertyList::ErrorCode code, std::string description) {
    if (error) {
        *error = Error::withDescription(PropertyList::kErrorDomain, code, std::move(description));
    }
}

// ---- reading ----

class Reader {
  public:
    explicit Reader(Error* error) : error_(error) {}
    std::optional<Value> convert(plist_t node, size_t depth);

  private:
    std::optional<Value> convertArray(plist_t node, size_t depth);
    std::optional<Value> convertDictionary(plist_t node, size_t depth);
    std::optional<Value> corrupt(const std::string& why) {
        fail(error_, PropertyList::kCorrupt, "The property list is unreadable: " + why + ".");
        return std::nullopt;
    }
    Error* error_;
};

std::optional<Value> Reader::convert(plist_t node, size_t depth) {
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            uint8_t value = 0;
            plist_get_bool_val(node, &value);
            return Value(value != 0);
        }
        case PLIST_UINT: {
            // libplist keeps every integer in 64 bits; the format's integers are signed.
            uint64_t value = 0;
            plist_get_uint_val(node, &value);
            return Value(static_cast<long long>(value));
        }
        case PLIST_REAL: {
            double value = 0;
            plist_get_real_val(node, &value);
            return Value(value);
        }
        case PLIST_STRING: {
            uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            std::string_view view(text ? text : "", text ? length : 0);
            if (!TextEncoding::isValidUtf8(view)) {
                return corrupt("a string is not UTF-8");
            }
            return Value(view);
        }
        case PLIST_DATA: {
            uint64_t length = 0;
            const char* bytes = plist_get_data_ptr(node, &length);
            const auto* begin = reinterpret_cast<const uint8_t*>(bytes);
            return Value(Data(begin, begin + (bytes ? length : 0)));
        }
        case PLIST_DATE: {
            int32_t seconds = 0;
            int32_t micros = 0;
            plist_get_date_val(node, &seconds, &micros);
            return Value(Date{kEpochOffset + seconds + micros / 1e6});
        }
        case PLIST_ARRAY:
            return convertArray(node, depth);
        case PLIST_DICT:
            return convertDictionary(node, depth);
        default:
            return corrupt("it holds an unsupported kind of value");
    }
}

std::optional<Value> Reader::convertArray(plist_t node, size_t depth) {
    if (depth >= PropertyList::kMaxDepth) {
        return corrupt("it is nested too deeply");
    }
    Array array;
    uint32_t count = plist_array_get_size(node);
    array.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        std::optional<Value> item = convert(plist_array_get_item(node, i), depth + 1);
        if (!item) {
            return std::nullopt;
        }
        array.push_back(std::move(*item));
    }
    return Value(std::move(array));
}

std::optional<Value> Reader::convertDictionary(plist_t node, size_t depth) {
    if (depth >= PropertyList::kMaxDepth) {
        return corrupt("it is nested too deeply");
    }
    Dictionary dictionary;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node, &iter);
    std::optional<Value> result;
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &key, &item);
        if (!item) {
            free(key);
            result = Value(std::move(dictionary));
            break;
        }
        std::string name = key ? key : "";
        free(key);
        if (!TextEncoding::isValidUtf8(name)) {
            result = corrupt("a key is not UTF-8");
            break;
        }
        std::optional<Value> value = convert(item, depth + 1);
        if (!value) {
            break;
        }
        dictionary.set(std::move(name), std::move(*value));
    }
    free(iter);
    return result;
}

// libplist stops the process with a failed assertion when a dictionary key of a binary
// list holds a NUL character, so such lists are turned away before it sees them: this
// walks the object table and refuses any string object with a NUL in it (and any
// string object it cannot make sense of).
class BinaryStringCheck {
  public:
    explicit BinaryStringCheck(std::string_view bytes) : bytes_(bytes) {}
    bool passes() const;

  private:
    std::optional<uint64_t> bigEndian(uint64_t offset, uint64_t width) const;
    bool stringPasses(uint64_t offset) const;
    std::string_view bytes_;
};

std::optional<uint64_t> BinaryStringCheck::bigEndian(uint64_t offset, uint64_t width) const {
    return bigEndianAt(bytes_, offset, width);
}

bool BinaryStringCheck::passes() const {
    constexpr uint64_t kHeader = 8;
    constexpr uint64_t kTrailer = 32;
    if (bytes_.size() < kHeader + kTrailer) {
        return true;  // too short to hold anything; libplist refuses it
    }
    uint64_t trailer = bytes_.size() - kTrailer;
    auto offsetWidth = static_cast<uint8_t>(bytes_[trailer + 6]);
    std::optional<uint64_t> count = bigEndian(trailer + 8, 8);
    std::optional<uint64_t> table = bigEndian(trailer + 24, 8);
    if (!count || !table || offsetWidth == 0 || offsetWidth > 8 || *table > trailer ||
        *count > (trailer - *table) / offsetWidth) {
        return true;  // an unusable trailer; libplist refuses the list
    }
    for (uint64_t i = 0; i < *count; ++i) {
        std::optional<uint64_t> offset = bigEndian(*table + i * offsetWidth, offsetWidth);
        if (offset && *offset < trailer && !stringPasses(*offset)) {
            return false;
        }
    }
    return true;
}

bool BinaryStringCheck::stringPasses(uint64_t offset) const {
    auto marker = static_cast<uint8_t>(bytes_[offset]);
    uint8_t kind = marker >> 4;
    if (kind != 0x5 && kind != 0x6) {
        return true;  // not a string: ASCII (0x5N) or UTF-16 (0x6N)
    }
    const std::optional<BinaryCount> counted = binaryCountAt(bytes_, offset);
    if (!counted) {
        return false;
    }
    const uint64_t length = counted->count;
    const uint64_t start = counted->start;
    uint64_t unit = kind == 0x6 ? 2 : 1;
    if (start > bytes_.size() || length > (bytes_.size() - start) / unit) {
        return false;
    }
    std::string_view text = bytes_.substr(start, length * unit);
    for (size_t i = 0; i < text.size(); i += unit) {
        if (text[i] == '\0' && (unit == 1 || text[i + 1] == '\0')) {
            return false;
        }
    }
    return true;
}

// ---- writing ----

// Characters that XML 1.0 cannot carry: C0 controls other than tab, line feed and
// carriage return, and the non-characters U+FFFE and U+FFFF.
bool isXmlText(std::string_view text) {
    if (!TextEncoding::isValidUtf8(text)) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<uint8_t>(text[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
        if (c == 0xef && i + 2 < text.size() && static_cast<uint8_t>(text[i + 1]) == 0xbf &&
            (static_cast<uint8_t>(text[i + 2]) & 0xfe) == 0xbe) {
            return false;
        }
    }
    return true;
}

class Writer {
  public:
    explicit Writer(Error* error) : error_(error) {}
    plist_t convert(const Value& value, size_t depth);

  private:
    plist_t convertNumber(const Value& value);
    plist_t convertDate(const Date& date);
    plist_t convertArray(const Array& array, size_t depth);
    plist_t convertDictionary(const Dictionary& dictionary, size_t depth);
    plist_t invalid(const std::string& why) {
        fail(error_, PropertyList::kInvalidValue,
             "The value cannot be written as a property list: " + why + ".");
        return nullptr;
    }
    Error* error_;
};

plist_t Writer::convert(const Value& value, size_t depth) {
    switch (value.type()) {
        case Value::Type::Null:
            return invalid("it holds a null value");
        case Value::Type::Bool:
            return plist_new_bool(value.boolValue() ? 1 : 0);
        case Value::Type::Number:
            return convertNumber(value);
        case Value::Type::String:
            if (!isXmlText(*value.string())) {
                return invalid("a string is not UTF-8 or holds control characters");
            }
            return plist_new_string(value.string()->c_str());
        case Value::Type::Data: {
            const Data& data = *value.data();
            return plist_new_data(reinterpret_cast<const char*>(data.data()), data.size());
        }
        case Value::Type::Date:
            return convertDate(*value.date());
        case Value::Type::Array:
            return convertArray(*value.array(), depth);
        case Value::Type::Dictionary:
            return convertDictionary(*value.dictionary(), depth);
    }
    return invalid("it holds an unknown kind of value");
}

plist_t Writer::convertNumber(const Value& value) {
    std::optional<Decimal> exact = value.decimal();
    if (!exact) {
        return plist_new_real(value.doubleValue());  // NaN and the infinities
    }
    if (exact->isIntegral()) {
        int64_t integer = exact->toInt64();
        if (Decimal(integer) == *exact) {
            return plist_new_uint(static_cast<uint64_t>(integer));
        }
        // libplist would write the top half of the unsigned range as negative numbers.
        if (Decimal(exact->toUInt64()) == *exact) {
            return invalid("an integer is above the signed 64-bit range");
        }
    }
    return plist_new_real(exact->toDouble());
}

plist_t Writer::convertDate(const Date& date) {
    double sinceReference = date.secondsSince1970 - kEpochOffset;
    double seconds = std::floor(sinceReference);
    if (!std::isfinite(seconds) || seconds < std::numeric_limits<int32_t>::min() ||
        seconds > std::numeric_limits<int32_t>::max()) {
        return invalid("a date is outside the range the format can hold");
    }
    auto micros = static_cast<int32_t>(std::lround((sinceReference - seconds) * 1e6));
    if (micros >= 1'000'000) {
        micros = 999'999;
    }
    return plist_new_date(static_cast<int32_t>(seconds), micros);
}

plist_t Writer::convertArray(const Array& array, size_t depth) {
    if (depth >= PropertyList::kMaxDepth) {
        return invalid("it is nested too deeply");
    }
    PlistPtr node(plist_new_array());
    for (const Value& item : array) {
        plist_t child = convert(item, depth + 1);
        if (!child) {
            return nullptr;
        }
        plist_array_append_item(node.get(), child);
    }
    return node.release();
}

plist_t Writer::convertDictionary(const Dictionary& dictionary, size_t depth) {
    if (depth >= PropertyList::kMaxDepth) {
        return invalid("it is nested too deeply");
    }
    PlistPtr node(plist_new_dict());
    for (const auto& [key, item] : dictionary) {
        if (!isXmlText(key)) {
            return invalid("a key is not UTF-8 or holds control characters");
        }
        plist_t child = convert(item, depth + 1);
        if (!child) {
            return nullptr;
        }
        plist_dict_set_item(node.get(), key.c_str(), child);
    }
    return node.release();
}

// ---- files ----

std::string errnoText() {
    return std::strerror(errno);
}

// Write to a fresh owner-only file beside the target, flush it to disk, then rename it
// over the target and flush the folder, so that a crash leaves the old or the new file.
bool replaceAtomically(const std::string& path, std::string_view bytes, Error* error) {
    std::string folder = deletingLastPathComponent(path);
    if (folder.empty()) {
        folder = ".";
    }
    std::string temp =
        appendingPathComponent(folder, "." + lastPathComponent(path) + "." + randomString(8));
    UniqueFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0) {
        fail(error, PropertyList::kWriteFailed, "Cannot create " + temp + ": " + errnoText());
        return false;
    }
    bool ok = fchmod(fd.get(), 0600) == 0 && writeFully(fd.get(), bytes) && fsync(fd.get()) == 0;
    ok = close(fd.release()) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        fail(error, PropertyList::kWriteFailed, "Cannot write " + path + ": " + errnoText());
        unlink(temp.c_str());
        return false;
    }
    UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        fsync(dir.get());
    }
    return true;
}

std::optional<std::string> readCapped(const std::string& path, Error* error) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        fail(error, errno == ENOENT ? PropertyList::kFileNotFound : PropertyList::kReadFailed,
             "Cannot open " + path + ": " + errnoText());
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        fail(error, PropertyList::kReadFailed, path + " is not a regular file.");
        return std::nullopt;
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            fail(error, PropertyList::kReadFailed, "Cannot read " + path + ": " + errnoText());
            return std::nullopt;
        }
        if (got == 0) {
            return bytes;
        }
        // Checked while reading: the file may grow after fstat().
        if (bytes.size() + static_cast<size_t>(got) > PropertyList::kMaxFileSize) {
            fail(error, PropertyList::kTooLarge, path + " is too large for a property list.");
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace

std::optional<Value> PropertyList::read(std::string_view bytes, Error* error) {
    if (bytes.size() > kMaxFileSize) {
        fail(error, kTooLarge, "The property list is too large.");
        return std::nullopt;
    }
    if (plist_is_binary(bytes.data(), static_cast<uint32_t>(bytes.size())) &&
        !BinaryStringCheck(bytes).passes()) {
        fail(error, kCorrupt, "The property list is unreadable: a string holds a NUL character.");
        return std::nullopt;
    }
    // libplist recurses once per level, and builds a shared object once per reference:
    // deeper lists, and binary lists that expand beyond what their bytes could hold
    // written out, must not reach it at all.
    if (!PropertyListDepth::within(bytes, {kMaxDepth, bytes.size(), kMaxFileSize})) {
        fail(error, kCorrupt,
             "The property list is unreadable: it is nested too deeply or refers to its "
             "objects too often.");
        return std::nullopt;
    }
    // A private copy ends in a NUL, so the parser cannot run past the end of the text.
    std::string copy(bytes);
    plist_t root = nullptr;
    plist_from_memory(copy.c_str(), static_cast<uint32_t>(copy.size()), &root);
    PlistPtr owner(root);
    if (!root) {
        fail(error, kCorrupt, "The property list is unreadable: it is neither XML nor binary.");
        return std::nullopt;
    }
    return Reader(error).convert(root, 0);
}

std::optional<Value> PropertyList::readFile(const std::string& path, Error* error) {
    std::optional<std::string> bytes = readCapped(path, error);
    if (!bytes) {
        return std::nullopt;
    }
    return read(*bytes, error);
}

std::optional<std::string> PropertyList::toXml(const Value& value, Error* error) {
    PlistPtr root(Writer(error).convert(value, 0));
    if (!root) {
        return std::nullopt;
    }
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    if (!xml) {
        fail(error, kInvalidValue, "The value cannot be written as a property list.");
        return std::nullopt;
    }
    std::string text(xml, length);
    plist_to_xml_free(xml);
    return text;
}

bool PropertyList::writeFile(const Value& value, const std::string& path, Error* error) {
    std::optional<std::string> xml = toXml(value, error);
    return xml && replaceAtomically(path, *xml, error);
}

}  // namespace base
