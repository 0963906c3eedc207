// Decimal text: reading never crashes, and whatever reads back keeps its value through
// text, doubles and integers.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/Decimal.h"

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<base::Decimal> d = base::Decimal::fromString(text);
    if (!d) {
        return 0;
    }
    check(std::abs(d->exponent()) <= base::Decimal::kMaxExponent);
    const std::string& digits = d->coefficient();
    check(digits.empty() || (digits.front() != '0' && digits.back() != '0'));
    check(!d->isZero() || (!d->isNegative() && d->exponent() == 0));

    const std::string plain = d->toString();
    const std::optional<base::Decimal> again = base::Decimal::fromString(plain);
    check(again && *again == *d && (*again <=> *d) == 0);

    const double v = d->toDouble();
    check(!std::isnan(v));
    // strtod reads the same grammar (and more), correctly rounded; zero's sign aside.
    check(v == std::strtod(std::string(text).c_str(), nullptr));
    if (std::isfinite(v)) {
        // The shortest text of the double reads back as the same double.
        const std::optional<base::Decimal> nearest = base::Decimal::fromDouble(v);
        check(nearest && nearest->toDouble() == v);
    }
    const int64_t whole = d->toInt64();
    check(d->isNegative() ? whole <= 0 : whole >= 0);
    if (d->isIntegral() && base::Decimal(whole) != *d) {
        // Only saturation may lose an integral value.
        check(whole == INT64_MAX || whole == INT64_MIN);
    }
    return 0;
}
