#include "platform/net/AuthChallenge.h"

#include <algorithm>
#include <cctype>

#include "platform/net/HttpHeaders.h"
#include "platform/net/NetText.h"

namespace platform::net {
namespace {

using text::lower;

class Scanner {
  public:
    explicit Scanner(const std::string& s) : s_(s) {}
    bool atEnd() const { return i_ >= s_.size(); }
    char peek() const { return atEnd() ? '\0' : s_[i_]; }
    size_t pos() const { return i_; }
    void seek(size_t p) { i_ = p; }
    void skip() { ++i_; }
    void skipSpaces() {
        while (!atEnd() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
    }
    void skipSpacesAndCommas() {
        while (!atEnd() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == ',')) ++i_;
    }
    std::string token() {
        size_t start = i_;
        while (!atEnd() && HttpHeaders::isToken(std::string_view(&s_[i_], 1))) ++i_;
        return s_.substr(start, i_ - start);
    }
    // token68 = 1*( ALPHA / DIGIT / "-" / "." / "_" / "~" / "+" / "/" ) *"="
    std::string token68() {
        size_t start = i_;
        while (!atEnd() && (std::isalnum(static_cast<unsigned char>(s_[i_])) ||
                            std::string_view("-._~+/").find(s_[i_]) != std::string_view::npos)) {
            ++i_;
        }
        if (i_ == start)
            return {};
        while (!atEnd() && s_[i_] == '=') ++i_;
        return s_.substr(start, i_ - start);
    }
    std::string quoted() {
        std::string out;
        ++i_;  // opening quote
        while (!atEnd() && s_[i_] != '"') {
            if (s_[i_] == '\\' && i_ + 1 < s_.size())
                ++i_;
            out.push_back(s_[i_++]);
        }
        if (!atEnd())
            ++i_;
        return out;
    }

  private:
    const std::string& s_;
    size_t i_ = 0;
};

// A token68 stands alone: after it only white space, then a comma or the end.
bool tryToken68(Scanner& in, AuthChallenge& ch) {
    size_t start = in.pos();
    std::string t = in.token68();
    in.skipSpaces();
    if (!t.empty() && (in.atEnd() || in.peek() == ',')) {
        ch.token68 = t;
        return true;
    }
    in.seek(start);
    return false;
}

void readParams(Scanner& in, AuthChallenge& ch) {
    while (ch.params.size() < AuthChallenge::kMaxParams) {
        in.skipSpacesAndCommas();
        size_t start = in.pos();
        std::string name = in.token();
        in.skipSpaces();
        if (name.empty() || in.peek() != '=') {
            in.seek(start);  // the next challenge's scheme
            return;
        }
        in.skip();
        in.skipSpaces();
        std::string value = in.peek() == '"' ? in.quoted() : in.token();
        ch.params.emplace_back(lower(name), value);
        in.skipSpaces();
        if (in.peek() != ',')
            return;
    }
}

}  // namespace

bool AuthChallenge::isScheme(std::string_view name) const {
    return HttpHeaders::equalsIgnoringCase(scheme, name);
}

std::optional<std::string> AuthChallenge::param(std::string_view name) const {
    for (const auto& [n, v] : params) {
        if (HttpHeaders::equalsIgnoringCase(n, name))
            return v;
    }
    return std::nullopt;
}

std::vector<AuthChallenge> AuthChallenge::parse(const std::vector<std::string>& fieldValues) {
    std::vector<AuthChallenge> out;
    for (const std::string& value : fieldValues) {
        Scanner in(value);
        while (out.size() < kMaxChallenges) {
            in.skipSpacesAndCommas();
            if (in.atEnd())
                break;
            size_t before = in.pos();
            AuthChallenge ch;
            ch.scheme = in.token();
            if (ch.scheme.empty()) {
                in.seek(before + 1);  // not a challenge; step over the stray byte
                continue;
            }
            in.skipSpaces();
            if (!tryToken68(in, ch))
                readParams(in, ch);
            out.push_back(std::move(ch));
        }
    }
    return out;
}

}  // namespace platform::net
