#include "apps/share_destination/SAMMakeCommand.h"

#include "apps/share_destination/SAMApplicationDelegate.h"
#include "apps/share_destination/SAMDocumentController.h"
#include "apps/share_destination/SAMScriptingTerms.h"
#include "apps/share_destination/SAMShareTiming.h"
#include "apps/share_destination/SAMWindowController.h"
#include "base/Console.h"
#include "base/RunLoop.h"
#include "platform/scripting/Conversions.h"
#include "support/OWLog.h"
#include "upload_dialog/QuorvSettingsController.h"

namespace {

using platform::scripting::Descriptor;
using platform::scripting::ScriptCommand;

// "Can't make a thing of that class" for classes other than assets and documents.
constexpr int32_t kCannotMakeClassError = -2710;

base::Dictionary tableOf(const Descriptor* record) {
    if (record == nullptr) {
        return {};
    }
    const platform::scripting::ScriptObject table(
        platform::scripting::userDefinedRecordWithDescriptor(*record));
    const base::Value value = table.toValue();
    return value.dictionary() ? *value.dictionary() : base::Dictionary();
}

bool allowsInteraction(uint64_t level) {
    return level == uint64_t(platform::scripting::kCanInteract) ||
           level == uint64_t(platform::scripting::kAlwaysInteract) ||
           level == uint64_t(platform::scripting::kCanSwitchLayer);
}

// The bytes of text and data `value` carries, counted until they pass `limit`.
size_t carriedBytes(const Descriptor& value, size_t limit) {
    size_t total = value.data().size();
    for (const auto& item : value.items()) {
        if (total > limit) {
            break;
        }
        total += carriedBytes(item, limit - total);
    }
    for (const auto& field : value.fields()) {
        if (total > limit) {
            break;
        }
        total += carriedBytes(field.second, limit - total);
    }
    return total;
}

// Why a user record's keys or values are refused; empty when they are taken. Measured
// on the descriptor, before anything is made of it.
std::string overLongEntry(const Descriptor* record, const char* what) {
    if (record == nullptr) {
        return {};
    }
    const size_t total = carriedBytes(*record, SAMMakeCommand::kMaxTableBytes);
    if (total > SAMMakeCommand::kMaxTableBytes) {
        return std::string("The ") + what + " carries more than " +
               std::to_string(SAMMakeCommand::kMaxTableBytes) + " bytes.";
    }
    const Descriptor* entries = record->field(platform::scripting::kKeyUserFields);
    for (const auto& item : entries ? entries->items() : std::vector<Descriptor>()) {
        if (carriedBytes(item, SAMMakeCommand::kMaxValueBytes) > SAMMakeCommand::kMaxValueBytes) {
            return std::string("A key or value of the ") + what + " is longer than " +
                   std::to_string(SAMMakeCommand::kMaxValueBytes) + " bytes.";
        }
    }
    return {};
}

}  // namespace

void SAMMakeCommand::useStoredChoices(QuorvSettingsController& settings) {
    if (settings.projectID() == QuorvSettingsController::kNoProject) {
        settings.setProjectID(
            settings.objectForPreferenceKey(QuorvSettingsController::kSelectedProjectKey)
                .integerValue());
        const base::Value dept =
            settings.objectForPreferenceKey(QuorvSettingsController::kSelectedDeptKey);
        settings.setDeptID(dept.isNull() ? QuorvSettingsController::kNone : dept.integerValue());
        const std::string folder =
            settings.objectForPreferenceKey(QuorvSettingsController::kSelectedFolderKey)
                .stringValue();
        settings.setFolder(folder.empty() ? QuorvSettingsController::kRootFolder : folder);
    }
}

uint64_t SAMMakeCommand::appleEventUserInteractionLevel(const ScriptCommand& command) {
    return static_cast<uint64_t>(static_cast<int64_t>(command.interactionLevel()));
}

