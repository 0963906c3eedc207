// Arbitrary bytes through the JSON reader: every failure must be a JSON error with a
// known code and message, and every value read must write out and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "client/json/QMJSON.h"

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        (void)std::fprintf(stderr, "fuzz_json: %s\n", what);
        std::abort();
    }
}

void checkFailure(const base::Error& error) {
    for (const base::Error* e = &error; e != nullptr; e = e->underlying()) {
        check(e->domain() == QMJSONErrorDomain, "error outside the JSON domain");
        check(e->code() >= 2 && e->code() <= 12, "reader error code out of range");
        check(!e->localizedDescription().empty(), "error without message");
    }
}

void checkRoundTrip(const base::Value& value) {
    for (int options = 0; options < 4; ++options) {
        QMJSON writer;
        writer.setHumanReadable(options & 1);
        writer.setSortKeys(options & 2);
        base::Error error("", 0);
        std::optional<std::string> text = writer.stringWithFragment(value, &error);
        check(text.has_value(), "a value read could not be written");
        QMJSON reader;
        reader.setMaxDepth(0);
        std::optional<base::Value> back = reader.fragmentWithString(*text, &error);
        check(back.has_value(), "written text does not read back");
        check(*back == value, "round trip changed the value");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    QMJSON json;
    json.setMaxDepth(0);
    base::Error error("", 0);
    std::optional<base::Value> fragment = json.fragmentWithString(text, &error);
    if (!fragment) {
        checkFailure(error);
    } else {
        checkRoundTrip(*fragment);
    }

    // The strict form with the default depth agrees with the fragment form.
    QMJSON strict;
    std::optional<base::Value> object = strict.objectWithString(text, &error);
    if (object) {
        check(fragment && (fragment->isArray() || fragment->isDictionary()),
              "object form accepted what the fragment form refused");
        check(*object == *fragment, "object and fragment forms disagree");
    } else {
        checkFailure(error);
    }
    return 0;
}
