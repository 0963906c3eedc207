#pragma once
// Numbers read from the start of XML text the way the editors' own readers do: in
// the C locale, after white space (space, tab, CR, LF) and an optional sign; text
// that does not start with a number reads as 0.
#include <cstdint>
#include <string_view>

namespace owtext {

// Digits only, saturated at the int64_t limits.
int64_t leadingInteger(std::string_view s);
// Digits with an optional point; no exponents, "inf", "nan" or hex. Too many integer
// digits read as infinity, a fraction too small to hold as 0.
double leadingDouble(std::string_view s);

}  // namespace owtext
