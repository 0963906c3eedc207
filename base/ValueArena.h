#pragma once
// The storage of a parsed document. A reader builds its tree through a TreeBuilder:
// long texts, dictionary boxes and their entries, and array boxes are cut from one
// chunked arena instead of one heap block each, and the tree's own references into the
// arena are borrowed: they hold no count, so building the tree needs no atomic
// operation and letting go of it needs one, not a walk over every value.
//
// The arena counts the values outside it that refer into it (a copy of any part of the
// tree counts once) and is freed, from whichever thread, when the last goes. Arena
// containers never change: asking for a mutable array or dictionary of one copies it
// to the heap first, as copy-on-write does for shared ones. So a borrowed reference
// only ever lives in arena memory or in the builder's hands, and is only read or
// copied; a copy counts the arena and is an ordinary value from then on.
//
// The price of one allocation per document: a value kept from a document keeps the
// whole document's arena alive.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/Value.h"

namespace base {

class ValueArena {
  public:
    // `expectedBytes` sizes the first chunk (the text's size is a good guess).
    static ValueArena* create(size_t expectedBytes);
    ValueArena(const ValueArena&) = delete;
    ValueArena& operator=(const ValueArena&) = delete;

    void retain() noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
    void release() noexcept {
        if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            destroy();
        }
    }

    // `bytes` of storage aligned to `align` (at most 8), and the distance of that
    // storage from its chunk, which the object keeps so that `at` can find the arena.
    struct Place {
        void* at;
        uint32_t offset;
    };
    Place allocate(size_t bytes, size_t align) {
        const uintptr_t cursor = reinterpret_cast<uintptr_t>(cursor_);
        const uintptr_t at = (cursor + align - 1) & ~(uintptr_t{align} - 1);
        if (at + bytes <= reinterpret_cast<uintptr_t>(limit_)) {
            cursor_ = reinterpret_cast<char*>(at + bytes);
            return {reinterpret_cast<void*>(at),
                    static_cast<uint32_t>(at - reinterpret_cast<uintptr_t>(chunk_))};
        }
        return allocateInNewChunk(bytes, align);
    }
    // The arena of an object `offset` bytes into its chunk.
    static ValueArena* at(const void* object, uint32_t offset) noexcept {
        return reinterpret_cast<const Chunk*>(static_cast<const char*>(object) - offset)->arena;
    }

    // Array element storage comes from the heap (Array is a std::vector); the arena
    // frees it when it goes.
    void adoptElements(Array& elements) { arrays_.push_back(&elements); }

  private:
    struct Chunk {
        ValueArena* arena;
        Chunk* next;
    };
    static constexpr size_t kMinChunk = 1024;
    static constexpr size_t kMaxChunk = size_t{4} << 20;

    ValueArena() = default;
    ~ValueArena() = default;
    Place allocateInNewChunk(size_t bytes, size_t align);
    Chunk* newChunk(size_t bytes);
    void destroy() noexcept;

    std::atomic<size_t> refs_{1};
    Chunk* chunk_ = nullptr;  // the chunk being filled; earlier ones follow `next`
    char* cursor_ = nullptr;
    char* limit_ = nullptr;
    size_t nextChunk_ = kMinChunk;
    std::vector<Array*> arrays_;
};

// Builds one document's values in a new arena. Every value it makes is borrowed and
// stays in the builder's hands (the reader's stacks) until it is placed in a container
// or handed out by finish(); whatever is left when the builder goes is simply dropped
// with the arena.
class TreeBuilder {
  public:
    explicit TreeBuilder(size_t expectedBytes);
    ~TreeBuilder() { arena_->release(); }
    TreeBuilder(const TreeBuilder&) = delete;
    TreeBuilder& operator=(const TreeBuilder&) = delete;

    // `plain` as for String::plain().
    String string(std::string_view text, bool plain) {
        String s(String::Uninitialised{});
        if (text.size() <= String::kInlineCapacity) {
            s.assign(text, plain);
        } else {
            assignText(s, text, String::kStringKind | (plain ? String::kPlainBit : 0));
        }
        return s;
    }
    // A number from text that Decimal::fromString accepts (see Value::numberFromCheckedText).
    Value number(std::string_view text) {
        Value v;
        if (text.size() <= String::kInlineCapacity) {
            v.s_.assign(text, false);
            v.s_.raw_[String::kTagByte] = Value::kNumber;
        } else {
            assignText(v.s_, text, Value::kNumber);
        }
        return v;
    }
    // Containers of the values moved out of `elements` or `members`, in order; for a
    // repeated key the later value replaces the earlier one in its first place.
    Value array(std::span<Value> elements);
    Value dictionary(std::span<Dictionary::Entry> members);
    // The document's root as an ordinary value that holds the arena if it needs it.
    Value finish(Value root);

  private:
    void assignText(String& s, std::string_view text, unsigned char tag);

    ValueArena* arena_;
};

}  // namespace base
