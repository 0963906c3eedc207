#include "platform/xml/XPathRewriter.h"

#include <optional>
#include <vector>

namespace platform::xml {
namespace {

// Only the distinctions the rewrite needs: what groups, what separates paths,
// and what belongs to a path.
enum class Kind {
    Open,       // ( or [
    Close,      // ) or ]
    Slash,      // / or //
    Separator,  // | , and every other operator: ends a path
    Part,       // names, literals, numbers, dots, @, ::, variables: inside a path
};

struct Token {
    Kind kind;
    size_t begin;
    size_t end;
    char bracket = 0;  // '(' ')' '[' ']' for Open and Close
};

bool isNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

class Lexer {
  public:
    explicit Lexer(std::string_view s) : s_(s) {}

    // The tokens of the expression; none when it holds something XPath does not.
    std::optional<std::vector<Token>> run() {
        while (true) {
            skipSpace();
            if (pos_ >= s_.size()) {
                return std::move(tokens_);
            }
            if (!next()) {
                return std::nullopt;
            }
        }
    }

  private:
    void skipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
            ++pos_;
        }
    }

    // After these, "*" is a name test and "and"/"or"/"div"/"mod" are names.
    bool operatorContext() const {
        if (tokens_.empty()) {
            return true;
        }
        const Token& t = tokens_.back();
        if (t.kind == Kind::Open || t.kind == Kind::Slash || t.kind == Kind::Separator) {
            return true;
        }
        std::string_view text = s_.substr(t.begin, t.end - t.begin);
        return text == "@" || text == "::";
    }

    void push(Kind kind, size_t length, char bracket = 0) {
        tokens_.push_back(Token{kind, pos_, pos_ + length, bracket});
        pos_ += length;
    }

    bool next() {
        const char c = s_[pos_];
        const char d = pos_ + 1 < s_.size() ? s_[pos_ + 1] : '\0';
        switch (c) {
            case '(':
            case '[':
                push(Kind::Open, 1, c);
                return true;
            case ')':
            case ']':
                push(Kind::Close, 1, c);
                return true;
            case '/':
                push(Kind::Slash, d == '/' ? 2 : 1);
                return true;
            case '|':
            case ',':
            case '=':
            case '+':
            case '-':
                push(Kind::Separator, 1);
                return true;
            case '!':
                if (d != '=') {
                    return false;
                }
                push(Kind::Separator, 2);
                return true;
            case '<':
            case '>':
                push(Kind::Separator, d == '=' ? 2 : 1);
                return true;
            case '*':
                push(operatorContext() ? Kind::Part : Kind::Separator, 1);
                return true;
            case '@':
                push(Kind::Part, 1);
                return true;
            case ':':
                if (d != ':') {
                    return false;
                }
                push(Kind::Part, 2);
                return true;
            case '"':
            case '\'':
                return literal(c);
            case '$':
                ++pos_;
                return name(true);
            default:
                break;
        }
        if (isDigit(c) || (c == '.' && isDigit(d))) {
            return number();
        }
        if (c == '.') {
            push(Kind::Part, d == '.' ? 2 : 1);
            return true;
        }
        if (isNameStart(static_cast<unsigned char>(c))) {
            return name(false);
        }
        return false;
    }

    bool literal(char quote) {
        const size_t close = s_.find(quote, pos_ + 1);
        if (close == std::string_view::npos) {
            return false;
        }
        push(Kind::Part, close + 1 - pos_);
        return true;
    }

    bool number() {
        size_t end = pos_;
        while (end < s_.size() && isDigit(s_[end])) {
            ++end;
        }
        if (end < s_.size() && s_[end] == '.') {
            ++end;
            while (end < s_.size() && isDigit(s_[end])) {
                ++end;
            }
        }
        push(Kind::Part, end - pos_);
        return true;
    }

    // A QName, "prefix:*", or (after "$") a variable reference.
    bool name(bool variable) {
        const size_t start = variable ? pos_ - 1 : pos_;
        size_t end = scanNCName(pos_);
        if (end == pos_) {
            return false;
        }
        if (end + 1 < s_.size() && s_[end] == ':' && s_[end + 1] != ':') {
            if (!variable && s_[end + 1] == '*') {
                end += 2;
            } else {
                const size_t local = scanNCName(end + 1);
                if (local == end + 1) {
                    return false;
                }
                end = local;
            }
        }
        std::string_view text = s_.substr(start, end - start);
        const bool isOperatorName =
            !variable && !operatorContext() &&
            (text == "and" || text == "or" || text == "div" || text == "mod");
        pos_ = start;
        push(isOperatorName ? Kind::Separator : Kind::Part, end - start);
        return true;
    }

    size_t scanNCName(size_t from) const {
        if (from >= s_.size() || !isNameStart(static_cast<unsigned char>(s_[from]))) {
            return from;
        }
        size_t end = from + 1;
        while (end < s_.size() && isNameChar(static_cast<unsigned char>(s_[end]))) {
            ++end;
        }
        return end;
    }

    std::string_view s_;
    size_t pos_ = 0;
    std::vector<Token> tokens_;
};

