#pragma once
// The one HTTP exchange the token controller makes: a form POST to the token endpoint
// with the client's id and secret sent pre-emptively as Basic credentials. Kept behind
// this small interface so the controller's state table can be driven by a scripted
// exchange as well as by real requests.
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/Value.h"

class OWQuorvaneTokenExchange {
  public:
    struct Request {
        std::string url;
        std::string clientID;
        std::string clientSecret;
        // Form fields in the order they are sent.
        std::vector<std::pair<std::string, std::string>> fields;
    };
    struct Outcome {
        // The request failed (no connection, time-out, refused credentials...).
        bool failed = false;
        int statusCode = 0;
        base::Data body;
        // What went wrong when `failed`; for the log.
        std::string errorText;
    };
    using Completion = std::function<void(const Outcome&)>;

    virtual ~OWQuorvaneTokenExchange() = default;
    // Sends one request; `done` is called once, on the main thread.
    virtual void send(const Request& request, Completion done) = 0;
};
