#pragma once
// How deeply a property list nests, found from its bytes before libplist parses them.
// libplist recurses once per level (freeing an XML tree, parsing a binary list), so a
// file of a few megabytes can nest deeply enough to overflow the stack; these scans
// use no recursion, stop at the cap and take time linear in the size of the bytes.
#include <cstddef>
#include <string_view>

namespace base {

class PropertyListDepth {
  public:
    // Whether the arrays and dictionaries of `bytes` (XML or binary, told apart as
    // libplist does) nest no deeper than `maxDepth`. A list that is too deep, refers to
    // itself, or whose structure cannot be followed does not pass: libplist would
    // either refuse it too or must not see it.
    static bool within(std::string_view bytes, size_t maxDepth);

    // The two forms; `within` picks one.
    static bool xmlWithin(std::string_view text, size_t maxDepth);
    static bool binaryWithin(std::string_view bytes, size_t maxDepth);
};

}  // namespace base
