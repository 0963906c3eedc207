#include "base/Value.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <system_error>

#include "base/ValueArena.h"

namespace base {

namespace {

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isAsciiAlnum(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

size_t hashKey(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

std::string_view skipSpace(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && isSpace(s[i])) {
        ++i;
    }
    return s.substr(i);
}

// Leading whitespace, optional sign, digits; stops at the first other character.
// Saturates at the int64 limits.
int64_t leadingInteger(std::string_view s) {
    s = skipSpace(s);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1;
    uint64_t magnitude = 0;
    for (size_t i = 0; i < s.size() && isDigit(s[i]); ++i) {
        magnitude = magnitude * 10 + static_cast<uint64_t>(s[i] - '0');
        if (magnitude > kLimit) {
            magnitude = kLimit;
            break;
        }
    }
    if (negative) {
        return magnitude == kLimit ? std::numeric_limits<int64_t>::min()
                                   : -static_cast<int64_t>(magnitude);
    }
    return magnitude >= kLimit ? std::numeric_limits<int64_t>::max()
                               : static_cast<int64_t>(magnitude);
}

// The longest prefix of `s` (after whitespace) that reads as decimal text, as a double.
double leadingDouble(std::string_view s) {
    s = skipSpace(s);
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        ++i;
    }
    size_t digits = 0;
    for (; i < s.size() && isDigit(s[i]); ++i) {
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && isDigit(s[i]); ++i) {
            ++digits;
        }
    }
    if (digits == 0) {
        return 0;
    }
    size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
            ++j;
        }
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) {
                ++j;
            }
            end = j;
        }
    }
    if (std::optional<Decimal> d = Decimal::fromString(s.substr(0, end))) {
        return d->toDouble();
    }
    // Refused only for exponents far outside the double range: the exponent's sign decides.
    const bool negative = s[0] == '-';
    const bool tiny = s.substr(0, end).find("e-") != std::string_view::npos ||
                      s.substr(0, end).find("E-") != std::string_view::npos;
    const double magnitude = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    return negative ? -magnitude : magnitude;
}

// After whitespace, an optional sign and zeros: Y, y, T, t or a digit 1-9.
bool leadingBool(std::string_view s) {
    s = skipSpace(s);
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && s[0] == '0') {
        s.remove_prefix(1);
    }
    if (s.empty()) {
        return false;
    }
    const char c = s[0];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::string nonFiniteText(double d) {
    if (std::isnan(d)) {
        return "nan";
    }
    return d < 0 ? "-inf" : "inf";
}

std::string dataText(const Data& data) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "<";
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0 && i % 4 == 0) {
            out.push_back(' ');
        }
        out.push_back(kHex[data[i] >> 4]);
        out.push_back(kHex[data[i] & 0xf]);
    }
    out.push_back('>');
    return out;
}

std::string dateText(const Date& date) {
    const double s = date.secondsSince1970;
    // Beyond about +-10^15 s (30 million years) gmtime cannot help; say what we have.
    if (!std::isfinite(s) || std::fabs(s) > 1e15) {
        return std::to_string(s);
    }
    const time_t t = static_cast<time_t>(std::floor(s));
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) {
        return std::to_string(s);
    }
    char buf[64];
    const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
    return std::string(buf, n);
}

// The classic text style writes words bare and anything else in quotes.
void appendQuotedIfNeeded(std::string& out, std::string_view s) {
    bool bare = !s.empty();
    for (char c : s) {
        if (!isAsciiAlnum(c) && c != '_') {
            bare = false;
            break;
        }
    }
    if (bare) {
        out.append(s);
        return;
    }
    out.push_back('"');
    for (char c : s) {
        switch (c) {
            case '"':
                out.append("\\\"");
                break;
            case '\\':
                out.append("\\\\");
                break;
            case '\n':
                out.append("\\n");
                break;
            case '\t':
                out.append("\\t");
                break;
            case '\r':
                out.append("\\r");
                break;
            default:
                out.push_back(c);
        }
    }
    out.push_back('"');
}

void appendIndent(std::string& out, int level) {
    out.append(static_cast<size_t>(level) * 4, ' ');
}

// Number texts are what Decimal::fromString reads. Digits only, with an optional minus.
bool isPlainInteger(std::string_view t) {
    size_t i = !t.empty() && t[0] == '-' ? 1 : 0;
    if (i == t.size()) {
        return false;
    }
    for (; i < t.size(); ++i) {
        if (!isDigit(t[i])) {
            return false;
        }
    }
    return true;
}

