#include "base/Value.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <limits>
#include <system_error>

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

size_t Dictionary::indexOf(std::string_view key) const {
    if (index_.empty()) {
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].first == key) {
                return i;
            }
        }
        return npos;
    }
    auto [first, last] = index_.equal_range(hashKey(key));
    for (auto it = first; it != last; ++it) {
        if (entries_[it->second].first == key) {
            return it->second;
        }
    }
    return npos;
}

void Dictionary::rebuildIndex() {
    index_.clear();
    if (entries_.size() < kIndexFrom) {
        return;
    }
    index_.reserve(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) {
        index_.emplace(hashKey(entries_[i].first), i);
    }
}

void Dictionary::set(std::string key, Value value) {
    const size_t at = indexOf(key);
    if (at != npos) {
        entries_[at].second = std::move(value);
        return;
    }
    const size_t hash = index_.empty() ? 0 : hashKey(key);
    entries_.emplace_back(std::move(key), std::move(value));
    if (entries_.size() == kIndexFrom) {
        rebuildIndex();
    } else if (entries_.size() > kIndexFrom) {
        index_.emplace(hash, entries_.size() - 1);
    }
}

const Value* Dictionary::find(std::string_view key) const {
    const size_t at = indexOf(key);
    return at == npos ? nullptr : &entries_[at].second;
}

Value* Dictionary::find(std::string_view key) {
    const size_t at = indexOf(key);
    return at == npos ? nullptr : &entries_[at].second;
}

bool Dictionary::remove(std::string_view key) {
    const size_t at = indexOf(key);
    if (at == npos) {
        return false;
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(at));
    rebuildIndex();
    return true;
}

void Dictionary::clear() {
    entries_.clear();
    index_.clear();
}

size_t Dictionary::size() const {
    return entries_.size();
}

bool Dictionary::empty() const {
    return entries_.empty();
}

std::vector<std::string> Dictionary::keys() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_) {
        out.push_back(e.first);
    }
    return out;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
    if (a.size() != b.size()) {
        return false;
    }
    // Keys are unique, so same size plus every key of `a` matching settles it.
    for (const Dictionary::Entry& e : a.entries_) {
        const Value* other = b.find(e.first);
        if (other == nullptr || !(*other == e.second)) {
            return false;
        }
    }
    return true;
}

// ---- Value --------------------------------------------------------------------------

Value::~Value() {
    auto uniquelyOwned = [](const auto& v) {
        if (auto* a = std::get_if<std::shared_ptr<Array>>(&v)) {
            return *a && a->use_count() == 1 && !(*a)->empty();
        }
        if (auto* d = std::get_if<std::shared_ptr<Dictionary>>(&v)) {
            return *d && d->use_count() == 1 && !(*d)->empty();
        }
        return false;
    };
    if (!uniquelyOwned(v_)) {
        return;
    }
    std::vector<Value> pending;
    auto detach = [&](auto& v) {
        if (auto* a = std::get_if<std::shared_ptr<Array>>(&v)) {
            for (Value& child : **a) {
                pending.push_back(std::move(child));
            }
            (*a)->clear();
        } else if (auto* d = std::get_if<std::shared_ptr<Dictionary>>(&v)) {
            for (auto& entry : (*d)->entries_) {
                pending.push_back(std::move(entry.second));
            }
            (*d)->entries_.clear();
            (*d)->index_.clear();
        }
    };
    detach(v_);
    while (!pending.empty()) {
        Value child = std::move(pending.back());
        pending.pop_back();
        if (uniquelyOwned(child.v_)) {
            detach(child.v_);
        }
    }
}

Value::Value(double d) {
    if (std::optional<Decimal> exact = Decimal::fromDouble(d)) {
        v_ = Number{std::move(*exact)};
    } else {
        v_ = Number{Decimal(), d, true};
    }
}

Value::Type Value::type() const {
    switch (v_.index()) {
        case 0:
            return Type::Null;
        case 1:
            return Type::Bool;
        case 2:
            return Type::Number;
        case 3:
            return Type::String;
        case 4:
            return Type::Data;
        case 5:
            return Type::Date;
        case 6:
            return Type::Array;
        default:
            return Type::Dictionary;
    }
}

const std::string* Value::string() const {
    return std::get_if<std::string>(&v_);
}
const Data* Value::data() const {
    return std::get_if<Data>(&v_);
}
const Date* Value::date() const {
    return std::get_if<Date>(&v_);
}

const Array* Value::array() const {
    const auto* p = std::get_if<std::shared_ptr<Array>>(&v_);
    return p ? p->get() : nullptr;
}

