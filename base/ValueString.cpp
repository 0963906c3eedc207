#include "base/ValueString.h"

#include "base/ValueArena.h"

#include <bit>
#include <new>
#include <ostream>

namespace base {

static_assert(std::endian::native == std::endian::little, "String packs its length little-endian");
static_assert(sizeof(String) == 16);

void String::assignHeap(std::string_view text, unsigned char tag) {
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

namespace {

ValueArena* arenaOfBlock(const void* block) {
    uint32_t offset;
    std::memcpy(&offset, block, sizeof offset);
    return ValueArena::at(block, offset);
}

}  // namespace

void String::retainArena() noexcept {
    arenaOfBlock(block())->retain();
    raw_[kTagByte] &= static_cast<unsigned char>(~kBorrowedBit);
}

void String::releaseArena() noexcept {
    arenaOfBlock(block())->release();
}

bool String::heapEquals(const String& other) const {
    const size_t n = heapSize();
    return n == other.heapSize() &&
           (block() == other.block() || std::memcmp(heapChars(), other.heapChars(), n) == 0);
}

std::ostream& operator<<(std::ostream& os, const String& s) {
    return os << s.view();
}

}  // namespace base
