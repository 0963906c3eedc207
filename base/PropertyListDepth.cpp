#include "base/PropertyListDepth.h"

#include "base/BigEndian.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace base {
namespace {

// ---- XML ----
//
// The scan must never count less nesting than libplist builds, so wherever the two
// could read a construct differently, the scan either reads it as deeper or refuses:
// what it skips (comments, character data, processing instructions, declarations) it
// skips only to the first possible end, a closing tag ends only the element it names,
// and quotes (which could hide a ">" from one reader and not the other) are accepted
// only in the first tag of the document (the root's version attribute).

bool isNameChar(char c) {
    return c != '>' && c != '/' && c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\0';
}

class XmlDepthScan {
  public:
    XmlDepthScan(std::string_view text, size_t maxElements)
        : text_(text), maxElements_(maxElements) {}
    bool passes();

  private:
    // Moves past the first `end` at or after `pos_`; false when there is none.
    bool skipPast(std::string_view end);
    bool startsWith(std::string_view prefix) const {
        return text_.substr(pos_).starts_with(prefix);
    }
    // Where the tag name that starts at `from` ends.
    size_t nameEnd(size_t from) const {
        while (from < text_.size() && isNameChar(text_[from])) {
            ++from;
        }
        return from;
    }
    bool declaration();  // "<!..." at pos_
    bool closingTag();   // "</..." at pos_
    bool startTag();     // "<name..." at pos_

