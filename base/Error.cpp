#include "base/Error.h"

#include <charconv>

namespace base {

Error::Error(std::string domain, int64_t code, Dictionary userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

Error Error::withDescription(std::string domain, int64_t code, std::string description) {
    Dictionary info;
    info.set(kLocalizedDescriptionKey, Value(std::move(description)));
    return Error(std::move(domain), code, std::move(info));
}

std::string Error::localizedDescription() const {
    if (const Value* v = userInfo_.find(kLocalizedDescriptionKey); v && v->isString()) {
        return *v->string();
    }
    char code[24];
    auto [end, ec] = std::to_chars(code, code + sizeof code, code_);
    (void)ec;
    return "The operation couldn\u2019t be completed. (" + domain_ + " error " +
           std::string(code, end) + ".)";
}

std::string Error::describe() const {
    char code[24];
    auto [end, ec] = std::to_chars(code, code + sizeof code, code_);
    (void)ec;
    std::string out = "Error Domain=" + domain_ + " Code=" + std::string(code, end) + " \"" +
                      localizedDescription() + "\"";
    if (userInfo_.empty() && !underlying_) {
        return out;
    }
    out.append(" UserInfo={");
    bool first = true;
    for (const Dictionary::Entry& e : userInfo_) {
        out.append(first ? "" : ", ");
        first = false;
        out.append(e.first).append("=").append(e.second.describe());
    }
    if (underlying_) {
        out.append(first ? "" : ", ");
        out.append(kUnderlyingErrorKey).append("={").append(underlying_->describe()).append("}");
    }
    out.push_back('}');
    return out;
}

bool operator==(const Error& a, const Error& b) {
    if (a.domain_ != b.domain_ || a.code_ != b.code_ || !(a.userInfo_ == b.userInfo_)) {
        return false;
    }
    if (!a.underlying_ || !b.underlying_) {
        return !a.underlying_ && !b.underlying_;
    }
    return *a.underlying_ == *b.underlying_;
}

}  // namespace base
