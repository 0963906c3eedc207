#include "apps/share_destination/SAMAsset.h"

#include <filesystem>

#include "base/Format.h"
#include "support/OWLog.h"

namespace {

std::string described(const std::optional<platform::scripting::FileURL>& url) {
    return url ? url->absoluteString() : std::string("(null)");
}
std::string described(const std::optional<std::string>& text) {
    return text.value_or("(null)");
}

const platform::media::MovieTrack* firstVideoTrack(const platform::media::MovieAsset* asset) {
    if (asset == nullptr) {
        return nullptr;
    }
    for (const auto& track : asset->tracks()) {
        if (track.type == platform::media::MovieTrack::Type::Video) {
            return &track;
        }
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<SAMAsset> SAMAsset::create() {
    std::shared_ptr<SAMAsset> asset(new SAMAsset());
    OWLog::appendLog("init SAMAsset %@", asset->uniqueID());
    return asset;
}

std::shared_ptr<SAMAsset> SAMAsset::create(const std::string& basename, const FileURL& folder,
                                           std::optional<std::string> mediaExtension,
                                           std::optional<std::string> descExtension) {
    std::shared_ptr<SAMAsset> asset(new SAMAsset());
    asset->setName(basename);
    asset->principalURL_ = folder.appendingPathComponent(basename);
    asset->folderLocation_ = folder;
    asset->mediaExtension_ = std::move(mediaExtension);
    asset->descExtension_ = std::move(descExtension);
    OWLog::appendLog("init SAMAsset %@", asset->uniqueID());
    return asset;
}

std::shared_ptr<SAMAsset> SAMAsset::createWithURL(const FileURL& url) {
    std::shared_ptr<SAMAsset> asset(new SAMAsset());
    const std::string extension = url.pathExtension();
    asset->principalURL_ = url.deletingPathExtension();
    asset->folderLocation_ = asset->principalURL_->deletingLastPathComponent();
    asset->setName(asset->principalURL_->lastPathComponent());
    if (isMediaExtension(extension)) {
        asset->mediaExtension_ = extension;
        asset->descExtension_ = "fcpxml";
    } else if (isDescExtension(extension)) {
        asset->descExtension_ = extension;
        asset->mediaExtension_ = "mp4";
    }
    OWLog::appendLog("init SAMAsset %@", asset->uniqueID());
    return asset;
}

SAMAsset::~SAMAsset() {
    OWLog::appendLog("del SAMAsset %@", uniqueID());
}

const std::optional<platform::scripting::FileURL>& SAMAsset::folderLocation() const {
    OWLog::appendLog("SAMAsset %@ property folderLocation %@", uniqueID(),
                     described(folderLocation_));
    return folderLocation_;
}

const std::optional<std::string>& SAMAsset::mediaExtension() const {
    OWLog::appendLog("SAMAsset %@ property mediaExtension %@", uniqueID(),
                     described(mediaExtension_));
    return mediaExtension_;
}

void SAMAsset::setMediaExtension(std::optional<std::string> extension) {
    OWLog::appendLog("SAMAsset %@ setting property mediaExtension %@", uniqueID(),
                     described(extension));
    mediaExtension_ = std::move(extension);
}

const std::optional<std::string>& SAMAsset::descExtension() const {
    OWLog::appendLog("SAMAsset %@ property descExtension %@", uniqueID(),
                     described(descExtension_));
    return descExtension_;
}

void SAMAsset::setDescExtension(std::optional<std::string> extension) {
    OWLog::appendLog("SAMAsset %@ setting property descExtension %@", uniqueID(),
                     described(extension));
    descExtension_ = std::move(extension);
}

const std::optional<platform::scripting::FileURL>& SAMAsset::principalURL() const {
    OWLog::appendLog("SAMAsset %@ property principalURL %@", uniqueID(), described(principalURL_));
    return principalURL_;
}

std::optional<platform::scripting::FileURL> SAMAsset::mediaFile() const {
    if (!principalURL_ || !mediaExtension_) {
        return std::nullopt;
    }
    return principalURL_->appendingPathExtension(*mediaExtension_);
}

std::optional<platform::scripting::FileURL> SAMAsset::descFile() const {
    if (!principalURL_ || !descExtension_) {
        return std::nullopt;
    }
    return principalURL_->appendingPathExtension(*descExtension_);
}

SAMLocation SAMAsset::locationInfo() const {
    SAMLocation location;
    location.set(kMediaAssetLocationFolderKey,
                 folderLocation_ ? base::Value(folderLocation_->absoluteString()) : base::Value());
    location.set(kMediaAssetLocationBasenameKey, name());
    if (hasMedia()) {
        location.set(kMediaAssetLocationHasMediaKey, true);
    }
    if (hasDescription()) {
        location.set(kMediaAssetLocationHasDescriptionKey, true);
    }
    return location;
}

void SAMAsset::addMetadata(base::Value value, const std::string& key) {
    if (!metadata_) {
        metadata_.emplace();
    }
    metadata_->set(key, std::move(value));
}

void SAMAsset::setDataOption(base::Value value, const std::string& key) {
    if (dataOptions_) {
        dataOptions_->set(key, std::move(value));
    }
}

base::Value SAMAsset::dataOptionForKey(const std::string& key) const {
    const base::Value* v = dataOptions_ ? dataOptions_->find(key) : nullptr;
    return v ? *v : base::Value();
}

bool SAMAsset::mediaReachable() const {
    const auto file = mediaFile();
    std::error_code ignored;
    return file && std::filesystem::is_regular_file(file->path(), ignored);
}

void SAMAsset::loadMedia() {
    if (mediaReachable()) {
        internalAsset_ = std::make_shared<const platform::media::MovieAsset>(
            platform::media::MovieAsset::fromPath(mediaFile()->path()));
    }
}

void SAMAsset::loadDescription() {
    const auto file = descFile();
    std::error_code ignored;
    if (file && std::filesystem::is_regular_file(file->path(), ignored)) {
        auto parsed = platform::xml::Document::parseFile(file->path());
        internalDescription_ = std::move(parsed.document);
    }
}

std::string SAMAsset::duration() const {
    if (!mediaReachable()) {
        return "n/a";
    }
    int64_t value = 0;
    int32_t timescale = 0;
    if (internalAsset_ && internalAsset_->duration().valid) {
        value = internalAsset_->duration().value;
        timescale = internalAsset_->duration().timescale;
    }
    return base::format("%lld/%ds", value, timescale);
}

SAMAsset::Size SAMAsset::frameSize() const {
    const auto* track = hasRoles() ? nullptr : firstVideoTrack(internalAsset_.get());
    return track ? Size{track->width, track->height} : Size{};
}

std::string SAMAsset::frameDuration() const {
    const auto* track = hasRoles() ? nullptr : firstVideoTrack(internalAsset_.get());
    if (track == nullptr || track->nominalFrameRate <= 0 || !track->duration.valid) {
        return "n/a";
    }
    const int32_t timescale = track->duration.timescale;
    const float frames =
        static_cast<float>(timescale) / static_cast<float>(track->nominalFrameRate);
    return base::format("%ld/%ds", static_cast<int64_t>(frames), timescale);
}

std::string SAMAsset::shareID() const {
    return base::Value(metadata())[kFCPXShareMetadataKeyShareID].stringValue();
}

std::string SAMAsset::episodeID() const {
    return base::Value(metadata())[kFCPXShareMetadataKeyEpisodeID].stringValue();
}

base::Value SAMAsset::episodeNumber() const {
    return base::Value(metadata())[kFCPXShareMetadataKeyEpisodeNumber];
}

base::Value SAMAsset::valueForKey(const std::string& key) const {
    if (key == "name") {
        return name();
    }
    if (key == "uniqueID") {
        return uniqueID();
    }
    if (key == "duration") {
        return duration();
    }
    if (key == "frameDuration") {
        return frameDuration();
    }
    if (key == "frameSize") {
        const Size size = frameSize();
        return base::format("%d x %d", size.width, size.height);
    }
    if (key == "mediaExtension") {
        return mediaExtension_ ? base::Value(*mediaExtension_) : base::Value();
    }
    if (key == "descExtension") {
        return descExtension_ ? base::Value(*descExtension_) : base::Value();
    }
    if (key == "shareID") {
        return shareID();
    }
    return {};
}

bool SAMAsset::isMediaExtension(const std::string& extension) {
    return extension == "mov" || extension == "mp4";
}

bool SAMAsset::isDescExtension(const std::string& extension) {
    return extension == "fcpxml";
}
