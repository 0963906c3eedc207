#include "apps/share_destination/SAMDocument.h"

#include <fstream>
#include <sstream>

#include "apps/share_destination/SAMObject.h"
#include "apps/share_destination/SAMScriptingTerms.h"
#include "apps/share_destination/SAMWindowController.h"
#include "support/OWLog.h"

namespace {

using platform::scripting::Descriptor;
using platform::scripting::FileURL;

// The key of an index table: the URL's text.
std::string key(const FileURL& url) {
    return url.absoluteString();
}

int untitledNumber = 0;  // main thread only, as every document is made there

std::string untitledName() {
    ++untitledNumber;
    return untitledNumber == 1 ? "Untitled" : "Untitled " + std::to_string(untitledNumber);
}

}  // namespace

SAMDocument::SAMDocument() : uniqueID_(SAMObject::calculateNewUniqueID()) {}

SAMDocument::~SAMDocument() = default;

std::shared_ptr<SAMDocument> SAMDocument::create() {
    std::shared_ptr<SAMDocument> document(new SAMDocument());
    document->collectionName_ = untitledName();
    return document;
}

std::shared_ptr<SAMDocument> SAMDocument::createWithContentsOfURL(const FileURL& url,
                                                                  const std::string& type,
                                                                  base::Error* error) {
    std::ifstream in(url.path(), std::ios::binary);
    if (!in) {
        if (error) {
            *error = base::Error::withDescription(kErrorDomain, kReadTypeError,
                                                  "The file could not be opened.");
        }
        return nullptr;
    }
    std::string data;
    data.resize(kMaxFileBytes + 1);
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<size_t>(in.gcount()));
    if (data.size() > kMaxFileBytes) {
        if (error) {
            *error = base::Error::withDescription(kErrorDomain, kReadTypeError,
                                                  "The file is too large for a collection.");
        }
        return nullptr;
    }
    std::shared_ptr<SAMDocument> document(new SAMDocument());
    if (!document->readFromData(data, type, error)) {
        return nullptr;
    }
    document->collectionName_ = url.deletingPathExtension().lastPathComponent();
    document->fileURL_ = url;
    return document;
}

void SAMDocument::makeWindowControllers() {
    windowController_ = SAMWindowController::create(weak_from_this());
}

const std::string& SAMDocument::name() const {
    OWLog::appendLog("name of %@ as '%@'", uniqueID_, collectionName_);
    return collectionName_;
}

void SAMDocument::setName(std::string name) {
    OWLog::appendLog("setName of %@ to '%@'", uniqueID_, name);
    if (name != collectionName_) {
        collectionName_ = std::move(name);
    }
}

void SAMDocument::setContainer(std::string property) {
    containerProperty_ = std::move(property);
}

Descriptor SAMDocument::objectSpecifier() const {
    Descriptor specifier = Descriptor::record(platform::scripting::kTypeObjectSpecifier);
    specifier.setField(sam::kSpecifierClass, Descriptor::typeCode(sam::kDocumentClass));
    specifier.setField(sam::kSpecifierContainer, Descriptor());  // the application
    specifier.setField(sam::kSpecifierKey, Descriptor::text(sam::kDocumentsKey));
    specifier.setField(sam::kSpecifierForm, Descriptor::enumerated(sam::kFormUniqueID));
    specifier.setField(sam::kSpecifierData, Descriptor::text(uniqueID_));
    return specifier;
}

const std::vector<std::shared_ptr<SAMAsset>>& SAMDocument::assets() const {
    OWLog::appendLog("returning assets from a bucket %@", uniqueID_);
    return collection_;
}

std::shared_ptr<SAMAsset> SAMDocument::assetAtIndex(uint64_t index) const {
    return index < collection_.size() ? collection_[index] : nullptr;
}

std::optional<FileURL> SAMDocument::assetURLAtIndex(uint64_t index) const {
    const auto asset = assetAtIndex(index);
    return asset ? asset->principalURL() : std::nullopt;
}

uint64_t SAMDocument::assetIndexForURL(const FileURL& url) const {
    const auto found = URLHash_.find(key(url));
    return found == URLHash_.end() ? kNotFound : found->second;
}

uint64_t SAMDocument::assetIndexForUniqueID(const std::string& uniqueID) const {
    const auto found = UniqueIDHash_.find(uniqueID);
    return found == UniqueIDHash_.end() ? kNotFound : found->second;
}

