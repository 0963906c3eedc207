#pragma once
// How deeply a property list nests, found from its bytes before libplist parses them.
// libplist recurses once per level (freeing an XML tree, parsing a binary list), so a
// file of a few megabytes can nest deeply enough to overflow the stack; these scans
// use no recursion, stop at the cap and take time linear in the size of the bytes.
//
// A binary list may also refer to one object from many places, and libplist builds
// the object again for every reference: a few hundred bytes of containers that each
// refer twice to the next expand to millions of nodes. The binary scan measures the
// tree libplist would build, each object's share found once.
#include <cstddef>
#include <limits>
#include <string_view>

namespace base {

class PropertyListDepth {
  public:
    struct Limits {
        size_t depth;
        // Of a binary list as libplist builds it: its nodes (every value and dictionary
        // key counts one), and the bytes of the strings and data they carry.
        size_t nodes = std::numeric_limits<size_t>::max();
        size_t text = std::numeric_limits<size_t>::max();
    };

    // Whether the arrays and dictionaries of `bytes` (XML or binary, told apart as
    // libplist does) nest no deeper than `limits.depth`, and a binary list expands
    // within the other limits. A list that is too deep or too large, refers to itself,
    // or whose structure cannot be followed does not pass: libplist would either
    // refuse it too or must not see it.
    static bool within(std::string_view bytes, const Limits& limits);

    // The two forms; `within` picks one.
    static bool xmlWithin(std::string_view text, size_t maxDepth);
    static bool binaryWithin(std::string_view bytes, Limits limits);
};

}  // namespace base
