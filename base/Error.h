#pragma once
// A reported failure: domain, code, user info and an optional underlying error.
#include <cstdint>
#include <memory>
#include <string>

#include "base/Value.h"

namespace base {

class Error {
public:
    static constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
    static constexpr const char* kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
    static constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";

    Error(std::string domain, int64_t code, Dictionary userInfo = {});
    // Shorthand: user info with only the localized description.
    static Error withDescription(std::string domain, int64_t code, std::string description);

    const std::string& domain() const { return domain_; }
    int64_t code() const { return code_; }
    const Dictionary& userInfo() const { return userInfo_; }
    Dictionary& mutableUserInfo() { return userInfo_; }

    // The description from the user info, or the generic
    // "The operation couldn’t be completed. (<domain> error <code>.)".
    std::string localizedDescription() const;
    const Error* underlying() const { return underlying_.get(); }
    void setUnderlying(Error e) { underlying_ = std::make_shared<Error>(std::move(e)); }

    // "Error Domain=<domain> Code=<code> \"<description>\" UserInfo={...}" for %@.
    std::string describe() const;

    friend bool operator==(const Error& a, const Error& b);

private:
    std::string domain_;
    int64_t code_ = 0;
    Dictionary userInfo_;
    std::shared_ptr<const Error> underlying_;
};

}  // namespace base