uint64_t SAMDocument::assetIndexForLocation(const SAMLocation& location) const {
    const base::Value* folder = location.find(kMediaAssetLocationFolderKey);
    const base::Value* basename = location.find(kMediaAssetLocationBasenameKey);
    if (!folder || !basename || !folder->string() || !basename->string()) {
        return kNotFound;
    }
    const auto folderURL = FileURL::fromString(*folder->string());
    if (!folderURL) {
        return kNotFound;
    }
    return assetIndexForURL(folderURL->appendingPathComponent(*basename->string()));
}

uint64_t SAMDocument::addAssetAtLocation(const SAMLocation& location, bool content,
                                         const base::Dictionary& metadata,
                                         const base::Dictionary& dataOptions) {
    uint64_t index = assetIndexForLocation(location);
    const base::Value* mediaFlag = location.find(kMediaAssetLocationHasMediaKey);
    const base::Value* descFlag = location.find(kMediaAssetLocationHasDescriptionKey);
    const bool media = mediaFlag && mediaFlag->boolValue();
    const bool desc = descFlag && descFlag->boolValue();
    std::shared_ptr<SAMAsset> asset;
    if (index == kNotFound) {
        const base::Value& folderText = location.find(kMediaAssetLocationFolderKey)
                                            ? *location.find(kMediaAssetLocationFolderKey)
                                            : base::Value::null();
        const base::Value* basename = location.find(kMediaAssetLocationBasenameKey);
        const auto folder = FileURL::fromString(folderText.stringValue());
        if (!folder || !basename || basename->stringValue().empty()) {
            // Nowhere to put it: no asset is made.
            return kNotFound;
        }
        asset = SAMAsset::create(basename->stringValue(), *folder,
                                 media ? std::optional<std::string>("mp4") : std::nullopt,
                                 desc ? std::optional<std::string>("fcpxml") : std::nullopt);
        asset->setMetadata(metadata);
        asset->addMetadata(base::Value("1"), kSAMMetadataKeyManagedAsset);
        asset->setDataOptions(dataOptions);
        index = collection_.size();
        insertInAssets(asset, static_cast<uint32_t>(index));
    } else {
        asset = collection_[index];
        if (media) {
            asset->setMediaExtension("mp4");
        } else if (mediaFlag) {
            asset->setMediaExtension(std::nullopt);
        }
        if (desc) {
            asset->setDescExtension("fcpxml");
        } else if (descFlag) {
            asset->setDescExtension(std::nullopt);
        }
        for (const auto& [k, v] : metadata) {
            asset->addMetadata(v, k);
        }
        for (const auto& [k, v] : dataOptions) {
            asset->setDataOption(v, k);
        }
    }
    if (content) {
        if (media) {
            asset->loadMedia();
        }
        if (desc) {
            asset->loadDescription();
        }
    }
    refreshWindow();
    return index;
}

uint64_t SAMDocument::addAssetAtURL(const FileURL& url, bool content,
                                    const base::Dictionary& metadata,
                                    const base::Dictionary& dataOptions) {
    const std::string extension = url.pathExtension();
    const FileURL principal = url.deletingPathExtension();
    SAMLocation location;
    location.set(kMediaAssetLocationFolderKey,
                 principal.deletingLastPathComponent().absoluteString());
    location.set(kMediaAssetLocationBasenameKey, principal.lastPathComponent());
    if (SAMAsset::isMediaExtension(extension)) {
        location.set(kMediaAssetLocationHasMediaKey, true);
    } else if (SAMAsset::isDescExtension(extension)) {
        location.set(kMediaAssetLocationHasDescriptionKey, true);
    }
    return addAssetAtLocation(location, content, metadata, dataOptions);
}

uint64_t SAMDocument::addURL(const FileURL& url, bool content, const base::Dictionary& metadata,
                             const base::Dictionary& dataOptions) {
    const uint64_t index = addAssetAtURL(url, content, metadata, dataOptions);
    refreshWindow();
    return index;
}

void SAMDocument::removeAsset(const std::shared_ptr<SAMAsset>& asset) {
    if (!asset) {
        return;
    }
    const uint64_t index = assetIndexForUniqueID(asset->uniqueID());
    if (index != kNotFound) {
        removeFromAssetsAtIndex(static_cast<uint32_t>(index));
    }
}

