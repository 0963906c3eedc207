#include "apps/share_destination/SAMScripting.h"

#include "apps/share_destination/SAMDocumentController.h"
#include "apps/share_destination/SAMScriptingTerms.h"
#include "base/Bundle.h"
#include "platform/scripting/Conversions.h"

namespace sam {
namespace {

using platform::scripting::Descriptor;
using platform::scripting::ScriptObject;

constexpr int32_t kNoSuchObjectError = -1728;

struct Target {
    std::shared_ptr<SAMDocument> document;  // none: the application
    std::shared_ptr<SAMAsset> asset;
};

// The object a specifier names; none when it names nothing that exists.
std::optional<Target> resolve(const Descriptor& specifier) {
    if (specifier.isNull()) {
        return Target{};
    }
    const Descriptor* want = specifier.field(kSpecifierClass);
    const Descriptor* data = specifier.field(kSpecifierData);
    const Descriptor* from = specifier.field(kSpecifierContainer);
    const Descriptor* form = specifier.field(kSpecifierForm);
    // Documents and assets are named by unique ID only; another form names nothing here.
    if (specifier.type() != platform::scripting::kTypeObjectSpecifier || !want || !data ||
        !form || form->typeCodeValue() != kFormUniqueID) {
        return std::nullopt;
    }
    const std::string id = data->stringValue().value_or("");
    if (want->typeCodeValue() == kDocumentClass) {
        auto document = SAMDocumentController::sharedDocumentController().documentWithUniqueID(id);
        return document ? std::optional<Target>(Target{document, nullptr}) : std::nullopt;
    }
    if (want->typeCodeValue() == kAssetClass && from) {
        const auto container = resolve(*from);
        if (!container || !container->document || container->asset) {
            return std::nullopt;
        }
        const auto indices =
            container->document->indicesOfObjectsByEvaluatingObjectSpecifier(specifier);
        if (!indices || indices->empty()) {
            return std::nullopt;
        }
        return Target{container->document, container->document->assetAtIndex(indices->front())};
    }
    return std::nullopt;
}

Descriptor fileOrNull(const std::optional<platform::scripting::FileURL>& url) {
    return url ? platform::scripting::descriptorWithURL(*url) : Descriptor();
}

Descriptor tableDescriptor(const base::Dictionary& table) {
    return platform::scripting::userDefinedRecordDescriptor(
        *ScriptObject::fromValue(base::Value(table)).table());
}

std::optional<Descriptor> assetProperty(const SAMAsset& asset, FourCharCode property) {
    switch (property) {
        case kNameProperty:
            return Descriptor::text(asset.name());
        case kUniqueIDProperty:
            return Descriptor::text(asset.uniqueID());
        case kLocationProperty:
            return tableDescriptor(asset.locationInfo());
        case kMetadataProperty:
            return tableDescriptor(asset.metadata());
        case kDataOptionsProperty:
            return tableDescriptor(asset.dataOptions());
        case kMediaFileProperty:
            return fileOrNull(asset.mediaFile());
        case kDescFileProperty:
            return fileOrNull(asset.descFile());
        case kDurationProperty:
            return Descriptor::text(asset.duration());
        case kFrameDurationProperty:
            return Descriptor::text(asset.frameDuration());
        default:
            return std::nullopt;
    }
}

std::optional<Descriptor> documentProperty(const SAMDocument& document, FourCharCode property) {
    switch (property) {
        case kNameProperty:
            return Descriptor::text(document.name());
        case kUniqueIDProperty:
            return Descriptor::text(document.uniqueID());
        case kAssetsProperty: {
            Descriptor list = Descriptor::list();
            for (const auto& asset : document.assets()) {
                list.append(asset->objectSpecifier());
            }
            return list;
        }
        default:
            return std::nullopt;
    }
}

std::optional<Descriptor> applicationProperty(FourCharCode property) {
    const auto bundle = base::Bundle::main();
    switch (property) {
        case kNameProperty:
            return Descriptor::text("Quorvane FCPX Exporter");
        case kVersionProperty:
            return Descriptor::text(bundle && !bundle->shortVersion().empty()
                                        ? bundle->shortVersion()
                                        : std::string("1.0"));
        default:
            return std::nullopt;
    }
}

}  // namespace

void performGetData(platform::scripting::ScriptCommand& command) {
    const Descriptor* direct = command.directParameter();
    const Descriptor* form = direct ? direct->field(kSpecifierForm) : nullptr;
    const Descriptor* data = direct ? direct->field(kSpecifierData) : nullptr;
    const Descriptor* from = direct ? direct->field(kSpecifierContainer) : nullptr;
    if (!direct || !form || form->typeCodeValue() != kFormProperty || !data ||
        !data->typeCodeValue()) {
        command.setScriptError(platform::scripting::kParameterMissingError,
                               "Expected a property specifier.");
        return;
    }
    const auto target = resolve(from ? *from : Descriptor());
    if (!target) {
        command.setScriptError(kNoSuchObjectError, "Can't get that object.");
        return;
    }
    const FourCharCode property = *data->typeCodeValue();
    std::optional<Descriptor> value;
    if (target->asset) {
        value = assetProperty(*target->asset, property);
    } else if (target->document) {
        value = documentProperty(*target->document, property);
    } else {
        value = applicationProperty(property);
    }
    if (!value) {
        command.setScriptError(kNoSuchObjectError, "Can't get that property.");
        return;
    }
    command.setResult(std::move(*value));
}

}  // namespace sam
