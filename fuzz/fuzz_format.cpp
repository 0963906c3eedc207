// format(): any format string with a few arguments of any kind; never reads past the
// arguments, never crashes, and the text without conversions comes out unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/Format.h"

namespace {

base::FormatArg pickArgument(FuzzedDataProvider& in, std::vector<std::string>& texts,
                             const base::Value& value, const base::Error& error,
                             const base::Decimal& decimal) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            return base::FormatArg(in.ConsumeIntegral<int64_t>());
        case 1:
            return base::FormatArg(in.ConsumeIntegral<uint64_t>());
        case 2:
            return base::FormatArg(in.ConsumeFloatingPoint<double>());
        case 3:
            return base::FormatArg(
                std::string_view(texts.emplace_back(in.ConsumeRandomLengthString(64))));
        case 4:
            return base::FormatArg(value);
        case 5:
            return base::FormatArg(error);
        case 6:
            return base::FormatArg(decimal);
        default:
            return base::FormatArg(static_cast<const void*>(&texts));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string fmt = in.ConsumeRandomLengthString(256);
    const base::Value value(base::Dictionary{{"k", base::Array{1, "two", base::Data{3}}}});
    base::Error error = base::Error::withDescription("Fuzz", 3, "broken");
    error.setUnderlying(base::Error("Inner", -1));
    const base::Decimal decimal =
        base::Decimal::fromString(in.ConsumeRandomLengthString(32)).value_or(base::Decimal(7));
    std::vector<std::string> texts;
    texts.reserve(8);  // views into it must stay valid
    std::vector<base::FormatArg> args;
    const int count = in.ConsumeIntegralInRange<int>(0, 6);
    for (int i = 0; i < count; ++i) {
        args.push_back(pickArgument(in, texts, value, error, decimal));
    }
    const std::string out = base::vformat(fmt, args);
    if (fmt.find('%') == std::string::npos && out != fmt) {
        std::abort();
    }
    // With no arguments every conversion is written literally, "%%" aside.
    const std::string bare = base::vformat(fmt, {});
    if (bare.size() > fmt.size()) {
        std::abort();
    }
    return 0;
}