void SAMDocument::insertInAssets(std::shared_ptr<SAMAsset> asset) {
    OWLog::appendLog("inserting asset %@ into bucket %@", asset->uniqueID(), uniqueID_);
    insertInAssets(std::move(asset), 0);
}

void SAMDocument::insertInAssets(std::shared_ptr<SAMAsset> asset, uint32_t index) {
    if (!asset) {
        return;
    }
    OWLog::appendLog("insert asset %@ at index %d into bucket %@", asset->uniqueID(),
                     int64_t{index}, uniqueID_);
    const size_t at = std::min<size_t>(index, collection_.size());
    asset->setContainer(weak_from_this(), sam::kAssetsKey);
    // A second asset at the same place replaces the entry of the first in the URL table;
    // the unique-ID table stays exact.
    collection_.insert(collection_.begin() + static_cast<std::ptrdiff_t>(at), std::move(asset));
    renumberFrom(at);
}

void SAMDocument::removeFromAssetsAtIndex(uint32_t index) {
    OWLog::appendLog("removing asset at %d from bucket %@", int64_t{index}, uniqueID_);
    if (index >= collection_.size()) {
        return;
    }
    const auto asset = collection_[index];
    UniqueIDHash_.erase(asset->uniqueID());
    if (const auto& url = asset->principalURL()) {
        const auto found = URLHash_.find(key(*url));
        if (found != URLHash_.end() && found->second == index) {
            URLHash_.erase(found);
        }
    }
    collection_.erase(collection_.begin() + index);
    renumberFrom(index);
}

void SAMDocument::renumberFrom(size_t index) {
    for (size_t i = index; i < collection_.size(); ++i) {
        const auto& asset = collection_[i];
        UniqueIDHash_[asset->uniqueID()] = i;
        if (const auto& url = asset->principalURL()) {
            URLHash_[key(*url)] = i;
        }
    }
}

std::optional<std::vector<uint64_t>> SAMDocument::indicesOfObjectsByEvaluatingObjectSpecifier(
    const Descriptor& specifier) const {
    const Descriptor* form = specifier.field(sam::kSpecifierForm);
    const Descriptor* data = specifier.field(sam::kSpecifierData);
    if (specifier.type() != platform::scripting::kTypeObjectSpecifier || !form || !data ||
        form->typeCodeValue() != sam::kFormUniqueID) {
        return std::nullopt;
    }
    const uint64_t index = assetIndexForUniqueID(data->stringValue().value_or(""));
    if (index == kNotFound) {
        return std::vector<uint64_t>{};
    }
    return std::vector<uint64_t>{index};
}

std::optional<std::string> SAMDocument::dataOfType(const std::string& type,
                                                   base::Error* error) const {
    if (type != kTypeName) {
        if (error) {
            *error = base::Error(kErrorDomain, kWriteTypeError);
        }
        return std::nullopt;
    }
    std::string text;
    for (size_t i = 0; i < collection_.size(); ++i) {
        const auto& asset = collection_[i];
        // An asset without a movie is kept by its description, else by its location.
        auto url = asset->mediaFile();
        if (!url) {
            url = asset->descFile();
        }
        if (!url) {
            url = asset->principalURL();
        }
        if (i > 0) {
            text += "\n";
        }
        text += url ? url->absoluteString() : std::string();
    }
    return text;
}

bool SAMDocument::readFromData(const std::string& data, const std::string& type,
                               base::Error* error) {
    if (type != kTypeName) {
        if (error) {
            *error = base::Error(kErrorDomain, kReadTypeError);
        }
        return false;
    }
    collection_.clear();
    URLHash_.clear();
    UniqueIDHash_.clear();
    std::istringstream lines(data);
    for (std::string line; std::getline(lines, line, '\n');) {
        // Lines that are no file URL (an empty line among them) are skipped.
        if (const auto url = FileURL::fromString(line)) {
            insertInAssets(SAMAsset::createWithURL(*url),
                           static_cast<uint32_t>(collection_.size()));
        }
    }
    return true;
}

void SAMDocument::refreshWindow() const {
    if (windowController_) {
        windowController_->updateOutlineView();
        windowController_->updateSelectionDetailFields();
    }
}