// True when the mantissa has no digit but zeros.
bool isZeroNumberText(std::string_view t) {
    for (char c : t) {
        if (c == 'e' || c == 'E') {
            break;
        }
        if (c >= '1' && c <= '9') {
            return false;
        }
    }
    return true;
}

// True when `t` is already what Decimal::toString writes for its value, so it can be
// copied as it is: no exponent, no redundant zeros, no sign on zero, and no run of
// zeros long enough for toString to switch to exponent form.
bool isCanonicalNumberText(std::string_view t) {
    constexpr size_t kMaxPlainZeros = 20;  // as Decimal::toString
    const size_t n = t.size();
    size_t i = 0;
    const bool negative = n > 0 && t[0] == '-';
    i += negative ? 1 : 0;
    const size_t intStart = i;
    while (i < n && isDigit(t[i])) {
        ++i;
    }
    const size_t intLength = i - intStart;
    if (intLength == 0 || (intLength > 1 && t[intStart] == '0')) {
        return false;
    }
    const bool intIsZero = t[intStart] == '0';
    if (i == n) {
        if (intIsZero) {
            return !negative;
        }
        size_t zeros = 0;
        while (zeros < intLength && t[n - 1 - zeros] == '0') {
            ++zeros;
        }
        return zeros <= kMaxPlainZeros;
    }
    if (t[i] != '.') {
        return false;
    }
    const size_t fracStart = ++i;
    while (i < n && isDigit(t[i])) {
        ++i;
    }
    if (i != n || i == fracStart || t[n - 1] == '0') {
        return false;
    }
    if (!intIsZero) {
        return true;
    }
    size_t zeros = 0;
    while (t[fracStart + zeros] == '0') {
        ++zeros;
    }
    return zeros <= kMaxPlainZeros;
}

}  // namespace

// ---- Date -------------------------------------------------------------------------

Date Date::now() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return Date{std::chrono::duration<double>(since).count()};
}

// ---- Dictionary ---------------------------------------------------------------------

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
    for (const Entry& e : entries) {
        set(e.first, e.second);
    }
}

Dictionary::Dictionary(const Dictionary& other) {
    if (other.size_ == 0) {
        return;
    }
    grow(other.size_);
    for (const Entry& e : other) {
        new (entries_ + size_) Entry(e);
        ++size_;
    }
    if (other.slots_ != nullptr) {
        rebuildIndex();
    }
}

Dictionary::Dictionary(Dictionary&& other) noexcept {
    *this = std::move(other);
}