// Index of the token that closes the group opened at `open`; none when unbalanced.
std::optional<size_t> matchingClose(const std::vector<Token>& t, size_t open) {
    std::vector<char> stack;
    for (size_t i = open; i < t.size(); ++i) {
        if (t[i].kind == Kind::Open) {
            stack.push_back(t[i].bracket == '(' ? ')' : ']');
        } else if (t[i].kind == Kind::Close) {
            if (stack.empty() || stack.back() != t[i].bracket) {
                return std::nullopt;
            }
            stack.pop_back();
            if (stack.empty()) {
                return i;
            }
        }
    }
    return std::nullopt;
}

std::optional<size_t> matchingOpen(const std::vector<Token>& t, size_t close) {
    int depth = 0;
    for (size_t i = close + 1; i-- > 0;) {
        if (t[i].kind == Kind::Close) {
            ++depth;
        } else if (t[i].kind == Kind::Open && --depth == 0) {
            return i;
        }
    }
    return std::nullopt;
}

// First token of the path that holds token `i` (walking left over whole groups).
std::optional<size_t> pathStart(const std::vector<Token>& t, size_t i) {
    size_t k = i;
    while (k > 0) {
        const Token& prev = t[k - 1];
        if (prev.kind == Kind::Open || prev.kind == Kind::Separator) {
            break;
        }
        if (prev.kind == Kind::Close) {
            auto open = matchingOpen(t, k - 1);
            if (!open) {
                return std::nullopt;
            }
            k = *open;
        } else {
            --k;
        }
    }
    return k;
}

// One past the last token of the path that continues after token `i`.
std::optional<size_t> pathEnd(const std::vector<Token>& t, size_t i) {
    size_t k = i + 1;
    while (k < t.size()) {
        if (t[k].kind == Kind::Close || t[k].kind == Kind::Separator) {
            break;
        }
        if (t[k].kind == Kind::Open) {
            auto close = matchingClose(t, k);
            if (!close) {
                return std::nullopt;
            }
            k = *close + 1;
        } else {
            ++k;
        }
    }
    return k;
}

// The alternatives of the group between `open` and `close`, split at its own "|".
std::optional<std::vector<std::pair<size_t, size_t>>> alternatives(std::string_view s,
                                                                   const std::vector<Token>& t,
                                                                   size_t open, size_t close) {
    std::vector<std::pair<size_t, size_t>> result;
    size_t first = open + 1;
    for (size_t k = open + 1; k <= close; ++k) {
        const bool bar = k < close && t[k].kind == Kind::Separator &&
                         s.substr(t[k].begin, t[k].end - t[k].begin) == "|";
        if (k == close || bar) {
            if (k == first) {
                return std::nullopt;  // "()" or "(a | | b)"
            }
            result.emplace_back(t[first].begin, t[k - 1].end);
            first = k + 1;
            continue;
        }
        if (t[k].kind == Kind::Open) {
            auto inner = matchingClose(t, k);
            if (!inner) {
                return std::nullopt;
            }
            k = *inner;
        }
    }
    return result;
}

// Rewrites the first step union it can; none when there is none left.
std::optional<std::string> rewriteOnce(std::string_view s, const std::vector<Token>& t) {
    for (size_t i = 1; i < t.size(); ++i) {
        if (t[i].kind != Kind::Open || t[i].bracket != '(' || t[i - 1].kind != Kind::Slash) {
            continue;
        }
        auto close = matchingClose(t, i);
        if (!close) {
            return std::nullopt;
        }
        auto start = pathStart(t, i - 1);
        auto end = pathEnd(t, *close);
        auto alts = alternatives(s, t, i, *close);
        if (!start || !end || !alts) {
            continue;
        }
        const bool hasRest = *end > *close + 1;
        // "P/(A | B)[1]" filters the union as a whole; there is no path-wise form.
        if (hasRest && t[*close + 1].kind != Kind::Slash) {
            continue;
        }
        std::string_view prefix = s.substr(t[*start].begin, t[i].begin - t[*start].begin);
        std::string_view rest;
        size_t replaceEnd = t[*close].end;
        if (hasRest) {
            replaceEnd = t[*end - 1].end;
            rest = s.substr(t[*close].end, replaceEnd - t[*close].end);
        }
        std::string out(s.substr(0, t[*start].begin));
        out += '(';
        for (size_t a = 0; a < alts->size(); ++a) {
            if (a > 0) {
                out += " | ";
            }
            out += prefix;
            out += s.substr((*alts)[a].first, (*alts)[a].second - (*alts)[a].first);
            out += rest;
        }
        out += ')';
        out += s.substr(replaceEnd);
        return out;
    }
    return std::nullopt;
}

}  // namespace

std::string XPathRewriter::rewrite(std::string_view expression) {
    std::string current(expression);
    for (int n = 0; n < kMaxRewrites; ++n) {
        auto tokens = Lexer(current).run();
        if (!tokens) {
            return std::string(expression);
        }
        auto next = rewriteOnce(current, *tokens);
        if (!next) {
            return current;
        }
        if (next->size() > kMaxRewrittenLength) {
            return std::string(expression);
        }
        current = std::move(*next);
    }
    return std::string(expression);
}

}  // namespace platform::xml
