#pragma once
// A property-list-like value: null, bool, number, string, data, date, array or
// dictionary. Dictionaries keep insertion order; setting an existing key replaces
// the value and keeps its first position.
//
// Storage: every value is sixteen bytes. Strings and numbers keep their text (inline up
// to 14 bytes, else in a shared block; see String); numbers become a Decimal only when
// asked. Data, arrays and dictionaries live in shared, reference-counted boxes that are
// copied when a shared one is about to change (copy-on-write); the counts are atomic.
// The values of a parsed document live in its arena instead (see ValueArena.h).
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Decimal.h"
#include "base/ValueString.h"

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
    using Entry = std::pair<String, Value>;
    Dictionary() = default;
    Dictionary(std::initializer_list<Entry> entries);
    Dictionary(const Dictionary& other);
    Dictionary(Dictionary&& other) noexcept;
    Dictionary& operator=(const Dictionary& other);
    Dictionary& operator=(Dictionary&& other) noexcept;
    ~Dictionary() { freeStorage(); }

    // Replaces an existing key in place, else appends.
    void set(String key, Value value);
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    bool remove(std::string_view key);
    void clear();
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void reserve(size_t count);
    // The dictionary of `entries`, moved out of them in order; a repeated key keeps its
    // first position and takes the later value, as with set(). One allocation.
    static Dictionary fromEntries(std::span<Entry> entries);
    std::vector<std::string> keys() const;

    // Entries in order (defined after Value, which they hold).
    const Entry* begin() const;
    const Entry* end() const;

    // Deep equality; key order does not matter.
    friend bool operator==(const Dictionary& a, const Dictionary& b);

  private:
    friend class Value;  // takes entries apart when destroying deep trees
    friend class TreeBuilder;
    // Below this size a linear scan is fastest; from it on lookups go through the index.
    static constexpr size_t kIndexFrom = 16;
    static constexpr size_t npos = static_cast<size_t>(-1);
    static size_t indexCapacity(size_t entries);
    size_t indexOf(std::string_view key) const;
    size_t indexOf(const String& key) const;
    void rebuildIndex();
    void addToIndex(size_t position);
    // Appends the entries of `from` (moved out) into room already reserved, the index
    // (if any) already allocated for them; repeated keys as in set().
    void fill(std::span<Entry> from);
    void grow(size_t capacity);
    // Storage that belongs to an arena is never changed: a change works on a copy.
    void thaw();
    void freeStorage() noexcept;

    Entry* entries_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
    // Open addressing over positions in `entries_` plus one (zero marks a free slot),
    // `indexMask_ + 1` slots, a power of two kept at most half full. Built only for large
    // dictionaries, so that a reply with many thousands of keys does not make building
    // it quadratic.
    uint32_t* slots_ = nullptr;
    uint32_t indexMask_ = 0;
    bool inArena_ = false;  // `entries_` and `slots_` belong to an arena (see ValueArena.h)
};

class Value {
  public:
    enum class Type { Null, Bool, Number, String, Data, Date, Array, Dictionary };

    Value() noexcept : s_(String::Uninitialised{}) { setKind(kNull); }  // null
    Value(const Value& other) noexcept : s_(String::Uninitialised{}) { copyFrom(other); }
    Value(Value&& other) noexcept : s_(String::Uninitialised{}) { takeFrom(other); }
    Value& operator=(const Value& other) noexcept;
    Value& operator=(Value&& other) noexcept {
        if (this != &other) {
            // Let the old content go only after taking the new one: it may own `other`.
            Value old;
            old.takeFrom(*this);
            takeFrom(other);
        }
        return *this;
    }
    // Deep trees are taken apart without recursion, so no nesting depth can exhaust
    // the stack when the last owner lets go.
    ~Value() {
        if (kind() >= kData) {
            releaseBox();
        }
    }
    Value(std::nullptr_t) noexcept : Value() {}  // NOLINT(google-explicit-constructor)
    Value(bool b) noexcept;                      // NOLINT
    Value(int i) : Value(static_cast<int64_t>(i), nullptr) {}                  // NOLINT
    Value(long i) : Value(static_cast<int64_t>(i), nullptr) {}                 // NOLINT
    Value(long long i) : Value(static_cast<int64_t>(i), nullptr) {}            // NOLINT
    Value(unsigned i) : Value(static_cast<uint64_t>(i), nullptr) {}            // NOLINT
    Value(unsigned long i) : Value(static_cast<uint64_t>(i), nullptr) {}       // NOLINT
    Value(unsigned long long i) : Value(static_cast<uint64_t>(i), nullptr) {}  // NOLINT
    // Finite doubles become exact decimals of their shortest text; NaN and the
    // infinities are kept as doubles so writers can refuse them.
    Value(double d);                                          // NOLINT
    Value(const Decimal& d);                                  // NOLINT
    Value(String s) noexcept : s_(std::move(s)) {}            // NOLINT
    Value(const std::string& s) : s_(std::string_view(s)) {}  // NOLINT
    Value(std::string_view s) : s_(s) {}                      // NOLINT
    Value(const char* s) : s_(s) {}                           // NOLINT
    Value(Data d);                                            // NOLINT
    Value(Date d) noexcept;                                   // NOLINT
    Value(Array a);                                           // NOLINT
    Value(Dictionary d);                                      // NOLINT

