#pragma once
// An event parser of S3's XML replies. It tracks the open elements and the text of
// the element being read, and calls the handler at the end of every element with
// its name (as written, prefix included) and text; the handler answers false to
// stop. No network, no DTD, no entity is ever loaded.
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TXS3ReplyParser {
  public:
    // Replies longer than this are refused as unparseable.
    static constexpr size_t kMaxReplyBytes = size_t{16} * 1024 * 1024;
    // Deeper nesting is refused too; S3 replies are a few levels deep.
    static constexpr size_t kMaxDepth = 64;

    // name, text, the names of the elements still open (outermost first).
    using ElementEnded = std::function<bool(const std::string& name, const std::string& text,
                                            const std::vector<std::string>& openElements)>;

    struct Outcome {
        bool stopped = false;              // the handler asked to stop
        std::optional<std::string> error;  // the parser's description of bad input
    };

    static Outcome parse(std::string_view bytes, const ElementEnded& handler);
};
