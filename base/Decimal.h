#pragma once
// An exact decimal number: sign, coefficient digits and a base-10 exponent.
// Values are kept normalised (no trailing zeros in the coefficient, zero has no
// sign), so equal numbers have equal representations: 1 == 1.0 == 10e-1, -0 == 0.
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace base {

class Decimal {
public:
    // Exponents beyond this magnitude are refused when reading text.
    static constexpr int32_t kMaxExponent = 1'000'000;

    Decimal() = default;  // zero
    Decimal(int64_t v);   // NOLINT(google-explicit-constructor): numbers convert freely
    Decimal(uint64_t v);  // NOLINT
    Decimal(int v) : Decimal(static_cast<int64_t>(v)) {}  // NOLINT

    // Reads decimal text: optional sign, digits with an optional fraction, optional
    // exponent ("-12.50e+3"). No binary floating point on this path. Anything else, or
    // an exponent outside +-kMaxExponent after normalisation, gives none.
    static std::optional<Decimal> fromString(std::string_view text);
    // The shortest decimal text that reads back as `v`; none for NaN and infinities.
    static std::optional<Decimal> fromDouble(double v);

    bool isZero() const { return digits_.empty(); }
    bool isNegative() const { return negative_; }
    bool isIntegral() const;
    // Truncates toward zero; saturates at the int64 limits; exact for every int64.
    int64_t toInt64() const;
    // Same rules for unsigned; negatives give 0.
    uint64_t toUInt64() const;
    // Correctly rounded to the nearest double (overflow gives +-infinity).
    double toDouble() const;
    // Plain text: "12", "-0.5", "1250"; integers never carry a point or exponent;
    // very long runs of zeros switch to exponent form ("1e+40", "1.5e-30").
    std::string toString() const;

    const std::string& coefficient() const { return digits_; }  // "" for zero, else no leading/trailing zeros
    int32_t exponent() const { return exponent_; }

    friend bool operator==(const Decimal&, const Decimal&) = default;
    friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b);

private:
    static std::optional<Decimal> fromParts(bool negative, std::string_view intPart,
                                            std::string_view fracPart, int64_t exponent);
    // Exponent of the leading digit: 2 for 123, -1 for 0.5.
    int64_t adjustedExponent() const;
    // The integer part's magnitude; none when it does not fit 64 bits.
    std::optional<uint64_t> integerMagnitude() const;

    bool negative_ = false;
    std::string digits_;  // coefficient, most significant first
    int32_t exponent_ = 0;
};

}  // namespace base