void SAMMakeCommand::performDefaultImplementation(ScriptCommand& command,
                                                  SAMApplicationDelegate& delegate) {
    delegate.stopTimeout();
    const Descriptor* direct = command.directParameter();
    OWLog::appendLog("SAMMakeCommand performDefaultImplementation");
    OWLog::appendLog("The direct parameter is: '%@'",
                     direct ? direct->describe(sam::kMaxLoggedDescriptorBytes) : "(null)");
    OWLog::appendLog("The other parameters are: '%@'",
                     command.parameters().describe(sam::kMaxLoggedDescriptorBytes));

    const Descriptor* classField = command.parameters().field(sam::kObjectClassKeyword);
    std::optional<platform::scripting::FourCharCode> objectClass;
    if (classField) {
        objectClass = classField->typeCodeValue();
        if (!objectClass) {
            if (auto number = classField->int32Value()) {
                objectClass = static_cast<platform::scripting::FourCharCode>(*number);
            }
        }
    }
    if (!objectClass) {
        OWLog::appendLog("No object class specified");
        command.setScriptError(platform::scripting::kParameterMissingError,
                               "No object class specified.");
        return;
    }
    auto& documents = SAMDocumentController::sharedDocumentController();
    if (*objectClass != sam::kAssetClass) {
        // What the standard command makes here: a new document.
        if (*objectClass == sam::kDocumentClass) {
            command.setResult(documents.openUntitledDocumentAndDisplay(true)->objectSpecifier());
        } else {
            command.setScriptError(kCannotMakeClassError, "Can't make that class.");
        }
        return;
    }

    const Descriptor* properties = command.parameters().field(sam::kPropertiesKeyword);
    const Descriptor* nameField = properties ? properties->field(sam::kNameProperty) : nullptr;
    const Descriptor* metadataField =
        properties ? properties->field(sam::kMetadataProperty) : nullptr;
    const Descriptor* dataOptionsField =
        properties ? properties->field(sam::kDataOptionsProperty) : nullptr;
    // Sizes first: a name or value no share can carry is refused before it is copied.
    // (UTF-16 text takes at most twice the bytes of its UTF-8 form.)
    std::string refusal;
    const bool nameTooLong = nameField && nameField->data().size() > 2 * kMaxNameBytes;
    const std::string name = nameField && !nameTooLong ? nameField->stringValue().value_or("") : "";
    if (nameTooLong || name.size() > kMaxNameBytes) {
        refusal = "The name is longer than " + std::to_string(kMaxNameBytes) + " bytes.";
    }
    if (refusal.empty()) {
        refusal = overLongEntry(metadataField, "metadata");
    }
    if (refusal.empty()) {
        refusal = overLongEntry(dataOptionsField, "data options");
    }
    if (!refusal.empty()) {
        OWLog::appendLog("make: %@", refusal);
        command.setScriptError(platform::scripting::kCoercionError, refusal);
        // Nothing usable came: the program does not linger unseen on its account.
        delegate.rearmTimeout();
        return;
    }
    const auto document = documents.targetDocument(true);
    const base::Dictionary metadata = tableOf(metadataField);
    const base::Dictionary dataOptions = tableOf(dataOptionsField);
    const auto settings = delegate.settingsController();

    if (delegate.busyFor(command.sender())) {
        // The settings window already answers an earlier make command (replacing its
        // completion would leave that editor waiting for ever), or another editor's
        // share writes or uploads the one location: this editor hears so at once.
        command.setScriptError(platform::scripting::kCommandBusyError,
                               "Another share is under way.");
        return;
    }
    if (allowsInteraction(appleEventUserInteractionLevel(command))) {
        auto& waiting = delegate.waitingMake();
        SAMWindowController* window = document->primaryWindowController();
        if (!window || !settings) {
            command.setScriptError(platform::scripting::kEventFailedError, "No window.");
            return;
        }
        settings->setTitle(name);
        auto suspended = command.suspendExecution();
        waiting = suspended;
        std::weak_ptr<SAMApplicationDelegate> weak = delegate.shared_from_this();
        window->newAssetWithName(
            name, metadata, dataOptions,
            [weak, suspended, sender = command.sender()](std::shared_ptr<SAMAsset> asset) {
                auto self = weak.lock();
                if (self && self->waitingMake() == suspended) {
                    self->waitingMake().reset();
                }
                if (asset && self) {
                    self->handOutAsset(sender, *asset);
                }
                if (asset) {
                    const Descriptor specifier = asset->objectSpecifier();
                    base::Console::log("spec: %@",
                                       specifier.describe(sam::kMaxLoggedDescriptorBytes));
                    suspended->resume(specifier);
                    return;
                }
                suspended->fail(platform::scripting::kUserCanceledError, "User canceled.");
                if (self) {
                    // After the answer has gone out.
                    std::weak_ptr<SAMApplicationDelegate> later = self;
                    base::MainQueue::post([later] {
                        if (auto delegate = later.lock()) {
                            delegate->terminate(0);
                        }
                    });
                }
            });
        return;
    }

    // No interaction: the location of the last confirmed dialog. Before any dialog the
    // location is the one a dialog would choose.
    const SAMLocation location =
        document->defaultAssetLocation().value_or(SAMWindowController::collectAssetLocation());
    const uint64_t index = document->addAssetAtLocation(location, false, metadata, dataOptions);
    const auto asset = document->assetAtIndex(index);
    if (!asset) {
        command.setScriptError(platform::scripting::kEventFailedError, "No asset could be made.");
        return;
    }
    if (settings) {
        useStoredChoices(*settings);
        // The title belongs to this make: its own name, whatever an earlier make (of
        // this editor, through the settings window or not, or of another) set.
        settings->setTitle(name);
    }
    delegate.handOutAsset(command.sender(), *asset);
    command.setResult(asset->objectSpecifier());
}
