#include "apps/share_destination/SAMShareTiming.h"

#include <cmath>

#include "base/Console.h"
#include "base/Format.h"
#include "platform/xml/Document.h"
#include "support/OWAVFoundation.h"
#include "support/OWFCPXMLParser.h"
#include "support/OWTimecode.h"
#include "support/OWXMLParser.h"

namespace sam {
namespace {

std::optional<std::string> attribute(const platform::xml::Node& node, const char* name) {
    return OWXMLParser::stringValueForQuery(std::string("@") + name, node);
}

}  // namespace

std::string xmlLogLine(const std::string& text) {
    if (text.size() <= kMaxLoggedXMLBytes) {
        return "xml data: " + text;
    }
    size_t cut = kMaxLoggedXMLBytes;
    // Back off continuation bytes so the line stays valid UTF-8.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return base::format("xml data: %@... (%lu more bytes left out)", text.substr(0, cut),
                        static_cast<uint64_t>(text.size() - cut));
}

SequenceTiming readSequenceTiming(const std::string& path) {
    SequenceTiming timing;
    auto parsed = platform::xml::Document::parseFile(path);
    if (!parsed.document) {
        base::Console::log("xml data: (unreadable: %@)", parsed.error);
        return timing;
    }
    const platform::xml::Document& document = *parsed.document;
    base::Console::write(xmlLogLine(document.xmlString()));
    const platform::xml::Node root = document.rootElement();
    platform::xml::Node sequence = OWXMLParser::nodeForQuery("//sequence[1]", root);
    if (!sequence) {
        sequence = OWXMLParser::nodeForQuery(
            "//(clip[1] | mc-clip[1] | ref-clip[1] | sync-clip[1] | asset-clip[1])", root);
    }
    base::Console::log("sequence: %@", sequence ? sequence.xmlString().substr(0, 1024) : "(none)");
    if (!sequence) {
        return timing;
    }
    const std::string format = attribute(sequence, "format").value_or("");
    const auto frameDuration = OWXMLParser::stringValueForQuery(
        base::format("./fcpxml[1]/resources[1]/format[@id=\"%@\"]/@frameDuration[1]", format),
        document.documentNode());
    base::Console::log("format: %@", format);
    base::Console::log("dur: %@", frameDuration.value_or("(null)"));
    timing.fps = OWFCPXMLParser::fpsFromFrameDuration(frameDuration);
    timing.dropFrame = attribute(sequence, "tcFormat") == std::optional<std::string>("DF");
    auto start = attribute(sequence, "tcStart");
    if (!start) {
        start = attribute(sequence, "start");
    }
    const double seconds = OWFCPXMLParser::secondsFromTimeString(start);
    const double frames = seconds * timing.fps;
    timing.zeroPoint = std::isfinite(frames) ? static_cast<int64_t>(frames) : 0;
    return timing;
}

MovieTiming readMovieTiming(const platform::media::MovieAsset& movie) {
    MovieTiming timing;
    timing.fps = OWAVFoundation::fpsForAsset(movie);
    const platform::media::MediaTime duration =
        movie.isReadable() ? movie.duration() : platform::media::MediaTime::make(0, 1);
    timing.durationFrames = OWAVFoundation::framesAtTime(duration, timing.fps);
    const std::string start =
        OWAVFoundation::timecodeStartForAsset(movie, std::string("00:00:00:00"))
            .value_or("00:00:00:00");
    timing.dropFrame = OWAVFoundation::isDropFrame(movie);
    const int64_t timebase = static_cast<int64_t>(std::ceil(timing.fps));
    const bool ntsc = std::floor(timing.fps) != std::ceil(timing.fps);
    timing.zeroPoint =
        OWTimecode::frameCountFromTimecode(start, timebase, ntsc, timing.dropFrame, 0);
    const double seconds = duration.valid ? duration.seconds() : 0;
    timing.thumbnailSeconds = std::isfinite(seconds) ? std::ceil(0.1 * seconds) : 0;
    return timing;
}

std::optional<platform::image::RGBAImage> thumbnailFrame(const platform::media::MovieAsset& movie,
                                                         double seconds) {
    return movie.frameAtTime(seconds, true);
}

}  // namespace sam