    // A number from text that Decimal::fromString accepts (the caller has checked it,
    // as the JSON reader does); the text is kept and read only when the value is asked.
    static Value numberFromCheckedText(std::string_view text);

    Type type() const;
    bool isNull() const { return kind() == kNull; }
    bool isBool() const { return kind() == kBool; }
    bool isNumber() const { return kind() == kNumber || kind() == kNonFinite; }
    bool isString() const { return kind() == kString; }
    bool isData() const { return kind() == kData; }
    bool isDate() const { return kind() == kDate; }
    bool isArray() const { return kind() == kArray; }
    bool isDictionary() const { return kind() == kDictionary; }

    // Typed access; nullptr when the value is of another type.
    const String* string() const { return isString() ? &s_ : nullptr; }
    const Data* data() const;
    const Date* date() const;
    const Array* array() const;
    const Dictionary* dictionary() const;
    Array* array();            // copy-on-write: detaches shared storage
    Dictionary* dictionary();  // copy-on-write
    // The exact number (bools read as 0 or 1); none for non-numbers and non-finite doubles.
    std::optional<Decimal> decimal() const;
    bool isNonFiniteNumber() const { return kind() == kNonFinite; }
    // A finite number's plain decimal text, as Decimal::toString writes it.
    void appendNumberText(std::string& out) const;

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
    friend class TreeBuilder;
    // The kinds kept in the tag byte of `s_`; from kData on the value holds a box.
    enum Kind : unsigned char {
        kNull = 0,
        kBool = 1,
        kNumber = 2,  // text, inline or in a block like a string's
        kString = String::kStringKind,
        kNonFinite = 4,  // NaN or an infinity as a double
        kDate = 5,
        kData = 6,
        kArray = 7,
        kDictionary = 8,
    };
    struct Counted {
        std::atomic<uint32_t> refs{1};
        uint32_t chunkOffset = 0;  // of a box in an arena, which ignores `refs`
    };
    template <class T>
    struct Box : Counted {
        T item;
    };

    Value(int64_t i, std::nullptr_t);
    Value(uint64_t i, std::nullptr_t);

    Kind kind() const { return static_cast<Kind>(s_.raw_[String::kTagByte] & String::kKindMask); }
    void setKind(Kind k) {
        std::memset(s_.raw_, 0, 16);
        s_.raw_[String::kTagByte] = k;
    }
    std::string_view numberText() const { return s_.view(); }
    Counted* counted() const;
    template <class T>
    Box<T>* box() const;
    void setBox(Counted* box, Kind k);
    double storedDouble() const;
    void setDouble(double d, Kind k);
    bool inArena() const { return (s_.raw_[String::kTagByte] & String::kArenaBit) != 0; }
    void copyFrom(const Value& other) noexcept {
        std::memcpy(s_.raw_, other.s_.raw_, 16);
        if (inArena()) {
            retainArena();
        } else if (s_.isHeap()) {
            s_.block()->refs.fetch_add(1, std::memory_order_relaxed);
        } else if (kind() >= kData) {
            retainBox();
        }
    }
    void takeFrom(Value& other) noexcept {
        std::memcpy(s_.raw_, other.s_.raw_, 16);
        other.setKind(kNull);
    }
    // A copy of a value in an arena counts the arena and owns that count.
    void retainArena() noexcept;
    void retainBox() noexcept;
    void releaseBox() noexcept;
    template <class T>
    T* detached();

    std::string describe(int level) const;
    // Writes this value as an element of a collection nested `level` deep.
    void appendNested(std::string& out, int level) const;

    // Text kinds use it as a String; the other kinds reuse its sixteen bytes.
    String s_;
};

inline const Dictionary::Entry* Dictionary::begin() const {
    return entries_;
}
inline const Dictionary::Entry* Dictionary::end() const {
    return entries_ + size_;
}

}  // namespace base
