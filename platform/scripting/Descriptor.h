#pragma once
// A typed value as scripting commands carry it: a four-character type code with data
// (an atomic descriptor), a list of descriptors at positions 1 to n, or a record whose
// fields are descriptors under four-character keywords. The type code travels with the
// value whatever it is, so codes this program does not know stay intact.
//
// Numbers are held in little-endian byte order. Nesting is capped (kMaxDepth), which
// the transport enforces on whatever arrives.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Value.h"
#include "platform/scripting/FourCharCode.h"

namespace platform::scripting {

class Descriptor {
  public:
    enum class Kind { Atomic, List, Record };
    using Field = std::pair<FourCharCode, Descriptor>;
    // Deepest nesting of lists and records a descriptor may have (the top counts as 1):
    // the most the session bus carries, each level costing three of its containers.
    static constexpr int kMaxDepth = 16;

    // A 'null' descriptor.
    Descriptor() = default;
    static Descriptor atomic(FourCharCode type, base::Data data);
    static Descriptor text(std::string_view utf8);              // 'utf8'
    static Descriptor unicodeText(std::string_view utf8);       // 'utxt' (UTF-16LE)
    static Descriptor int32(int32_t value);                     // 'long'
    static Descriptor int16(int16_t value);                     // 'shor'
    static Descriptor typeCode(FourCharCode code);              // 'type'
    static Descriptor enumerated(FourCharCode code);            // 'enum'
    static Descriptor list(FourCharCode type = kTypeList);      // empty list
    static Descriptor record(FourCharCode type = kTypeRecord);  // empty record

    FourCharCode type() const { return type_; }
    Kind kind() const { return kind_; }
    bool isList() const { return kind_ == Kind::List; }
    bool isRecord() const { return kind_ == Kind::Record; }
    bool isNull() const { return kind_ == Kind::Atomic && type_ == kTypeNull; }
    // The data of an atomic descriptor (empty for lists and records).
    const base::Data& data() const { return data_; }

    // ---- lists and records ----
    // Items of a list, fields of a record; 0 for an atomic descriptor.
    size_t count() const;
    // The list item at `position` (1 to count); none outside.
    const Descriptor* at(size_t position) const;
    void append(Descriptor item);
    const std::vector<Descriptor>& items() const { return items_; }
    // The field with `keyword`; none when absent. Setting replaces an existing field.
    const Descriptor* field(FourCharCode keyword) const;
    void setField(FourCharCode keyword, Descriptor value);
    const std::vector<Field>& fields() const { return fields_; }

    // ---- reading atomic values ----
    // The text of 'utf8', 'utxt' and 'TEXT' descriptors, and the decimal text of the
    // integer types; none for anything else.
    std::optional<std::string> stringValue() const;
    // The value of an integer type ('long', 'shor', 'comp', 'magn', 'ucom', 'ushr') as a
    // 32-bit signed number; none for other types, wrong sizes and values out of range.
    std::optional<int32_t> int32Value() const;
    // The code held by a 'type' or 'enum' descriptor (four bytes, big-endian as written).
    std::optional<FourCharCode> typeCodeValue() const;

    // Nesting depth: 1 for an atomic descriptor or an empty list.
    int depth() const;
    // A readable rendering for logs: 'long'(12), 'utf8'("a"), [ ... ], { 'kocl': ... }.
    std::string describe() const;
    // The same, cut after about `limit` bytes ("..." marks the cut): a huge item is
    // never turned into text whole.
    std::string describe(size_t limit) const;

    friend bool operator==(const Descriptor&, const Descriptor&) = default;

  private:
    void appendDescription(std::string& out, size_t limit) const;

    FourCharCode type_ = kTypeNull;
    Kind kind_ = Kind::Atomic;
    base::Data data_;
    std::vector<Descriptor> items_;
    std::vector<Field> fields_;
};

}  // namespace platform::scripting
