// Feeds arbitrary bytes to the response parser in two splits and checks that it
// neither crashes nor claims more than it was given.
#include <cstdint>
#include <cstdlib>

#include "platform/net/HttpResponseParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    bool bodyless = data[0] & 1;
    size_t split = size > 1 ? data[1] % size : 0;
    platform::net::HttpResponseParser parser(bodyless);
    base::Data body;
    size_t used = parser.consume(data, split, body);
    if (used == split)
        used += parser.consume(data + split, size - split, body);
    if (used > size || body.size() > size)
        abort();
    if (!parser.complete())
        parser.finish();
    if (parser.complete() && parser.failed())
        abort();
    return 0;
}
