#include "base/Decimal.h"

#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace base {

namespace {

// Plain text pads with at most this many zeros (after an integer's digits, or between
// the point and the first significant digit). Beyond that the text switches to exponent
// form. Every 64-bit integer (at most 19 trailing zeros) therefore stays plain, and so
// do the usual money and time amounts; only numbers like 1e+40 or 1.5e-30 do not.
constexpr int64_t kMaxPlainZeros = 20;

// Exponent digits past this magnitude cannot change the outcome (the result is refused
// anyway), so reading stops growing the value there and cannot overflow.
constexpr int64_t kExponentSaturation = 1'000'000'000'000'000;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Appends the decimal digits of `v` (no sign) to `out`.
template <class Out>
void appendInt(Out& out, int64_t v) {
    std::array<char, 24> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    (void)ec;
    out.append(buf.data(), end);
}

// A small growable buffer that lives on the stack for the usual short numbers.
class TextBuffer {
  public:
    void append(const char* first, const char* last) {
        append(std::string_view(first, last - first));
    }
    void append(std::string_view s) {
        if (heap_.empty() && size_ + s.size() <= stack_.size()) {
            s.copy(stack_.data() + size_, s.size());
            size_ += s.size();
            return;
        }
        if (heap_.empty()) {
            heap_.assign(stack_.data(), size_);
        }
        heap_.append(s);
    }
    void push_back(char c) { append(std::string_view(&c, 1)); }
    std::string_view view() const {
        return heap_.empty() ? std::string_view(stack_.data(), size_) : std::string_view(heap_);
    }

  private:
    std::array<char, 96> stack_{};
    size_t size_ = 0;
    std::string heap_;
};

}  // namespace

Decimal::Decimal(int64_t v) {
    negative_ = v < 0;
    // Negating through unsigned keeps INT64_MIN exact.
    uint64_t magnitude = negative_ ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    *this = Decimal(magnitude);
    negative_ = v < 0;
}

Decimal::Decimal(uint64_t v) {
    if (v == 0) {
        return;
    }
    while (v % 10 == 0) {
        v /= 10;
        ++exponent_;
    }
    std::array<char, 24> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    (void)ec;
    digits_.assign(buf.data(), end);
}

std::optional<Decimal> Decimal::fromString(std::string_view text) {
    size_t i = 0;
    const size_t n = text.size();
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t intStart = i;
    while (i < n && isDigit(text[i])) {
        ++i;
    }
    const std::string_view intPart = text.substr(intStart, i - intStart);
    std::string_view fracPart;
    if (i < n && text[i] == '.') {
        const size_t fracStart = ++i;
        while (i < n && isDigit(text[i])) {
            ++i;
        }
        fracPart = text.substr(fracStart, i - fracStart);
    }
    if (intPart.empty() && fracPart.empty()) {
        return std::nullopt;
    }
    int64_t exponent = 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool expNegative = false;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            expNegative = text[i] == '-';
            ++i;
        }
        const size_t expStart = i;
        for (; i < n && isDigit(text[i]); ++i) {
            if (exponent < kExponentSaturation) {
                exponent = exponent * 10 + (text[i] - '0');
            }
        }
        if (i == expStart) {
            return std::nullopt;
        }
        if (expNegative) {
            exponent = -exponent;
        }
    }
    if (i != n) {
        return std::nullopt;
    }
    return fromParts(negative, intPart, fracPart, exponent);
}

std::optional<Decimal> Decimal::fromParts(bool negative, std::string_view intPart,
                                          std::string_view fracPart, int64_t exponent) {
    // The value is (intPart fracPart) x 10^(exponent - |fracPart|). Strip zeros from both
    // ends of the joined digits without joining them first.
    exponent -= static_cast<int64_t>(fracPart.size());
    const size_t intLead = intPart.find_first_not_of('0');
    if (intLead == std::string_view::npos) {
        intPart = {};
    } else {
        intPart.remove_prefix(intLead);
    }
    if (intPart.empty()) {
        const size_t fracLead = fracPart.find_first_not_of('0');
        if (fracLead == std::string_view::npos) {
            return Decimal();  // zero, whatever its exponent or sign
        }
        fracPart.remove_prefix(fracLead);
    }
    const size_t fracTrail = fracPart.find_last_not_of('0');
    if (fracTrail == std::string_view::npos) {
        exponent += static_cast<int64_t>(fracPart.size());
        fracPart = {};
        const size_t intTrail = intPart.find_last_not_of('0');
        exponent += static_cast<int64_t>(intPart.size() - intTrail - 1);
        intPart = intPart.substr(0, intTrail + 1);
    } else {
        exponent += static_cast<int64_t>(fracPart.size() - fracTrail - 1);
        fracPart = fracPart.substr(0, fracTrail + 1);
    }
    if (exponent > kMaxExponent || exponent < -kMaxExponent) {
        return std::nullopt;
    }
    Decimal d;
    d.negative_ = negative;
    d.exponent_ = static_cast<int32_t>(exponent);
    d.digits_.reserve(intPart.size() + fracPart.size());
    d.digits_.append(intPart);
    d.digits_.append(fracPart);
    return d;
}