    std::string_view text_;
    size_t maxElements_;
    size_t pos_ = 0;
    bool seenElement_ = false;
    std::vector<std::string_view> open_;
};

bool XmlDepthScan::skipPast(std::string_view end) {
    const size_t at = text_.find(end, pos_);
    if (at == std::string_view::npos) {
        pos_ = text_.size();
        return false;
    }
    pos_ = at + end.size();
    return true;
}

bool XmlDepthScan::declaration() {
    if (startsWith("<!--")) {
        pos_ += 4;
        skipPast("-->");
        return true;
    }
    if (startsWith("<![CDATA[")) {
        pos_ += 9;
        skipPast("]]>");
        return true;
    }
    // A document type declaration belongs before the first element; inside one, no
    // reader agrees on it.
    if (!open_.empty()) {
        return false;
    }
    pos_ += 2;
    skipPast(">");
    return true;
}

bool XmlDepthScan::closingTag() {
    const size_t nameStart = pos_ + 2;
    const size_t nameStop = nameEnd(nameStart);
    const size_t end = text_.find('>', nameStop);
    if (end == std::string_view::npos) {
        pos_ = text_.size();
        return true;
    }
    const std::string_view rest = text_.substr(nameStop, end - nameStop);
    if (rest.find_first_of("\"'") != std::string_view::npos) {
        return false;
    }
    if (!open_.empty() && open_.back() == text_.substr(nameStart, nameStop - nameStart)) {
        open_.pop_back();
    }
    pos_ = end + 1;
    return true;
}

bool XmlDepthScan::startTag() {
    const size_t nameStart = pos_ + 1;
    const size_t nameStop = nameEnd(nameStart);
    if (nameStop == nameStart) {
        return false;  // "<" before no name: not XML any reader agrees on
    }
    const size_t end = text_.find('>', nameStop);
    const std::string_view tag =
        text_.substr(pos_, end == std::string_view::npos ? std::string_view::npos : end - pos_);
    if (seenElement_ && tag.find_first_of("\"'") != std::string_view::npos) {
        return false;
    }
    seenElement_ = true;
    // A tag that does not end still counts: the reader may build its node first.
    const bool empty = end != std::string_view::npos && tag.ends_with('/');
    if (!empty) {
        if (open_.size() >= maxElements_) {
            return false;
        }
        open_.push_back(text_.substr(nameStart, nameStop - nameStart));
    }
    pos_ = end == std::string_view::npos ? text_.size() : end + 1;
    return true;
}

bool XmlDepthScan::passes() {
    while (pos_ < text_.size()) {
        const size_t lt = text_.find('<', pos_);
        if (lt == std::string_view::npos) {
            return true;
        }
        pos_ = lt;
        bool ok = true;
        if (startsWith("<?")) {
            pos_ += 2;
            skipPast(">");
        } else if (startsWith("<!")) {
            ok = declaration();
        } else if (startsWith("</")) {
            ok = closingTag();
        } else {
            ok = startTag();
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

// ---- binary ----
//
// The object table is a graph: arrays, sets and dictionaries refer to other objects by
// index. libplist follows the references from the top object depth first, so the
// depth is the longest chain of containers from there; a chain that comes back to
// itself is refused, and each object's height is found once.

class BinaryDepthScan {
  public:
    BinaryDepthScan(std::string_view bytes, size_t maxDepth) : bytes_(bytes), maxDepth_(maxDepth) {}
    bool passes();

  private:
    static constexpr uint16_t kUnseen = 0xffff;
    static constexpr uint16_t kOnPath = 0xfffe;

    struct Container {
        uint64_t refs = 0;   // where its references start
        uint64_t count = 0;  // how many references
    };
    struct Frame {
        uint64_t object;
        Container container;
        uint64_t next = 0;
        uint16_t height = 0;  // of the highest child so far, plus one
    };

    std::optional<uint64_t> bigEndian(uint64_t offset, uint64_t width) const;
    // A container's references; none for any other object. False when unreadable.
    bool containerAt(uint64_t object, std::optional<Container>& container) const;
    std::optional<uint64_t> reference(const Container& c, uint64_t i) const {
        return bigEndian(c.refs + i * refSize_, refSize_);
    }

    std::string_view bytes_;
    size_t maxDepth_;
    uint64_t objectArea_ = 0;  // the trailer starts here
    uint64_t offsetSize_ = 0;
    uint64_t refSize_ = 0;
    uint64_t count_ = 0;
    uint64_t table_ = 0;
};

std::optional<uint64_t> BinaryDepthScan::bigEndian(uint64_t offset, uint64_t width) const {
    return bigEndianAt(bytes_, offset, width);
}

bool BinaryDepthScan::containerAt(uint64_t object, std::optional<Container>& container) const {
    const auto offset = bigEndian(table_ + object * offsetSize_, offsetSize_);
    if (!offset || *offset >= objectArea_) {
        return false;
    }
    const auto marker = static_cast<uint8_t>(bytes_[*offset]);
    const uint8_t kind = marker >> 4;
    // Arrays (0xA), sets (0xC) and dictionaries (0xD, keys then values) refer onward.
    if (kind != 0xa && kind != 0xc && kind != 0xd) {
        container.reset();
        return true;
    }
    uint64_t count = marker & 0x0f;
    uint64_t refs = *offset + 1;
    if (count == 0x0f) {
        const auto intMarker = bigEndian(refs, 1);
        if (!intMarker || (*intMarker >> 4) != 0x1 || (*intMarker & 0x0f) > 3) {
            return false;
        }
        const uint64_t width = uint64_t{1} << (*intMarker & 0x0f);
        const auto value = bigEndian(refs + 1, width);
        if (!value) {
            return false;
        }
        count = *value;
        refs += 1 + width;
    }
    if (kind == 0xd) {
        if (count > std::numeric_limits<uint64_t>::max() / 2) {
            return false;
        }
        count *= 2;
    }
    if (refs > objectArea_ || count > (objectArea_ - refs) / refSize_) {
        return false;
    }
    container = Container{refs, count};
    return true;
}

bool BinaryDepthScan::passes() {
    constexpr uint64_t kHeader = 8;
    constexpr uint64_t kTrailer = 32;
    if (bytes_.size() < kHeader + kTrailer) {
        return false;
    }
    objectArea_ = bytes_.size() - kTrailer;
    offsetSize_ = static_cast<uint8_t>(bytes_[objectArea_ + 6]);
    refSize_ = static_cast<uint8_t>(bytes_[objectArea_ + 7]);
    const auto count = bigEndian(objectArea_ + 8, 8);
    const auto top = bigEndian(objectArea_ + 16, 8);
    const auto table = bigEndian(objectArea_ + 24, 8);
    if (!count || !top || !table || offsetSize_ == 0 || offsetSize_ > 8 || refSize_ == 0 ||
        refSize_ > 8 || *table > objectArea_ || *count == 0 ||
        *count > (objectArea_ - *table) / offsetSize_ || *top >= *count) {
        return false;
    }
    count_ = *count;
    table_ = *table;

    // Heights of containers seen whole; kOnPath while one is being walked.
    std::vector<uint16_t> height(count_, kUnseen);
    std::vector<Frame> path;
    std::optional<Container> root;
    if (!containerAt(*top, root)) {
        return false;
    }
    if (!root) {
        return true;
    }
    if (maxDepth_ == 0) {
        return false;
    }
    height[*top] = kOnPath;
    path.push_back(Frame{*top, *root});
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next == frame.container.count) {
            const uint16_t done = static_cast<uint16_t>(frame.height + 1);
            height[frame.object] = done;
            path.pop_back();
            if (!path.empty() && done > path.back().height) {
                path.back().height = done;
            }
            continue;
        }
        const auto child = reference(frame.container, frame.next++);
        if (!child || *child >= count_) {
            return false;
        }
        if (height[*child] == kOnPath) {
            return false;  // refers back to itself
        }
        if (height[*child] != kUnseen) {
            if (path.size() + height[*child] > maxDepth_) {
                return false;
            }
            if (height[*child] > frame.height) {
                frame.height = height[*child];
            }
            continue;
        }
        std::optional<Container> container;
        if (!containerAt(*child, container)) {
            return false;
        }
        if (!container) {
            continue;
        }
        if (path.size() >= maxDepth_) {
            return false;
        }
        height[*child] = kOnPath;
        path.push_back(Frame{*child, *container});
    }
    return true;
}

bool isBinary(std::string_view bytes) {
    return bytes.starts_with("bplist00");
}

}  // namespace

bool PropertyListDepth::xmlWithin(std::string_view text, size_t maxDepth) {
    // The root element and a value element around and inside the containers.
    constexpr size_t kOuterElements = 2;
    return XmlDepthScan(text, maxDepth + kOuterElements).passes();
}

bool PropertyListDepth::binaryWithin(std::string_view bytes, size_t maxDepth) {
    if (maxDepth >= 0xfffe) {
        maxDepth = 0xfffd;  // heights are kept in 16 bits
    }
    return BinaryDepthScan(bytes, maxDepth).passes();
}

bool PropertyListDepth::within(std::string_view bytes, size_t maxDepth) {
    return isBinary(bytes) ? binaryWithin(bytes, maxDepth) : xmlWithin(bytes, maxDepth);
}

}  // namespace base
