#include "base/ValueString.h"

#include <bit>
#include <new>
#include <ostream>

namespace base {

static_assert(std::endian::native == std::endian::little, "String packs its length little-endian");
static_assert(sizeof(String) == 16);

void String::assign(std::string_view text, bool plain) {
    const unsigned char tag = kStringKind | (plain ? kPlainBit : 0);
    if (text.size() <= kInlineCapacity) {
        std::memset(raw_, 0, 16);
        if (!text.empty()) {
            std::memcpy(raw_, text.data(), text.size());
        }
        raw_[kLengthByte] = static_cast<unsigned char>(kInlineCapacity - text.size());
        raw_[kTagByte] = tag;
        return;
    }
    void* memory = ::operator new(kCharsOffset + text.size() + 1);
    Block* b = new (memory) Block{1};
    char* chars = static_cast<char*>(memory) + kCharsOffset;
    std::memcpy(chars, text.data(), text.size());
    chars[text.size()] = '\0';
    std::memcpy(raw_, &b, sizeof b);
    const uint64_t word =
        static_cast<uint64_t>(text.size()) | (static_cast<uint64_t>(tag | kHeapBit) << 56);
    std::memcpy(raw_ + 8, &word, 8);
}

void String::freeBlock(Block* block) noexcept {
    block->~Block();
    ::operator delete(static_cast<void*>(block));
}

bool String::equals(const String& other) const {
    const unsigned char heapA = raw_[kTagByte] & kHeapBit;
    if (heapA != (other.raw_[kTagByte] & kHeapBit)) {
        return false;  // texts up to 14 bytes are always inline, longer ones never
    }
    if (heapA == 0) {
        // Inline texts are NUL-padded, so equal texts have equal bytes.
        uint64_t a[2];
        uint64_t b[2];
        std::memcpy(a, raw_, 16);
        std::memcpy(b, other.raw_, 16);
        constexpr uint64_t kIgnoredTagBits = ~(uint64_t{kPlainBit} << 56);
        return a[0] == b[0] && ((a[1] ^ b[1]) & kIgnoredTagBits) == 0;
    }
    const size_t n = heapSize();
    return n == other.heapSize() &&
           (block() == other.block() || std::memcmp(heapChars(), other.heapChars(), n) == 0);
}

std::ostream& operator<<(std::ostream& os, const String& s) {
    return os << s.view();
}

}  // namespace base