Dictionary& Dictionary::operator=(const Dictionary& other) {
    if (this != &other) {
        Dictionary copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Dictionary& Dictionary::operator=(Dictionary&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    if (other.inArena_) {
        // Arena storage is never taken over: whoever holds it must not see it change.
        Dictionary copy(other);
        return *this = std::move(copy);
    }
    freeStorage();
    entries_ = std::exchange(other.entries_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    slots_ = std::exchange(other.slots_, nullptr);
    indexMask_ = std::exchange(other.indexMask_, 0);
    inArena_ = false;
    return *this;
}

void Dictionary::freeStorage() noexcept {
    if (!inArena_) {
        std::destroy_n(entries_, size_);
        ::operator delete(entries_);
        delete[] slots_;
    }
    entries_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    slots_ = nullptr;
    indexMask_ = 0;
    inArena_ = false;
}

void Dictionary::thaw() {
    if (inArena_) {
        Dictionary copy(*this);
        *this = std::move(copy);
    }
}

void Dictionary::grow(size_t capacity) {
    if (capacity <= capacity_) {
        return;
    }
    if (capacity > std::numeric_limits<uint32_t>::max()) {
        throw std::length_error("dictionary too large");
    }
    auto* fresh = static_cast<Entry*>(::operator new(capacity * sizeof(Entry)));
    for (uint32_t i = 0; i < size_; ++i) {
        new (fresh + i) Entry(std::move(entries_[i]));
        entries_[i].~Entry();
    }
    ::operator delete(entries_);
    entries_ = fresh;
    capacity_ = static_cast<uint32_t>(capacity);
}

size_t Dictionary::indexCapacity(size_t entries) {
    size_t capacity = 64;
    while (capacity < entries * 2) {
        capacity *= 2;
    }
    return capacity;
}

size_t Dictionary::indexOf(const String& key) const {
    if (slots_ == nullptr) {
        // The sixteen-byte comparison of inline texts settles most keys at once.
        for (size_t i = 0; i < size_; ++i) {
            if (entries_[i].first == key) {
                return i;
            }
        }
        return npos;
    }
    return indexOf(key.view());
}

size_t Dictionary::indexOf(std::string_view key) const {
    if (slots_ == nullptr) {
        for (size_t i = 0; i < size_; ++i) {
            if (entries_[i].first == key) {
                return i;
            }
        }
        return npos;
    }
    for (size_t slot = hashKey(key) & indexMask_;; slot = (slot + 1) & indexMask_) {
        const uint32_t at = slots_[slot];
        if (at == 0) {
            return npos;
        }
        if (entries_[at - 1].first == key) {
            return at - 1;
        }
    }
}

void Dictionary::rebuildIndex() {
    delete[] slots_;
    slots_ = nullptr;
    indexMask_ = 0;
    if (size_ < kIndexFrom) {
        return;
    }
    const size_t capacity = indexCapacity(size_);
    slots_ = new uint32_t[capacity]();
    indexMask_ = static_cast<uint32_t>(capacity - 1);
    for (size_t i = 0; i < size_; ++i) {
        addToIndex(i);
    }
}

void Dictionary::addToIndex(size_t position) {
    size_t slot = hashKey(entries_[position].first) & indexMask_;
    while (slots_[slot] != 0) {
        slot = (slot + 1) & indexMask_;
    }
    slots_[slot] = static_cast<uint32_t>(position + 1);
}

void Dictionary::set(String key, Value value) {
    thaw();
    const size_t at = indexOf(key);
    if (at != npos) {
        entries_[at].second = std::move(value);
        return;
    }
    if (size_ == capacity_) {
        grow(capacity_ < 4 ? 4 : size_t{capacity_} * 2);
    }
    new (entries_ + size_) Entry(std::move(key), std::move(value));
    ++size_;
    if (slots_ == nullptr || size_t{size_} * 2 > size_t{indexMask_} + 1) {
        if (size_ >= kIndexFrom) {
            rebuildIndex();
        }
    } else {
        addToIndex(size_ - 1);
    }
}

void Dictionary::fill(std::span<Entry> from) {
    if (slots_ != nullptr) {
        for (Entry& e : from) {
            const size_t at = indexOf(e.first.view());
            if (at != npos) {
                entries_[at].second = std::move(e.second);
                continue;
            }
            new (entries_ + size_) Entry(std::move(e.first), std::move(e.second));
            addToIndex(size_++);
        }
        return;
    }
    // Keys are nearly always distinct: a 64-bit filter of their hashes tells most of
    // them so without comparing against every earlier key.
    uint64_t seen = 0;
    for (Entry& e : from) {
        const uint64_t bit = uint64_t{1} << (e.first.quickHash() >> 58);
        const size_t at = (seen & bit) != 0 ? indexOf(e.first) : npos;
        seen |= bit;
        if (at != npos) {
            entries_[at].second = std::move(e.second);
        } else {
            new (entries_ + size_) Entry(std::move(e.first), std::move(e.second));
            ++size_;
        }
    }
}

Dictionary Dictionary::fromEntries(std::span<Entry> entries) {
    Dictionary d;
    d.grow(entries.size());
    if (entries.size() >= kIndexFrom) {
        const size_t capacity = indexCapacity(entries.size());
        d.slots_ = new uint32_t[capacity]();
        d.indexMask_ = static_cast<uint32_t>(capacity - 1);
    }
    d.fill(entries);
    return d;
}

const Value* Dictionary::find(std::string_view key) const {
    const size_t at = indexOf(key);
    return at == npos ? nullptr : &entries_[at].second;
}

Value* Dictionary::find(std::string_view key) {
    thaw();
    const size_t at = indexOf(key);
    return at == npos ? nullptr : &entries_[at].second;
}

bool Dictionary::remove(std::string_view key) {
    thaw();
    const size_t at = indexOf(key);
    if (at == npos) {
        return false;
    }
    std::move(entries_ + at + 1, entries_ + size_, entries_ + at);
    entries_[--size_].~Entry();
    rebuildIndex();
    return true;
}

void Dictionary::clear() {
    freeStorage();
}

void Dictionary::reserve(size_t count) {
    thaw();
    grow(count);
}

std::vector<std::string> Dictionary::keys() const {
    std::vector<std::string> out;
    out.reserve(size_);
    for (const Entry& e : *this) {
        out.push_back(e.first.str());
    }
    return out;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
    if (a.size() != b.size()) {
        return false;
    }
    // Keys are unique, so same size plus every key of `a` matching settles it.
    for (size_t i = 0; i < a.size_; ++i) {
        const Dictionary::Entry& e = a.entries_[i];
        // Dictionaries read from the same kind of text usually share their key order.
        const Value* other =
            b.entries_[i].first == e.first ? &b.entries_[i].second : b.find(e.first);
        if (other == nullptr || !(*other == e.second)) {
            return false;
        }
    }
    return true;
}

// ---- Value storage --------------------------------------------------------------------

Value::Counted* Value::counted() const {
    Counted* c;
    std::memcpy(&c, s_.raw_, sizeof c);
    return c;
}

template <class T>
Value::Box<T>* Value::box() const {
    return static_cast<Box<T>*>(counted());
}

void Value::setBox(Counted* c, Kind k) {
    setKind(k);
    std::memcpy(s_.raw_, &c, sizeof c);
}

double Value::storedDouble() const {
    double d;
    std::memcpy(&d, s_.raw_, sizeof d);
    return d;
}

void Value::setDouble(double d, Kind k) {
    setKind(k);
    std::memcpy(s_.raw_, &d, sizeof d);
}

void Value::retainBox() noexcept {
    counted()->refs.fetch_add(1, std::memory_order_relaxed);
}

void Value::retainArena() noexcept {
    if (s_.isHeap()) {
        s_.retainArena();
        return;
    }
    ValueArena::at(counted(), counted()->chunkOffset)->retain();
    s_.raw_[String::kTagByte] &= static_cast<unsigned char>(~String::kBorrowedBit);
}

Value& Value::operator=(const Value& other) noexcept {
    if (this != &other) {
        Value copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void Value::releaseBox() noexcept {
    const Kind k = kind();
    const unsigned char tag = s_.raw_[String::kTagByte];
    Counted* owned = counted();
    setKind(kNull);
    if ((tag & String::kArenaBit) != 0) {
        if ((tag & String::kBorrowedBit) == 0) {
            ValueArena::at(owned, owned->chunkOffset)->release();
        }
        return;
    }
    if (owned->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) {
        return;
    }
    if (k == kData) {
        delete static_cast<Box<Data>*>(owned);
        return;
    }
    // The last owner of a container: move the children out first so that destroying
    // them never recurses more than one level, however deep the tree. Children in an
    // arena only let go of it, with no recursion, and stay behind.
    std::vector<Value> pending;
    auto takeChildren = [&pending](Kind kind, Counted* c) {
        if (kind == kArray) {
            auto* b = static_cast<Box<Array>*>(c);
            Array& a = b->item;
            if (pending.empty() && pending.capacity() == 0 && a.size() > 1) {
                pending.reserve(a.size());
            }
            for (Value& child : a) {
                if (child.kind() >= kArray && !child.inArena()) {
                    pending.push_back(std::move(child));
                }
            }
            delete b;
        } else {
            auto* b = static_cast<Box<Dictionary>*>(c);
            Dictionary& d = b->item;
            for (uint32_t i = 0; i < d.size_; ++i) {
                Value& child = d.entries_[i].second;
                if (child.kind() >= kArray && !child.inArena()) {
                    pending.push_back(std::move(child));
                }
            }
            delete b;
        }
    };
    takeChildren(k, owned);
    while (!pending.empty()) {
        Value child = std::move(pending.back());
        pending.pop_back();
        const Kind childKind = child.kind();
        Counted* childBox = child.counted();
        child.setKind(kNull);
        if (childBox->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            takeChildren(childKind, childBox);
        }
    }
}

template <class T>
T* Value::detached() {
    Box<T>* b = box<T>();
    // Arena containers never change; their owners may be anywhere.
    if (inArena() || b->refs.load(std::memory_order_acquire) != 1) {
        auto* copy = new Box<T>{{}, b->item};
        const Kind k = kind();
        releaseBox();
        setBox(copy, k);
        return &copy->item;
    }
    return &b->item;
}

Value::Value(bool b) noexcept : s_(String::Uninitialised{}) {
    setKind(kBool);
    s_.raw_[0] = b ? 1 : 0;
}

Value::Value(int64_t i, std::nullptr_t) : Value() {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, i);
    (void)ec;
    *this = numberFromCheckedText(std::string_view(buf, static_cast<size_t>(end - buf)));
}

Value::Value(uint64_t i, std::nullptr_t) : Value() {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, i);
    (void)ec;
    *this = numberFromCheckedText(std::string_view(buf, static_cast<size_t>(end - buf)));
}

Value::Value(double d) : Value() {
    if (std::optional<Decimal> exact = Decimal::fromDouble(d)) {
        *this = Value(*exact);
    } else {
        setDouble(d, kNonFinite);
    }
}

Value::Value(const Decimal& d) : s_(d.toString()) {
    s_.raw_[String::kTagByte] =
        static_cast<unsigned char>((s_.raw_[String::kTagByte] & String::kHeapBit) | kNumber);
}

Value::Value(Data d) : s_(String::Uninitialised{}) {
    setBox(new Box<Data>{{}, std::move(d)}, kData);
}

Value::Value(Date d) noexcept : s_(String::Uninitialised{}) {
    setDouble(d.secondsSince1970, kDate);
}

Value::Value(Array a) : s_(String::Uninitialised{}) {
    setBox(new Box<Array>{{}, std::move(a)}, kArray);
}

Value::Value(Dictionary d) : s_(String::Uninitialised{}) {
    setBox(new Box<Dictionary>{{}, std::move(d)}, kDictionary);
}

Value Value::numberFromCheckedText(std::string_view text) {
    Value v{String(text)};
    v.s_.raw_[String::kTagByte] =
        static_cast<unsigned char>((v.s_.raw_[String::kTagByte] & String::kHeapBit) | kNumber);
    return v;
}

// ---- Value access -----------------------------------------------------------------------

Value::Type Value::type() const {
    static constexpr Type kTypes[] = {Type::Null,   Type::Bool,   Type::Number,
                                      Type::String, Type::Number, Type::Date,
                                      Type::Data,   Type::Array,  Type::Dictionary};
    return kTypes[kind()];
}

const Data* Value::data() const {
    return isData() ? &box<Data>()->item : nullptr;
}

const Date* Value::date() const {
    // Date is a struct of one double, stored as that double.
    static_assert(sizeof(Date) == sizeof(double));
    return isDate() ? reinterpret_cast<const Date*>(s_.raw_) : nullptr;
}

const Array* Value::array() const {
    return isArray() ? &box<Array>()->item : nullptr;
}

const Dictionary* Value::dictionary() const {
    return isDictionary() ? &box<Dictionary>()->item : nullptr;
}

Array* Value::array() {
    return isArray() ? detached<Array>() : nullptr;
}

Dictionary* Value::dictionary() {
    return isDictionary() ? detached<Dictionary>() : nullptr;
}

std::optional<Decimal> Value::decimal() const {
    if (isBool()) {
        return Decimal(s_.raw_[0] ? 1 : 0);
    }
    if (kind() != kNumber) {
        return std::nullopt;
    }
    return Decimal::fromString(numberText());
}

void Value::appendNumberText(std::string& out) const {
    if (kind() != kNumber) {
        return;
    }
    const std::string_view text = numberText();
    if (isCanonicalNumberText(text)) {
        out.append(text);
    } else if (std::optional<Decimal> d = Decimal::fromString(text)) {
        out.append(d->toString());
    }
}

int64_t Value::integerValue() const {
    switch (kind()) {
        case kBool:
            return s_.raw_[0];
        case kNumber: {
            const std::string_view text = numberText();
            int64_t v = 0;
            if (text.size() <= 18 && isPlainInteger(text)) {
                std::from_chars(text.data(), text.data() + text.size(), v);
                return v;
            }
            return Decimal::fromString(text).value_or(Decimal()).toInt64();
        }
        case kNonFinite: {
            const double d = storedDouble();
            if (std::isnan(d)) {
                return 0;
            }
            return d > 0 ? std::numeric_limits<int64_t>::max()
                         : std::numeric_limits<int64_t>::min();
        }
        case kString:
            return leadingInteger(s_.view());
        default:
            return 0;
    }
}

double Value::doubleValue() const {
    switch (kind()) {
        case kBool:
            return s_.raw_[0] ? 1.0 : 0.0;
        case kNumber: {
            // from_chars rounds the text correctly, as Decimal::toDouble does; zero (for
            // its sign), overflow and underflow take Decimal's rules.
            const std::string_view text = numberText();
            double v = 0;
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
            if (ec == std::errc() && end == text.data() + text.size() && v != 0 &&
                std::isfinite(v)) {
                return v;
            }
            return Decimal::fromString(text).value_or(Decimal()).toDouble();
        }
        case kNonFinite:
            return storedDouble();
        case kString:
            return leadingDouble(s_.view());
        default:
            return 0;
    }
}

bool Value::boolValue() const {
    switch (kind()) {
        case kBool:
            return s_.raw_[0] != 0;
        case kNumber:
            return !isZeroNumberText(numberText());
        case kNonFinite:
            return true;
        case kString:
            return leadingBool(s_.view());
        default:
            return false;
    }
}

std::string Value::stringValue() const {
    if (isString()) {
        return s_.str();
    }
    if (isNull()) {
        return "";
    }
    return describe();
}

const Value& Value::operator[](std::string_view key) const {
    const Dictionary* d = dictionary();
    const Value* v = d ? d->find(key) : nullptr;
    return v ? *v : null();
}

const Value& Value::operator[](size_t index) const {
    const Array* a = array();
    return (a && index < a->size()) ? (*a)[index] : null();
}

size_t Value::size() const {
    if (const Array* a = array()) {
        return a->size();
    }
    if (const Dictionary* d = dictionary()) {
        return d->size();
    }
    return 0;
}

const Value& Value::null() {
    static const Value kNull;
    return kNull;
}

std::string Value::describe() const {
    return describe(0);
}

std::string Value::describe(int level) const {
    std::string out;
    if (const Array* a = array()) {
        out.push_back('(');
        out.push_back('\n');
        for (size_t i = 0; i < a->size(); ++i) {
            appendIndent(out, level + 1);
            (*a)[i].appendNested(out, level + 1);
            out.append(i + 1 < a->size() ? ",\n" : "\n");
        }
        appendIndent(out, level);
        out.push_back(')');
        return out;
    }
    if (const Dictionary* d = dictionary()) {
        out.append("{\n");
        for (const Dictionary::Entry& e : *d) {
            appendIndent(out, level + 1);
            appendQuotedIfNeeded(out, e.first);
            out.append(" = ");
            e.second.appendNested(out, level + 1);
            out.append(";\n");
        }
        appendIndent(out, level);
        out.push_back('}');
        return out;
    }
    switch (kind()) {
        case kNull:
            return "<null>";
        case kBool:
            return s_.raw_[0] ? "1" : "0";
        case kNumber:
            appendNumberText(out);
            return out;
        case kNonFinite:
            return nonFiniteText(storedDouble());
        case kString:
            return s_.str();
        case kData:
            return dataText(*data());
        case kDate:
            return dateText(*date());
        default:
            return out;
    }
}

void Value::appendNested(std::string& out, int level) const {
    if (isArray() || isDictionary()) {
        // The classic style repeats the nesting indent before the opening bracket.
        appendIndent(out, level);
        out.append(describe(level));
    } else if (isData()) {
        out.append(describe(level));
    } else {
        appendQuotedIfNeeded(out, describe(level));
    }
}

bool operator==(const Value& a, const Value& b) {
    const Value::Kind k = a.kind();
    if (k != b.kind()) {
        return false;
    }
    switch (k) {
        case Value::kNull:
            return true;
        case Value::kBool:
            return a.boolValue() == b.boolValue();
        case Value::kNumber:
            return a.numberText() == b.numberText() ||
                   Decimal::fromString(a.numberText()) == Decimal::fromString(b.numberText());
        case Value::kNonFinite: {
            // NaN equals NaN here: a copied value must stay equal to its original.
            const double x = a.storedDouble();
            const double y = b.storedDouble();
            return x == y || (std::isnan(x) && std::isnan(y));
        }
        case Value::kString:
            return a.s_ == b.s_;
        case Value::kDate:
            return *a.date() == *b.date();
        case Value::kData:
            return *a.data() == *b.data();
        case Value::kArray: {
            const Array* x = a.array();
            const Array* y = b.array();
            return x == y || *x == *y;
        }
        case Value::kDictionary: {
            const Dictionary* x = a.dictionary();
            const Dictionary* y = b.dictionary();
            return x == y || *x == *y;
        }
    }
    return false;
}

}  // namespace base
