#pragma once
// The immutable text held by values and used as dictionary keys. Sixteen bytes: up to
// 14 bytes live inline, longer texts in one shared, reference-counted block (copies
// share it; the count is atomic, so values may be shared between threads). Texts of a
// parsed document live in the document's arena instead (see ValueArena.h), and a copy
// holds the arena. The text is always followed by a NUL byte, so c_str() costs nothing.
#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <string>
#include <string_view>
#include <type_traits>

namespace base {

class Value;

class String {
  public:
    // Longest text kept inline.
    static constexpr size_t kInlineCapacity = 14;

    String() noexcept { setEmpty(); }
    String(std::string_view text) { assign(text, false); }  // NOLINT(google-explicit-constructor)
    String(const char* text) : String(std::string_view(text ? text : "")) {}  // NOLINT
    String(const std::string& text) : String(std::string_view(text)) {}       // NOLINT
    // A text known to be valid UTF-8 without quotes, backslashes or control bytes:
    // writers may copy it between quotes as it is.
    static String plain(std::string_view text) {
        String s(Uninitialised{});
        s.assign(text, true);
        return s;
    }

    String(const String& other) noexcept { copyFrom(other); }
    String(String&& other) noexcept { takeFrom(other); }
    String& operator=(const String& other) noexcept {
        if (this != &other) {
            String copy(other);
            swap(copy);
        }
        return *this;
    }
    String& operator=(String&& other) noexcept {
        if (this != &other) {
            release();
            takeFrom(other);
        }
        return *this;
    }
    ~String() { release(); }

    const char* data() const {
        return isHeap() ? heapChars() : reinterpret_cast<const char*>(raw_);
    }
    const char* c_str() const { return data(); }
    size_t size() const { return isHeap() ? heapSize() : kInlineCapacity - raw_[kLengthByte]; }
    size_t length() const { return size(); }
    bool empty() const { return size() == 0; }
    const char* begin() const { return data(); }
    const char* end() const { return data() + size(); }
    char operator[](size_t i) const { return data()[i]; }
    std::string_view view() const { return {data(), size()}; }
    std::string str() const { return std::string(data(), size()); }
    operator std::string_view() const { return view(); }  // NOLINT(google-explicit-constructor)
    operator std::string() const { return str(); }        // NOLINT(google-explicit-constructor)
    // A cheap hash of the size and of up to the first and last eight bytes: equal texts
    // give equal values, different texts usually different ones.
    uint64_t quickHash() const {
        uint64_t w[2];
        if (isHeap()) {
            const size_t n = heapSize();
            std::memcpy(&w[0], heapChars(), 8);
            std::memcpy(&w[1], heapChars() + n - 8, 8);
            w[1] ^= n;
        } else {
            std::memcpy(w, raw_, 16);
            w[1] &= ~(uint64_t{kPlainBit | kBorrowedBit} << 56);
        }
        return (w[0] * 0x9E3779B97F4A7C15ull) ^ (w[1] * 0xC2B2AE3D27D4EB4Full);
    }
    // True when the text is known to need no escaping between JSON quotes (see plain()).
    bool isPlain() const { return (raw_[kTagByte] & kPlainBit) != 0; }

    void swap(String& other) noexcept {
        unsigned char tmp[16];
        std::memcpy(tmp, raw_, 16);
        std::memcpy(raw_, other.raw_, 16);
        std::memcpy(other.raw_, tmp, 16);
    }

    friend bool operator==(const String& a, const String& b) { return a.equals(b); }
    template <class T>
    requires(std::is_convertible_v<const T&, std::string_view> &&
             !std::is_same_v<std::remove_cvref_t<T>, String>) friend bool
    operator==(const String& a, const T& b) {
        return a.view() == std::string_view(b);
    }
    friend std::strong_ordering operator<=>(const String& a, const String& b) {
        return a.view() <=> b.view();
    }
    template <class T>
    requires(std::is_convertible_v<const T&, std::string_view> &&
             !std::is_same_v<std::remove_cvref_t<T>, String>) friend std::strong_ordering
    operator<=>(const String& a, const T& b) {
        return a.view() <=> std::string_view(b);
    }

    // Concatenation gives a std::string, as it would for the std::string this stands in for.
    friend std::string operator+(const String& a, const String& b) {
        return concat(a.view(), b.view());
    }
    template <class T>
    requires(std::is_convertible_v<const T&, std::string_view> &&
             !std::is_same_v<std::remove_cvref_t<T>, String>) friend std::string
    operator+(const String& a, const T& b) {
        return concat(a.view(), std::string_view(b));
    }
    template <class T>
    requires(std::is_convertible_v<const T&, std::string_view> &&
             !std::is_same_v<std::remove_cvref_t<T>, String>) friend std::string
    operator+(const T& a, const String& b) {
        return concat(std::string_view(a), b.view());
    }

