#include "base/PropertyListDepth.h"

#include "base/BigEndian.h"

#include <algorithm>
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
// index. libplist follows the references from the top object depth first, building a
// node for every reference it meets, so the depth is the longest chain of containers
// from there and the size is the tree with every shared object written out again. A
// chain that comes back to itself is refused, and each container's height and size are
// found once.

class BinaryDepthScan {
  public:
    BinaryDepthScan(std::string_view bytes, const PropertyListDepth::Limits& limits)
        : bytes_(bytes), limits_(limits) {}
    bool passes();

  private:
    static constexpr uint16_t kUnseen = 0xffff;
    static constexpr uint16_t kOnPath = 0xfffe;

    // An object's references (none for a leaf) and the text a leaf carries.
    struct Object {
        bool container = false;
        uint64_t refs = 0;   // where its references start
        uint64_t count = 0;  // how many references
        uint64_t text = 0;   // the bytes of a string's or data's contents
    };
    // What an object expands to: its nodes and the text they carry.
    struct Size {
        uint64_t nodes = 0;
        uint64_t text = 0;
    };
    struct StoredSize {
        uint32_t nodes = 0;
        uint32_t text = 0;
    };
    struct Frame {
        uint64_t object;
        Object container;
        uint64_t next = 0;
        uint16_t height = 0;  // of the highest child so far, plus one
        Size size{1, 0};      // itself and its children so far
    };

    std::optional<uint64_t> bigEndian(uint64_t offset, uint64_t width) const {
        return bigEndianAt(bytes_, offset, width);
    }
    // False when the object cannot be read.
    bool objectAt(uint64_t object, Object& found) const;
    std::optional<uint64_t> reference(const Object& c, uint64_t i) const {
        return bigEndian(c.refs + i * refSize_, refSize_);
    }
    // Adds `more` to `size`; false once the total is over the limits.
    bool grow(Size& size, Size more) const {
        size.nodes += more.nodes;
        size.text += more.text;
        return size.nodes <= limits_.nodes && size.text <= limits_.text;
    }

    std::string_view bytes_;
    PropertyListDepth::Limits limits_;
    uint64_t objectArea_ = 0;  // the trailer starts here
    uint64_t offsetSize_ = 0;
    uint64_t refSize_ = 0;
    uint64_t count_ = 0;
    uint64_t table_ = 0;
};

bool BinaryDepthScan::objectAt(uint64_t object, Object& found) const {
    const auto offset = bigEndian(table_ + object * offsetSize_, offsetSize_);
    if (!offset || *offset >= objectArea_) {
        return false;
    }
    const auto marker = static_cast<uint8_t>(bytes_[*offset]);
    const uint8_t kind = marker >> 4;
    // Arrays (0xA), sets (0xC) and dictionaries (0xD, keys then values) refer onward;
    // data (0x4) and strings (0x5 ASCII, 0x6 UTF-16, 0x7 UTF-8) carry text.
    const bool container = kind == 0xa || kind == 0xc || kind == 0xd;
    if (!container && (kind < 0x4 || kind > 0x7)) {
        found = Object{};
        return true;
    }
    const auto counted = binaryCountAt(bytes_.substr(0, objectArea_), *offset);
    if (!counted) {
        return false;
    }
    uint64_t count = counted->count;
    const uint64_t start = counted->start;
    const uint64_t unit = container ? refSize_ : kind == 0x6 ? 2 : 1;
    if (kind == 0xd) {
        if (count > std::numeric_limits<uint64_t>::max() / 2) {
            return false;
        }
        count *= 2;
    }
    if (start > objectArea_ || count > (objectArea_ - start) / unit) {
        return false;
    }
    found = container ? Object{true, start, count, 0} : Object{false, 0, 0, count * unit};
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

    // Heights of containers seen whole; kOnPath while one is being walked. Their sizes
    // beside them, once seen whole.
    std::vector<uint16_t> height(count_, kUnseen);
    std::vector<StoredSize> sizes(count_);
    std::vector<Frame> path;
    Object root;
    if (!objectAt(*top, root)) {
        return false;
    }
    if (!root.container) {
        Size alone;
        return grow(alone, Size{1, root.text});
    }
    if (limits_.depth == 0 || limits_.nodes == 0) {
        return false;
    }
    height[*top] = kOnPath;
    path.push_back(Frame{*top, root});
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next == frame.container.count) {
            const uint16_t done = static_cast<uint16_t>(frame.height + 1);
            height[frame.object] = done;
            // Within the limits, which fit 32 bits.
            sizes[frame.object] = {static_cast<uint32_t>(frame.size.nodes),
                                   static_cast<uint32_t>(frame.size.text)};
            const Size size = frame.size;
            path.pop_back();
            if (path.empty()) {
                break;
            }
            if (done > path.back().height) {
                path.back().height = done;
            }
            if (!grow(path.back().size, size)) {
                return false;
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
            if (path.size() + height[*child] > limits_.depth) {
                return false;
            }
            if (height[*child] > frame.height) {
                frame.height = height[*child];
            }
            if (!grow(frame.size, {sizes[*child].nodes, sizes[*child].text})) {
                return false;
            }
            continue;
        }
        Object object;
        if (!objectAt(*child, object)) {
            return false;
        }
        if (!object.container) {
            if (!grow(frame.size, Size{1, object.text})) {
                return false;
            }
            continue;
        }
        if (path.size() >= limits_.depth) {
            return false;
        }
        height[*child] = kOnPath;
        path.push_back(Frame{*child, object});
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

bool PropertyListDepth::binaryWithin(std::string_view bytes, Limits limits) {
    if (limits.depth >= 0xfffe) {
        limits.depth = 0xfffd;  // heights are kept in 16 bits
    }
    // Sizes are kept in 32 bits.
    limits.nodes = std::min<size_t>(limits.nodes, std::numeric_limits<uint32_t>::max());
    limits.text = std::min<size_t>(limits.text, std::numeric_limits<uint32_t>::max());
    return BinaryDepthScan(bytes, limits).passes();
}

bool PropertyListDepth::within(std::string_view bytes, const Limits& limits) {
    return isBinary(bytes) ? binaryWithin(bytes, limits) : xmlWithin(bytes, limits.depth);
}

}  // namespace base
