#pragma once
// Rewrites a parenthesised union used as a step inside a location path, which
// XPath 2.0 allows and libxml2's XPath 1.0 evaluator refuses, into the union of
// whole paths that selects the same nodes in the same document order:
//
//   P/(A | B)/R   becomes   (P/A/R | P/B/R)
//
// e.g. "//(clip[1] | gap[1])" becomes "(//clip[1] | //gap[1])". Quotes, brackets and
// nested groups are respected and the rewrite is applied until none is left.
// Expressions without such a step, and expressions it cannot read, come back as
// they were, so the evaluator reports their errors.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform::xml {

class XPathRewriter {
  public:
    // Longest expression the rewrite produces; beyond it the input is returned as is.
    static constexpr size_t kMaxRewrittenLength = size_t{64} * 1024;
    // Step unions rewritten at most in one expression.
    static constexpr int kMaxRewrites = 256;

    static std::string rewrite(std::string_view expression);
};

}  // namespace platform::xml