const Dictionary* Value::dictionary() const {
    const auto* p = std::get_if<std::shared_ptr<Dictionary>>(&v_);
    return p ? p->get() : nullptr;
}

Array* Value::array() {
    auto* p = std::get_if<std::shared_ptr<Array>>(&v_);
    if (p == nullptr) {
        return nullptr;
    }
    if (p->use_count() > 1) {
        *p = std::make_shared<Array>(**p);
    }
    return p->get();
}

Dictionary* Value::dictionary() {
    auto* p = std::get_if<std::shared_ptr<Dictionary>>(&v_);
    if (p == nullptr) {
        return nullptr;
    }
    if (p->use_count() > 1) {
        *p = std::make_shared<Dictionary>(**p);
    }
    return p->get();
}

std::optional<Decimal> Value::decimal() const {
    if (const bool* b = std::get_if<bool>(&v_)) {
        return Decimal(*b ? 1 : 0);
    }
    const Number* n = std::get_if<Number>(&v_);
    if (n == nullptr || n->isNonFinite) {
        return std::nullopt;
    }
    return n->exact;
}

bool Value::isNonFiniteNumber() const {
    const Number* n = std::get_if<Number>(&v_);
    return n != nullptr && n->isNonFinite;
}

int64_t Value::integerValue() const {
    if (const bool* b = std::get_if<bool>(&v_)) {
        return *b ? 1 : 0;
    }
    if (const Number* n = std::get_if<Number>(&v_)) {
        if (!n->isNonFinite) {
            return n->exact.toInt64();
        }
        if (std::isnan(n->nonFinite)) {
            return 0;
        }
        return n->nonFinite > 0 ? std::numeric_limits<int64_t>::max()
                                : std::numeric_limits<int64_t>::min();
    }
    if (const std::string* s = string()) {
        return leadingInteger(*s);
    }
    return 0;
}

double Value::doubleValue() const {
    if (const bool* b = std::get_if<bool>(&v_)) {
        return *b ? 1.0 : 0.0;
    }
    if (const Number* n = std::get_if<Number>(&v_)) {
        return n->isNonFinite ? n->nonFinite : n->exact.toDouble();
    }
    if (const std::string* s = string()) {
        return leadingDouble(*s);
    }
    return 0;
}

bool Value::boolValue() const {
    if (const bool* b = std::get_if<bool>(&v_)) {
        return *b;
    }
    if (const Number* n = std::get_if<Number>(&v_)) {
        return n->isNonFinite || !n->exact.isZero();
    }
    if (const std::string* s = string()) {
        return leadingBool(*s);
    }
    return false;
}

std::string Value::stringValue() const {
    if (const std::string* s = string()) {
        return *s;
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
    switch (type()) {
        case Type::Null:
            return "<null>";
        case Type::Bool:
            return std::get<bool>(v_) ? "1" : "0";
        case Type::Number: {
            const Number& n = std::get<Number>(v_);
            return n.isNonFinite ? nonFiniteText(n.nonFinite) : n.exact.toString();
        }
        case Type::String:
            return std::get<std::string>(v_);
        case Type::Data:
            return dataText(std::get<Data>(v_));
        case Type::Date:
            return dateText(std::get<Date>(v_));
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
    if (a.v_.index() != b.v_.index()) {
        return false;
    }
    if (const auto* n = std::get_if<Value::Number>(&a.v_)) {
        const auto& m = std::get<Value::Number>(b.v_);
        if (n->isNonFinite || m.isNonFinite) {
            // NaN equals NaN here: a copied value must stay equal to its original.
            return n->isNonFinite && m.isNonFinite &&
                   (n->nonFinite == m.nonFinite ||
                    (std::isnan(n->nonFinite) && std::isnan(m.nonFinite)));
        }
        return n->exact == m.exact;
    }
    if (const Array* x = a.array()) {
        const Array* y = b.array();
        return x == y || *x == *y;
    }
    if (const Dictionary* x = a.dictionary()) {
        const Dictionary* y = b.dictionary();
        return x == y || *x == *y;
    }
    switch (a.type()) {
        case Value::Type::Bool:
            return std::get<bool>(a.v_) == std::get<bool>(b.v_);
        case Value::Type::String:
            return *a.string() == *b.string();
        case Value::Type::Data:
            return *a.data() == *b.data();
        case Value::Type::Date:
            return *a.date() == *b.date();
        default:
            return true;  // null
    }
}

}  // namespace base
