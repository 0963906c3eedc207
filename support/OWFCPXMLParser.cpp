#include "support/OWFCPXMLParser.h"

#include <cmath>
#include <limits>
#include <set>

#include "platform/xml/Document.h"
#include "platform/xml/Node.h"
#include "support/LeadingNumber.h"
#include "support/OWTimecode.h"
#include "support/OWXMLParser.h"

namespace {

using owtext::leadingDouble;
using owtext::leadingInteger;
using platform::xml::Node;

constexpr const char* kSequence = "./fcpxml[1]/library[1]//project[1]/sequence[1]";
constexpr const char* kMainStorylineMarkers =
    "./fcpxml[1]/library[1]//project[1]/sequence[1]/spine[1]/"
    "(clip | ref-clip | video | mc-clip | title | transition | gap)/marker";
constexpr const char* kAnyDepthMarkers =
    "./fcpxml[1]/library[1]//project[1]/sequence[1]/spine[1]//"
    "(clip | ref-clip | video | mc-clip | title | transition | gap)/marker";

// The parts of a time value: one trailing "s" removed, then split at every "/".
std::vector<std::string_view> timeParts(std::string_view text) {
    if (!text.empty() && text.back() == 's') {
        text.remove_suffix(1);
    }
    std::vector<std::string_view> parts;
    while (true) {
        const size_t slash = text.find('/');
        parts.push_back(text.substr(0, slash));
        if (slash == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(slash + 1);
    }
}

// Time values are finite: a zero divisor or an overflow gives 0, never inf or NaN.
double finiteOrZero(double v) {
    return std::isfinite(v) ? v : 0;
}

double quotient(double a, double b) {
    return b == 0 ? 0 : finiteOrZero(a / b);
}

// Integer conversions of doubles that are undefined out of range give 0 there.
int64_t toInt64(double v) {
    if (!std::isfinite(v) || v >= 9.2e18 || v <= -9.2e18) {
        return 0;
    }
    return static_cast<int64_t>(v);
}

// Seconds times frames per second lands a hair off the whole number for many
// frame-exact times (15 frames at 30000/1001 give 14.999999999999998); such values
// count as that whole frame before truncating or rounding up.
constexpr double kFrameTolerance = 1e-6;

int64_t truncatedFrames(double frames) {
    const double nearest = std::round(frames);
    return toInt64(std::fabs(frames - nearest) < kFrameTolerance ? nearest : std::trunc(frames));
}

int64_t roundedUpFrames(double frames) {
    const double nearest = std::round(frames);
    return toInt64(std::fabs(frames - nearest) < kFrameTolerance ? nearest : std::ceil(frames));
}

}  // namespace

struct OWFCPXMLParser::Timing {
    double fps = 30.0;
    int64_t timebase = 30;
    bool ntsc = false;
    bool dropFrame = false;
    int64_t startFrame = 0;
};

double OWFCPXMLParser::secondsFromTimeString(std::optional<std::string_view> text) {
    if (!text) {
        return 0;
    }
    auto parts = timeParts(*text);
    if (parts.size() == 1) {
        return finiteOrZero(leadingDouble(parts[0]));
    }
    if (parts.size() == 2) {
        return quotient(leadingDouble(parts[0]), leadingDouble(parts[1]));
    }
    return 0;
}

uint64_t OWFCPXMLParser::framesFromTimeString(std::optional<std::string_view> text,
                                              uint64_t frameDuration) {
    if (!text || frameDuration == 0) {
        return 0;
    }
    const double frames =
        leadingDouble(timeParts(*text).front()) / static_cast<double>(frameDuration);
    if (!(frames >= 0) || !std::isfinite(frames)) {
        return 0;
    }
    if (frames >= 18446744073709551615.0) {
        return std::numeric_limits<uint64_t>::max();
    }
    return static_cast<uint64_t>(frames);
}

double OWFCPXMLParser::fpsFromFrameDuration(std::optional<std::string_view> text) {
    if (!text) {
        return 0;
    }
    auto parts = timeParts(*text);
    if (parts.size() == 1) {
        return quotient(1.0, leadingDouble(parts[0]));
    }
    if (parts.size() == 2) {
        return quotient(leadingDouble(parts[1]), leadingDouble(parts[0]));
    }
    return 0;
}

uint64_t OWFCPXMLParser::multiplierFromFrameDuration(std::optional<std::string_view> text) {
    if (!text) {
        return 0;
    }
    const int64_t value = leadingInteger(timeParts(*text).front());
    return value > 0 ? static_cast<uint64_t>(value) : 0;
}

std::optional<std::string> OWFCPXMLParser::sequenceFrameDuration(const Node& document) {
    const std::string first = "./fcpxml[1]/resources[1]/format/@frameDuration[1]";
    Node sequence = OWXMLParser::nodeForQuery(kSequence, document);
    auto formatId =
        sequence ? OWXMLParser::stringValueForQuery("./@format[1]", sequence) : std::nullopt;
    if (!formatId) {
        return OWXMLParser::stringValueForQuery(first, document);
    }
    // The id is compared here rather than written into a query, so no quoting is needed.
    auto formats = OWXMLParser::nodesForQuery("./fcpxml[1]/resources[1]/format", document);
    for (const Node& format : formats.value_or(std::vector<Node>{})) {
        if (OWXMLParser::stringValueForQuery("./@id[1]", format) == formatId) {
            return OWXMLParser::stringValueForQuery("./@frameDuration[1]", format);
        }
    }
    return OWXMLParser::stringValueForQuery(first, document);
}

OWFCPXMLParser::Timing OWFCPXMLParser::sequenceTiming(const Node& document, bool useTimecode) {
    Timing timing;
    if (!useTimecode) {
        return timing;
    }
    timing.fps = fpsFromFrameDuration(sequenceFrameDuration(document));
    timing.timebase = toInt64(std::ceil(timing.fps));
    timing.ntsc = static_cast<double>(timing.timebase) > timing.fps;
    timing.dropFrame = OWXMLParser::stringValueForQuery(std::string(kSequence) + "/@tcFormat[1]",
                                                        document) == "DF";
    const double start = secondsFromTimeString(
        OWXMLParser::stringValueForQuery(std::string(kSequence) + "/@tcStart", document));
    timing.startFrame = roundedUpFrames(start * timing.fps);
    return timing;
}

std::string OWFCPXMLParser::relativeTimecode(const std::string& timecode, int64_t relativeHour) {
    std::vector<std::string> pieces;
    size_t from = 0;
    while (true) {
        const size_t at = timecode.find_first_of(":;", from);
        pieces.push_back(timecode.substr(from, at == std::string::npos ? at : at - from));
        if (at == std::string::npos) {
            break;
        }
        from = at + 1;
    }
    // Hours are counted from the relative hour and stay within 0 to 23.
    const int64_t hour = (leadingInteger(pieces[0]) % 24 + 24) % 24;
    const int64_t newHour = (hour - relativeHour % 24 + 24) % 24;
    std::string text = (newHour < 10 ? "0" : "") + std::to_string(newHour) + ":";
    for (size_t i = 1; i < pieces.size(); ++i) {
        text += (i > 1 ? ":" : "") + pieces[i];
    }
    return text;
}

std::vector<base::Dictionary> OWFCPXMLParser::markersFromXMLFile(const std::string& path,
                                                                 bool useTimecode,
                                                                 bool stripDuplicates,
                                                                 bool mainStorylineOnly,
                                                                 int64_t relativeHour) {
    std::vector<base::Dictionary> markers;
    auto parsed = platform::xml::Document::parseFile(path);
    if (!parsed.document) {
        return markers;
    }
    const Node document = parsed.document->documentNode();
    const Timing timing = sequenceTiming(document, useTimecode);
    auto nodes = OWXMLParser::nodesForQuery(
        mainStorylineOnly ? kMainStorylineMarkers : kAnyDepthMarkers, document);
    std::set<double> seen;
    for (const Node& marker : nodes.value_or(std::vector<Node>{})) {
        auto name = OWXMLParser::stringValueForQuery("./@value[1]", marker);
        const double m =
            secondsFromTimeString(OWXMLParser::stringValueForQuery("./@start[1]", marker));
        const double p =
            secondsFromTimeString(OWXMLParser::stringValueForQuery("./../@start[1]", marker));
        if (p > m) {
            continue;
        }
        const double d =
            secondsFromTimeString(OWXMLParser::stringValueForQuery("./../@duration[1]", marker));
        if (m > p + d) {
            continue;
        }
        const double o =
            secondsFromTimeString(OWXMLParser::stringValueForQuery("./../@offset[1]", marker));
        const double t = m - p + o;
        if (!std::isfinite(t)) {
            continue;  // a time that cannot be placed on the timeline
        }
        const bool duplicate = !seen.insert(t).second;
        if (stripDuplicates && duplicate) {
            continue;
        }
        base::Dictionary record;
        if (!name) {
            markers.push_back(record);
            continue;
        }
        record.set("name", *name);
        if (useTimecode) {
            std::string text = OWTimecode::timecodeFromFrameCount(
                truncatedFrames(t * timing.fps), timing.timebase, timing.ntsc, timing.dropFrame,
                timing.startFrame);
            if (relativeHour >= 0) {
                text = relativeTimecode(text, relativeHour);
            }
            record.set("startTimecode", text);
        } else {
            record.set("seconds", t);
        }
        markers.push_back(std::move(record));
    }
    return markers;
}
