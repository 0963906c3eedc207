#pragma once
// printf-style formatting with the conversions the system's texts use:
//   %@ %s %c %d %i %u %x %X %o %e %f %g with the l, ll, z, h length modifiers,
//   flags "-+ 0#", widths, precisions (including "*" taken from an argument) and %%.
// %@ writes any argument: strings as they are, numbers as decimal text, Values and
// Errors through describe(). The arguments are type-checked at run time against the
// conversion and converted sensibly (an integer printed with %f is a number, a string
// printed with %d is its integer value). A conversion with no argument left is written
// literally; an unknown conversion is written literally. Locale plays no part.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "base/Decimal.h"
#include "base/Error.h"
#include "base/Value.h"

namespace base {

class FormatArg {
public:
    template <class T>
        requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && std::is_signed_v<T>)
    FormatArg(T v) : v_(static_cast<int64_t>(v)) {}  // NOLINT(google-explicit-constructor)
    template <class T>
        requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && std::is_unsigned_v<T>)
    FormatArg(T v) : v_(static_cast<uint64_t>(v)) {}  // NOLINT
    FormatArg(bool v) : v_(static_cast<int64_t>(v)) {}         // NOLINT
    FormatArg(double v) : v_(v) {}                             // NOLINT
    FormatArg(float v) : v_(static_cast<double>(v)) {}         // NOLINT
    FormatArg(const char* v) : v_(std::string_view(v ? v : "(null)")) {}  // NOLINT
    FormatArg(std::string_view v) : v_(v) {}                   // NOLINT
    FormatArg(const std::string& v) : v_(std::string_view(v)) {}  // NOLINT
    FormatArg(const String& v) : v_(v.view()) {}                // NOLINT
    FormatArg(const Value& v) : v_(&v) {}                      // NOLINT
    FormatArg(const Error& v) : v_(&v) {}                      // NOLINT
    FormatArg(const Decimal& v) : v_(&v) {}                    // NOLINT
    FormatArg(const void* v) : v_(v) {}                        // NOLINT

    using Storage = std::variant<int64_t, uint64_t, double, std::string_view, const Value*,
                                 const Error*, const Decimal*, const void*>;
    const Storage& storage() const { return v_; }

private:
    Storage v_;
};

std::string vformat(std::string_view fmt, std::span<const FormatArg> args);

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
    const FormatArg list[] = {FormatArg(args)..., FormatArg(int64_t{0})};
    return vformat(fmt, std::span<const FormatArg>(list, sizeof...(Args)));
}

}  // namespace base
