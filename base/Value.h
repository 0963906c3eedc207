#pragma once
// A property-list-like value: null, bool, number, string, data, date, array or
// dictionary. Dictionaries keep insertion order; setting an existing key replaces
// the value and keeps its first position.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "base/Decimal.h"

namespace base {

class Value;
using Data = std::vector<uint8_t>;
using Array = std::vector<Value>;

// A point in time as seconds since 1970-01-01 00:00:00 UTC.
struct Date {
    double secondsSince1970 = 0;
    static Date now();
    friend bool operator==(const Date&, const Date&) = default;
    friend auto operator<=>(const Date&, const Date&) = default;
};

class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;
    Dictionary() = default;
    Dictionary(std::initializer_list<Entry> entries);

    // Replaces an existing key in place, else appends.
    void set(std::string key, Value value);
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    bool remove(std::string_view key);
    // clear, size and empty are out of line: Value is still incomplete here, and clang
    // will not instantiate vector members that need its size.
    void clear();
    size_t size() const;
    bool empty() const;
    std::vector<std::string> keys() const;

    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    // Deep equality; key order does not matter.
    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    friend class Value;  // takes entries apart when destroying deep trees
    // Below this size a linear scan is fastest; from it on lookups go through `index_`.
    static constexpr size_t kIndexFrom = 16;
    static constexpr size_t npos = static_cast<size_t>(-1);
    size_t indexOf(std::string_view key) const;
    void rebuildIndex();

    std::vector<Entry> entries_;
    // Key hash -> position in `entries_`, kept only for large dictionaries so that a
    // reply with many thousands of keys does not make building it quadratic.
    std::unordered_multimap<size_t, size_t> index_;
};

class Value {
public:
    enum class Type { Null, Bool, Number, String, Data, Date, Array, Dictionary };

    Value() = default;  // null
    Value(const Value&) = default;
    Value(Value&&) noexcept = default;
    Value& operator=(const Value&) = default;
    Value& operator=(Value&&) noexcept = default;
    // Deep trees are taken apart without recursion, so no nesting depth can exhaust
    // the stack when the last owner lets go.
    ~Value();
    Value(std::nullptr_t) {}                  // NOLINT(google-explicit-constructor)
    Value(bool b) : v_(b) {}                  // NOLINT
    Value(int i) : v_(Number{Decimal(i)}) {}  // NOLINT
    Value(long i) : v_(Number{Decimal(static_cast<int64_t>(i))}) {}                // NOLINT
    Value(long long i) : v_(Number{Decimal(static_cast<int64_t>(i))}) {}           // NOLINT
    Value(unsigned i) : v_(Number{Decimal(static_cast<uint64_t>(i))}) {}           // NOLINT
    Value(unsigned long i) : v_(Number{Decimal(static_cast<uint64_t>(i))}) {}      // NOLINT
    Value(unsigned long long i) : v_(Number{Decimal(static_cast<uint64_t>(i))}) {} // NOLINT
    // Finite doubles become exact decimals of their shortest text; NaN and the
    // infinities are kept as doubles so writers can refuse them.
    Value(double d);                                                // NOLINT
    Value(Decimal d) : v_(Number{std::move(d)}) {}                  // NOLINT
    Value(std::string s) : v_(std::move(s)) {}                      // NOLINT
    Value(std::string_view s) : v_(std::string(s)) {}               // NOLINT
    Value(const char* s) : v_(std::string(s ? s : "")) {}           // NOLINT
    Value(Data d) : v_(std::move(d)) {}                             // NOLINT
    Value(Date d) : v_(d) {}                                        // NOLINT
    Value(Array a) : v_(std::make_shared<Array>(std::move(a))) {}   // NOLINT
    Value(Dictionary d) : v_(std::make_shared<Dictionary>(std::move(d))) {}  // NOLINT

    Type type() const;
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isNumber() const { return type() == Type::Number; }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }

    // Typed access; nullptr when the value is of another type.
    const std::string* string() const;
    const Data* data() const;
    const Date* date() const;
    const Array* array() const;
    const Dictionary* dictionary() const;
    Array* array();            // copy-on-write: detaches shared storage
    Dictionary* dictionary();  // copy-on-write
    // The exact number (bools read as 0 or 1); none for non-numbers and non-finite doubles.
    std::optional<Decimal> decimal() const;
    bool isNonFiniteNumber() const;

    // Conversions that mirror what callers of the original relied on.
    // Number: truncated. Bool: 0/1. String: leading whitespace, optional sign, digits;
    // anything else reads as 0. Others: 0.
    int64_t integerValue() const;
    double doubleValue() const;  // numbers; strings read as decimal text; else 0
    // Bool; numbers are true when non-zero; strings are true when, after leading
    // whitespace and an optional sign and zeros, they start with Y, y, T, t or 1-9.
    bool boolValue() const;
    // String as is; numbers as plain decimal text; bools as "1"/"0"; null as ""; others describe().
    std::string stringValue() const;

    // Dictionary and array lookup; a shared null value when missing or of another type.
    const Value& operator[](std::string_view key) const;
    const Value& operator[](size_t index) const;
    size_t size() const;  // elements of arrays and dictionaries, else 0

    // A readable rendering used by %@: strings as themselves, numbers as decimal text,
    // bools as 1/0, null as "<null>", data as "<0a1b...>", dates as
    // "2026-12-09 04:26:31 +0000", arrays "(\n    a,\n    b\n)" and dictionaries
    // "{\n    key = value;\n}" in the classic property-list text style.
    std::string describe() const;

    // Deep equality; numbers compare by value, a bool equals the number 0 or 1 only
    // if both are bools (true != 1).
    friend bool operator==(const Value& a, const Value& b);

    static const Value& null();

private:
    std::string describe(int level) const;
    // Writes this value as an element of a collection nested `level` deep.
    void appendNested(std::string& out, int level) const;

    struct Number {
        Decimal exact;
        double nonFinite = 0;  // used only when `isNonFinite`
        bool isNonFinite = false;
    };
    std::variant<std::monostate, bool, Number, std::string, Data, Date,
                 std::shared_ptr<Array>, std::shared_ptr<Dictionary>>
        v_;
};

}  // namespace base