    friend std::ostream& operator<<(std::ostream& os, const String& s);

  private:
    friend class Value;
    friend class TreeBuilder;
    struct Uninitialised {};
    static std::string concat(std::string_view a, std::string_view b) {
        std::string out;
        out.reserve(a.size() + b.size());
        out.append(a);
        out.append(b);
        return out;
    }
    explicit String(Uninitialised) noexcept {}

    // Layout, little-endian: inline texts use bytes 0-13 for the text (NUL-padded) and
    // byte 14 for 14 minus the length, which is the terminating NUL of a 14-byte text.
    // Heap texts keep the block pointer in bytes 0-7 and the length in bytes 8-13.
    // Byte 15 is the tag: the value kind in the low bits (Value stores its other kinds
    // in the same sixteen bytes), kHeapBit, kPlainBit and the two arena bits. A block in
    // an arena (kArenaBit) starts with its distance from its arena chunk instead of a
    // count; a reference that also has kBorrowedBit is one of the document's own, kept
    // inside the arena or by the reader building it, and holds no count of the arena.
    static constexpr size_t kLengthByte = 14;
    static constexpr size_t kTagByte = 15;
    static constexpr unsigned char kKindMask = 0x0f;
    static constexpr unsigned char kBorrowedBit = 0x10;
    static constexpr unsigned char kArenaBit = 0x20;
    static constexpr unsigned char kPlainBit = 0x40;
    static constexpr unsigned char kHeapBit = 0x80;
    static constexpr unsigned char kStringKind = 3;
    static constexpr uint64_t kSizeMask = (uint64_t{1} << 48) - 1;

    struct Block {
        std::atomic<uint32_t> refs;
    };
    static constexpr size_t kCharsOffset = sizeof(Block);

    bool isHeap() const { return (raw_[kTagByte] & kHeapBit) != 0; }
    Block* block() const {
        Block* b;
        std::memcpy(&b, raw_, sizeof b);
        return b;
    }
    const char* heapChars() const { return reinterpret_cast<const char*>(block()) + kCharsOffset; }
    size_t heapSize() const {
        uint64_t word;
        std::memcpy(&word, raw_ + 8, 8);
        return static_cast<size_t>(word & kSizeMask);
    }
    void setEmpty() {
        std::memset(raw_, 0, 16);
        raw_[kLengthByte] = kInlineCapacity;
        raw_[kTagByte] = kStringKind;
    }
    // Stores `text` with the string kind; `plain` as for plain().
    void assign(std::string_view text, bool plain) {
        const unsigned char tag = kStringKind | (plain ? kPlainBit : 0);
        if (text.size() > kInlineCapacity) {
            assignHeap(text, tag);
            return;
        }
        std::memset(raw_, 0, 16);
        if (!text.empty()) {
            std::memcpy(raw_, text.data(), text.size());
        }
        raw_[kLengthByte] = static_cast<unsigned char>(kInlineCapacity - text.size());
        raw_[kTagByte] = tag;
    }
    void assignHeap(std::string_view text, unsigned char tag);
    void copyFrom(const String& other) noexcept {
        std::memcpy(raw_, other.raw_, 16);
        if (isHeap()) {
            if ((raw_[kTagByte] & kArenaBit) != 0) {
                retainArena();
            } else {
                block()->refs.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }
    void takeFrom(String& other) noexcept {
        std::memcpy(raw_, other.raw_, 16);
        other.setEmpty();
    }
    void release() noexcept {
        if (!isHeap()) {
            return;
        }
        if ((raw_[kTagByte] & kArenaBit) != 0) {
            if ((raw_[kTagByte] & kBorrowedBit) == 0) {
                releaseArena();
            }
        } else if (block()->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            freeBlock(block());
        }
    }
    static void freeBlock(Block* block) noexcept;
    // A copy of an arena text: counts the arena and owns that count.
    void retainArena() noexcept;
    void releaseArena() noexcept;
    bool equals(const String& other) const {
        uint64_t a[2];
        uint64_t b[2];
        std::memcpy(a, raw_, 16);
        std::memcpy(b, other.raw_, 16);
        // Inline texts are NUL-padded, so equal texts have equal bytes; the plain and
        // borrowed bits say nothing about the text itself.
        constexpr uint64_t kIgnoredTagBits = ~(uint64_t{kPlainBit | kBorrowedBit} << 56);
        if (a[0] == b[0] && ((a[1] ^ b[1]) & kIgnoredTagBits) == 0) {
            return true;
        }
        // Texts up to 14 bytes are always inline, longer ones never.
        return isHeap() && other.isHeap() && heapEquals(other);
    }
    bool heapEquals(const String& other) const;

    alignas(8) unsigned char raw_[16];
};

}  // namespace base
