#pragma once
// A document of type "Asset Collection": the ordered list of assets that the editor's
// make commands and opened files create, with an index of each asset's position by
// principal URL and by unique ID. Its file is the assets' media file URLs, one a line.
// Main thread only.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/share_destination/SAMAsset.h"
#include "base/Error.h"
#include "base/Value.h"
#include "platform/scripting/Descriptor.h"
#include "platform/scripting/FileURL.h"

class SAMWindowController;

class SAMDocument : public std::enable_shared_from_this<SAMDocument> {
  public:
    using FileURL = platform::scripting::FileURL;
    // The answer of a look-up that finds nothing.
    static constexpr uint64_t kNotFound = static_cast<uint64_t>(-1);
    static constexpr const char* kTypeName = "Asset Collection";
    static constexpr const char* kErrorDomain = "SimpleAssetManaer";
    static constexpr int64_t kWriteTypeError = 304;
    static constexpr int64_t kReadTypeError = 204;
    // The file extension of a saved collection.
    static constexpr const char* kFileExtension = "qvassets";
    // Largest collection file read.
    static constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;

    static std::shared_ptr<SAMDocument> create();
    // Reads a collection file; none (and the error) when it cannot be read.
    static std::shared_ptr<SAMDocument> createWithContentsOfURL(const FileURL& url,
                                                                const std::string& type,
                                                                base::Error* error);
    ~SAMDocument();
    SAMDocument(const SAMDocument&) = delete;
    SAMDocument& operator=(const SAMDocument&) = delete;

    // Makes the document's window (not shown).
    void makeWindowControllers();
    SAMWindowController* primaryWindowController() const { return windowController_.get(); }

    // ---- scripting identity ----
    const std::string& uniqueID() const { return uniqueID_; }
    const std::string& name() const;
    void setName(std::string name);
    void setContainer(std::string property);
    const std::string& containerProperty() const { return containerProperty_; }
    // A unique-ID specifier inside the application.
    platform::scripting::Descriptor objectSpecifier() const;
    const std::string& collectionDescription() const { return collectionDescription_; }
    void setCollectionDescription(std::string text) { collectionDescription_ = std::move(text); }

    // ---- the assets ----
    const std::vector<std::shared_ptr<SAMAsset>>& assets() const;
    size_t count() const { return collection_.size(); }
    std::shared_ptr<SAMAsset> assetAtIndex(uint64_t index) const;
    std::optional<FileURL> assetURLAtIndex(uint64_t index) const;
    uint64_t assetIndexForURL(const FileURL& url) const;
    uint64_t assetIndexForUniqueID(const std::string& uniqueID) const;
    uint64_t assetIndexForLocation(const SAMLocation& location) const;
    // Adds a new asset at the location, or updates the one there; its index.
    uint64_t addAssetAtLocation(const SAMLocation& location, bool content,
                                const base::Dictionary& metadata,
                                const base::Dictionary& dataOptions);
    uint64_t addAssetAtURL(const FileURL& url, bool content, const base::Dictionary& metadata,
                           const base::Dictionary& dataOptions);
    // addAssetAtURL, then the window shows the change.
    uint64_t addURL(const FileURL& url, bool content, const base::Dictionary& metadata,
                    const base::Dictionary& dataOptions);
    void removeAssetAtIndex(uint64_t index) {
        removeFromAssetsAtIndex(static_cast<uint32_t>(index));
    }
    void removeAsset(const std::shared_ptr<SAMAsset>& asset);
    // At the front.
    void insertInAssets(std::shared_ptr<SAMAsset> asset);
    void insertInAssets(std::shared_ptr<SAMAsset> asset, uint32_t index);
    void removeFromAssetsAtIndex(uint32_t index);
    // For a unique-ID specifier of an asset: its index in a list, or an empty list;
    // none for any other specifier.
    std::optional<std::vector<uint64_t>> indicesOfObjectsByEvaluatingObjectSpecifier(
        const platform::scripting::Descriptor& specifier) const;

    const std::optional<SAMLocation>& defaultAssetLocation() const { return defaultAssetLocation_; }
    void setDefaultAssetLocation(std::optional<SAMLocation> location) {
        defaultAssetLocation_ = std::move(location);
    }

    // ---- the file ----
    std::optional<std::string> dataOfType(const std::string& type, base::Error* error) const;
    bool readFromData(const std::string& data, const std::string& type, base::Error* error);
    static bool autosavesInPlace() { return true; }
    const std::optional<FileURL>& fileURL() const { return fileURL_; }

  private:
    SAMDocument();
    void renumberFrom(size_t index);
    void refreshWindow() const;

    std::vector<std::shared_ptr<SAMAsset>> collection_;
    std::map<std::string, uint64_t> URLHash_;
    std::map<std::string, uint64_t> UniqueIDHash_;
    std::string containerProperty_;
    std::string uniqueID_;
    std::optional<SAMLocation> defaultAssetLocation_;
    std::string collectionName_;
    std::string collectionDescription_;
    std::optional<FileURL> fileURL_;
    std::shared_ptr<SAMWindowController> windowController_;
};