std::optional<Decimal> Decimal::fromDouble(double v) {
    if (!std::isfinite(v)) {
        return std::nullopt;
    }
    std::array<char, 32> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    if (ec != std::errc()) {
        return std::nullopt;
    }
    return fromString(std::string_view(buf.data(), end - buf.data()));
}

int64_t Decimal::adjustedExponent() const {
    return static_cast<int64_t>(exponent_) + static_cast<int64_t>(digits_.size()) - 1;
}

bool Decimal::isIntegral() const {
    return exponent_ >= 0 || digits_.empty();
}

std::optional<uint64_t> Decimal::integerMagnitude() const {
    if (digits_.empty() || adjustedExponent() < 0) {
        return uint64_t{0};
    }
    if (adjustedExponent() >= 20) {
        return std::nullopt;  // at least 10^20: beyond every 64-bit integer
    }
    const int64_t intDigits = adjustedExponent() + 1;  // 1..20
    unsigned __int128 value = 0;
    for (int64_t k = 0; k < intDigits; ++k) {
        const size_t at = static_cast<size_t>(k);
        value = value * 10 + (at < digits_.size() ? static_cast<unsigned>(digits_[at] - '0') : 0);
    }
    if (value > std::numeric_limits<uint64_t>::max()) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(value);
}

int64_t Decimal::toInt64() const {
    const std::optional<uint64_t> magnitude = integerMagnitude();
    constexpr uint64_t kMaxPositive = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (negative_) {
        if (!magnitude || *magnitude > kMaxPositive + 1) {
            return std::numeric_limits<int64_t>::min();
        }
        return static_cast<int64_t>(0 - *magnitude);
    }
    if (!magnitude || *magnitude > kMaxPositive) {
        return std::numeric_limits<int64_t>::max();
    }
    return static_cast<int64_t>(*magnitude);
}

uint64_t Decimal::toUInt64() const {
    if (negative_) {
        return 0;
    }
    return integerMagnitude().value_or(std::numeric_limits<uint64_t>::max());
}

double Decimal::toDouble() const {
    if (digits_.empty()) {
        return 0.0;
    }
    // from_chars is correctly rounded for any number of digits; it only needs the
    // canonical text, which never involves binary floating point on our side.
    TextBuffer text;
    text.append(digits_);
    text.push_back('e');
    appendInt(text, exponent_);
    const std::string_view s = text.view();
    double value = 0;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // Far beyond the double range in one direction or the other.
        value = adjustedExponent() > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    }
    (void)ptr;
    return negative_ ? -value : value;
}

std::string Decimal::toString() const {
    if (digits_.empty()) {
        return "0";
    }
    const int64_t n = static_cast<int64_t>(digits_.size());
    const int64_t e = exponent_;
    std::string out;
    if (negative_) {
        out.push_back('-');
    }
    if (e >= 0 && e <= kMaxPlainZeros) {
        out.reserve(out.size() + static_cast<size_t>(n + e));
        out.append(digits_);
        out.append(static_cast<size_t>(e), '0');
        return out;
    }
    if (e < 0 && n + e > 0) {
        const size_t point = static_cast<size_t>(n + e);
        out.reserve(out.size() + digits_.size() + 1);
        out.append(digits_, 0, point);
        out.push_back('.');
        out.append(digits_, point);
        return out;
    }
    if (e < 0 && -(n + e) <= kMaxPlainZeros) {
        out.append("0.");
        out.append(static_cast<size_t>(-(n + e)), '0');
        out.append(digits_);
        return out;
    }
    // Exponent form: one digit before the point, as in 1.5e-30 or 1e+40.
    out.push_back(digits_[0]);
    if (n > 1) {
        out.push_back('.');
        out.append(digits_, 1);
    }
    const int64_t adjusted = adjustedExponent();
    out.append(adjusted < 0 ? "e-" : "e+");
    appendInt(out, adjusted < 0 ? -adjusted : adjusted);
    return out;
}

std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
    if (a.negative_ != b.negative_) {
        return a.negative_ ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    // Same sign (zero counts as positive): compare magnitudes, then flip for negatives.
    std::strong_ordering magnitude = std::strong_ordering::equal;
    if (a.isZero() || b.isZero()) {
        magnitude = !a.isZero() <=> !b.isZero();
    } else if (a.adjustedExponent() != b.adjustedExponent()) {
        magnitude = a.adjustedExponent() <=> b.adjustedExponent();
    } else {
        // Same leading position and no trailing zeros: digit text orders like the values.
        const int c = a.digits_.compare(b.digits_);
        magnitude = c <=> 0;
    }
    if (!a.negative_ || magnitude == std::strong_ordering::equal) {
        return magnitude;
    }
    // Among negatives the larger magnitude is the smaller number.
    return magnitude == std::strong_ordering::less ? std::strong_ordering::greater
                                                   : std::strong_ordering::less;
}

}  // namespace base
