#pragma once
// One shared item: a location (a folder and a base name) with an optional movie and an
// optional FCPXML description, plus the metadata and data options the editor handed in.
// The movie and the description are loaded only on request.
#include <memory>
#include <optional>
#include <string>

#include "apps/share_destination/SAMObject.h"
#include "base/Value.h"
#include "platform/media/MovieAsset.h"
#include "platform/scripting/FileURL.h"
#include "platform/xml/Document.h"

// Keys of the metadata and data-option tables and of a location.
inline constexpr const char* kSAMMetadataKeyManagedAsset =
    "com.oxburyworks.QuorvFCPXExporter.managedAsset";
inline constexpr const char* kSAMMetadataKeyPreparedAsset =
    "com.oxburyworks.QuorvFCPXExporter.prepareAsset";
inline constexpr const char* kSAMMetadataKeyExpirationDate =
    "com.oxburyworks.QuorvFCPXExporter.expirationDate";
inline constexpr const char* kFCPXMetadataKeyDescription = "com.apple.quicktime.description";
inline constexpr const char* kFCPXShareMetadataKeyEpisodeID = "com.apple.proapps.share.episodeID";
inline constexpr const char* kFCPXShareMetadataKeyEpisodeNumber =
    "com.apple.proapps.share.episodeNumber";
inline constexpr const char* kFCPXShareMetadataKeyShareID = "com.apple.proapps.share.id";
inline constexpr const char* kMediaAssetProtocolInfoKey = "com.apple.proapps.MediaAssetProtocol";
inline constexpr const char* kMediaAssetLocationFolderKey = "folder";
inline constexpr const char* kMediaAssetLocationBasenameKey = "basename";
inline constexpr const char* kMediaAssetLocationHasMediaKey = "hasMedia";
inline constexpr const char* kMediaAssetLocationHasDescriptionKey = "hasDescription";
inline constexpr const char* kMediaAssetDataOptionAvailableMetadataSetsKey =
    "availableMetadataSets";
inline constexpr const char* kMediaAssetDataOptionMetadataSetKey = "metadataSet";

// A location: "folder" (the folder URL's text), "basename" (text), "hasMedia" and
// "hasDescription" (booleans; an absent one counts as false).
using SAMLocation = base::Dictionary;

class SAMAsset : public SAMObject {
  public:
    using FileURL = platform::scripting::FileURL;
    struct Size {
        int width = 0;
        int height = 0;
    };

    // Every field empty.
    static std::shared_ptr<SAMAsset> create();
    // Name `basename` in `folder`, with the extensions given.
    static std::shared_ptr<SAMAsset> create(const std::string& basename, const FileURL& folder,
                                            std::optional<std::string> mediaExtension,
                                            std::optional<std::string> descExtension);
    // From a file: a movie extension gives the movie and an "fcpxml" description, an
    // "fcpxml" extension the description and an "mp4" movie, any other neither.
    static std::shared_ptr<SAMAsset> createWithURL(const FileURL& url);
    ~SAMAsset() override;

    const std::optional<FileURL>& folderLocation() const;
    const std::optional<std::string>& mediaExtension() const;
    void setMediaExtension(std::optional<std::string> extension);
    const std::optional<std::string>& descExtension() const;
    void setDescExtension(std::optional<std::string> extension);
    const std::optional<FileURL>& principalURL() const;

    // The principal URL with the extension; none when either is missing.
    std::optional<FileURL> mediaFile() const;
    std::optional<FileURL> descFile() const;
    bool hasMedia() const { return mediaExtension_.has_value(); }
    bool hasDescription() const { return descExtension_.has_value(); }
    // "folder", "basename" := name, and "hasMedia"/"hasDescription" present only when true.
    SAMLocation locationInfo() const;

    base::Dictionary metadata() const { return metadata_.value_or(base::Dictionary()); }
    void setMetadata(base::Dictionary metadata) { metadata_ = std::move(metadata); }
    void addMetadata(base::Value value, const std::string& key);
    base::Dictionary dataOptions() const { return dataOptions_.value_or(base::Dictionary()); }
    void setDataOptions(base::Dictionary options) { dataOptions_ = std::move(options); }
    // Writes only into an existing table (an asset read from a file has none).
    void setDataOption(base::Value value, const std::string& key);
    base::Value dataOptionForKey(const std::string& key) const;

    void loadMedia();
    void loadDescription();
    bool mediaLoaded() const { return internalAsset_ != nullptr; }
    bool descriptionLoaded() const { return internalDescription_.has_value(); }
    const platform::media::MovieAsset* internalAsset() const { return internalAsset_.get(); }
    const std::optional<platform::xml::Document>& internalDescription() const {
        return internalDescription_;
    }

    // "<value>/<timescale>s" of the loaded movie while its file is on disk; "n/a" else.
    std::string duration() const;
    Size frameSize() const;
    // "<timescale / rate>/<timescale>s" of the first video track; "n/a" without one.
    std::string frameDuration() const;
    std::string shareID() const;
    std::string episodeID() const;
    base::Value episodeNumber() const;
    bool hasRoles() const { return false; }

    // The asset's value for a key of the document window's columns (name, duration,
    // frameDuration, ...); null for keys it does not know.
    base::Value valueForKey(const std::string& key) const;

    static bool isMediaExtension(const std::string& extension);
    static bool isDescExtension(const std::string& extension);

  protected:
    SAMAsset() = default;

  private:
    bool mediaReachable() const;
    std::optional<FileURL> principalURL_;
    std::optional<FileURL> folderLocation_;
    std::optional<std::string> mediaExtension_;
    std::optional<std::string> descExtension_;
    std::optional<base::Dictionary> metadata_;
    std::optional<base::Dictionary> dataOptions_;
    std::shared_ptr<const platform::media::MovieAsset> internalAsset_;
    std::optional<platform::xml::Document> internalDescription_;
};
