#pragma once
// A still of the sequence at its current position, rendered by the host, for the
// upload's thumbnail.
#include <memory>

#include "apps/export_plugin/HostSuites.h"
#include "platform/image/RGBAImage.h"

namespace exportplugin {

// The picture in a host frame buffer (rows bottom first, `rowBytes` apart, blue, green,
// red, alpha) as an upright image; none when the sizes are unusable.
std::optional<platform::image::RGBAImage> imageFromFrameBuffer(const char* pixels, int width,
                                                               int height, int32_t rowBytes);

// Renders the frame at the timeline's current position and returns it upright; null
// when a suite or function it needs is missing, the host makes no frame buffer or does
// not render the frame into it, or when `host` has stopped before the picture was read:
// from then on the host is asked nothing more, and a frame buffer already made is freed.
std::shared_ptr<const platform::image::RGBAImage> thumbnailForTimeline(ecTimelineID timeline,
                                                                       const ecStdParms* stdParms,
                                                                       const HostSuites& suites,
                                                                       const HostCalls& host = {});

}  // namespace exportplugin
