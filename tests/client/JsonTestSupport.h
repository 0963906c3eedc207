#pragma once
// Helpers shared by the JSON tests: error chains as (code, message) lists and
// values built from short literals.
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "base/Error.h"
#include "client/json/QMJSON.h"

namespace jsontest {

struct Link {
    int64_t code;
    std::string message;
    friend bool operator==(const Link&, const Link&) = default;
    friend std::ostream& operator<<(std::ostream& os, const Link& l) {
        return os << "(" << l.code << ", \"" << l.message << "\")";
    }
};
using Chain = std::vector<Link>;

// The error and every underlying error, outermost first; a link in another domain
// shows up with the domain in its message so the comparison fails visibly.
inline Chain chainOf(const base::Error& error) {
    Chain chain;
    for (const base::Error* e = &error; e != nullptr; e = e->underlying()) {
        std::string message = e->localizedDescription();
        if (e->domain() != QMJSONErrorDomain) {
            message.insert(0, e->domain() + ": ");
        }
        chain.push_back({e->code(), std::move(message)});
    }
    return chain;
}

inline base::Error blankError() {
    return base::Error("", 0);
}

}  // namespace jsontest
