#include "base/ValueArena.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>
#include <utility>

namespace base {

// ---- ValueArena ---------------------------------------------------------------------

ValueArena* ValueArena::create(size_t expectedBytes) {
    auto* arena = new ValueArena;
    // A document's values take about as much room as its text; later chunks double.
    arena->nextChunk_ = std::clamp(expectedBytes, kMinChunk, kMaxChunk);
    return arena;
}

ValueArena::Chunk* ValueArena::newChunk(size_t bytes) {
    auto* chunk = static_cast<Chunk*>(::operator new(bytes));
    chunk->arena = this;
    chunk->next = chunk_;
    return chunk;
}

ValueArena::Place ValueArena::allocateInNewChunk(size_t bytes, size_t align) {
    const size_t needed = sizeof(Chunk) + bytes + align;
    if (needed > std::numeric_limits<uint32_t>::max()) {
        throw std::bad_alloc();
    }
    if (needed > nextChunk_ / 2) {
        // A large object gets a chunk of its own behind the current one, which stays
        // open for the small objects that follow.
        Chunk* own = newChunk(needed);
        if (chunk_ != nullptr) {
            own->next = chunk_->next;
            chunk_->next = own;
        } else {
            own->next = nullptr;
            chunk_ = own;
            cursor_ = limit_ = reinterpret_cast<char*>(own) + needed;
        }
        const uintptr_t start = reinterpret_cast<uintptr_t>(own + 1);
        const uintptr_t at = (start + align - 1) & ~(uintptr_t{align} - 1);
        return {reinterpret_cast<void*>(at),
                static_cast<uint32_t>(at - reinterpret_cast<uintptr_t>(own))};
    }
    chunk_ = newChunk(nextChunk_);
    cursor_ = reinterpret_cast<char*>(chunk_ + 1);
    limit_ = reinterpret_cast<char*>(chunk_) + nextChunk_;
    nextChunk_ = std::min(nextChunk_ * 2, kMaxChunk);
    return allocate(bytes, align);
}

void ValueArena::destroy() noexcept {
    for (Array* elements : arrays_) {
        // The elements are the document's own: destroying them releases nothing.
        std::destroy_at(elements);
    }
    for (Chunk* chunk = chunk_; chunk != nullptr;) {
        Chunk* next = chunk->next;
        ::operator delete(static_cast<void*>(chunk));
        chunk = next;
    }
    delete this;
}

// ---- TreeBuilder --------------------------------------------------------------------

TreeBuilder::TreeBuilder(size_t expectedBytes) : arena_(ValueArena::create(expectedBytes)) {}

void TreeBuilder::assignText(String& s, std::string_view text, unsigned char tag) {
    const ValueArena::Place place =
        arena_->allocate(String::kCharsOffset + text.size() + 1, alignof(String::Block));
    char* block = static_cast<char*>(place.at);
    std::memcpy(block, &place.offset, sizeof place.offset);
    std::memcpy(block + String::kCharsOffset, text.data(), text.size());
    block[String::kCharsOffset + text.size()] = '\0';
    std::memcpy(s.raw_, &block, sizeof block);
    const unsigned char bits = tag | String::kHeapBit | String::kArenaBit | String::kBorrowedBit;
    const uint64_t word = static_cast<uint64_t>(text.size()) | (static_cast<uint64_t>(bits) << 56);
    std::memcpy(s.raw_ + 8, &word, 8);
}

Value TreeBuilder::array(std::span<Value> elements) {
    using Box = Value::Box<Array>;
    const ValueArena::Place place = arena_->allocate(sizeof(Box), alignof(Box));
    auto* box = new (place.at) Box{};
    box->chunkOffset = place.offset;
    if (!elements.empty()) {
        box->item.reserve(elements.size());
        for (Value& element : elements) {
            box->item.emplace_back(std::move(element));
        }
        arena_->adoptElements(box->item);
    }
    Value v;
    v.setBox(box, Value::kArray);
    v.s_.raw_[String::kTagByte] |= String::kArenaBit | String::kBorrowedBit;
    return v;
}

Value TreeBuilder::dictionary(std::span<Dictionary::Entry> members) {
    using Box = Value::Box<Dictionary>;
    using Entry = Dictionary::Entry;
    const ValueArena::Place place = arena_->allocate(sizeof(Box), alignof(Box));
    auto* box = new (place.at) Box{};
    box->chunkOffset = place.offset;
    Dictionary& d = box->item;
    d.inArena_ = true;
    if (!members.empty()) {
        d.entries_ = static_cast<Entry*>(
            arena_->allocate(members.size() * sizeof(Entry), alignof(Entry)).at);
        d.capacity_ = static_cast<uint32_t>(members.size());
        if (members.size() >= Dictionary::kIndexFrom) {
            const size_t capacity = Dictionary::indexCapacity(members.size());
            d.slots_ = static_cast<uint32_t*>(
                arena_->allocate(capacity * sizeof(uint32_t), alignof(uint32_t)).at);
            std::fill_n(d.slots_, capacity, 0);
            d.indexMask_ = static_cast<uint32_t>(capacity - 1);
        }
        d.fill(members);
    }
    Value v;
    v.setBox(box, Value::kDictionary);
    v.s_.raw_[String::kTagByte] |= String::kArenaBit | String::kBorrowedBit;
    return v;
}

Value TreeBuilder::finish(Value root) {
    if (root.inArena()) {
        root.retainArena();
    }
    return root;
}

}  // namespace base
