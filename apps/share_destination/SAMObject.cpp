#include "apps/share_destination/SAMObject.h"

#include <unistd.h>

#include "apps/share_destination/SAMDocument.h"
#include "apps/share_destination/SAMScriptingTerms.h"
#include "base/Format.h"
#include "support/OWLog.h"

namespace {

// The counters are read and bumped on the main thread only (objects are made by
// scripting commands and window actions, both dispatched there), so they need no lock.
bool gUniqueInited = false;
int32_t gMyProcessID = 0;
int64_t gSAMObjectCounter = 1;
uint64_t gNameCounter = 1;

}  // namespace

SAMObject::SAMObject() {
    uniqueID_ = calculateNewUniqueID();
    name_ = base::format("Untitled %ld", static_cast<int64_t>(calculateNameCounter()));
    OWLog::appendLog("init SAMObject %@", uniqueID_);
}

SAMObject::~SAMObject() {
    OWLog::appendLog("dealloc SAMObject %@", uniqueID_);
}

std::shared_ptr<SAMDocument> SAMObject::container() const {
    auto container = container_.lock();
    OWLog::appendLog("container of %@ as %@", uniqueID_,
                     container ? container->uniqueID() : std::string("(none)"));
    return container;
}

const std::string& SAMObject::containerProperty() const {
    const auto container = container_.lock();
    OWLog::appendLog("containerProperty of %@ return  %@ as '%@'", uniqueID_,
                     container ? container->uniqueID() : std::string("(none)"), containerProperty_);
    return containerProperty_;
}

void SAMObject::setContainer(std::weak_ptr<SAMDocument> container, std::string property) {
    container_ = std::move(container);
    containerProperty_ = std::move(property);
    OWLog::appendLog("setContainer of %@ to %@ and '%@'", uniqueID_, "SAMDocument",
                     containerProperty_);
}

void SAMObject::setUniqueID(std::string uniqueID) {
    OWLog::appendLog("setUniqueID of %@ to '%@'", uniqueID_, uniqueID);
    uniqueID_ = std::move(uniqueID);
}

const std::string& SAMObject::name() const {
    OWLog::appendLog("name of %@ as '%@'", uniqueID_, name_);
    return name_;
}

void SAMObject::setName(std::string name) {
    OWLog::appendLog("setName of %@ to '%@'", uniqueID_, name);
    name_ = std::move(name);
}

platform::scripting::FourCharCode SAMObject::classCode() const {
    return sam::kAssetClass;
}

platform::scripting::Descriptor SAMObject::objectSpecifier() const {
    using platform::scripting::Descriptor;
    const auto document = container_.lock();
    OWLog::appendLog("objectSpecifier of %@ ", uniqueID_);
    OWLog::appendLog("container class desc: %@", document ? "SAMDocument" : "(none)");
    Descriptor specifier = Descriptor::record(platform::scripting::kTypeObjectSpecifier);
    Descriptor from = document ? document->objectSpecifier() : Descriptor();
    OWLog::appendLog("container specifier: %@", from.describe());
    OWLog::appendLog("container property: %@", containerProperty_);
    specifier.setField(sam::kSpecifierClass, Descriptor::typeCode(classCode()));
    specifier.setField(sam::kSpecifierContainer, std::move(from));
    specifier.setField(sam::kSpecifierKey, Descriptor::text(containerProperty_));
    specifier.setField(sam::kSpecifierForm, Descriptor::enumerated(sam::kFormUniqueID));
    specifier.setField(sam::kSpecifierData, Descriptor::text(uniqueID_));
    return specifier;
}

std::string SAMObject::calculateNewUniqueID() {
    if (!gUniqueInited) {
        gMyProcessID = static_cast<int32_t>(::getpid());
        gSAMObjectCounter = 1;
        gUniqueInited = true;
    }
    std::string id = base::format("SSO-%d-%ld", gMyProcessID, gSAMObjectCounter);
    ++gSAMObjectCounter;
    OWLog::appendLog("new unique id ='%@'", id);
    return id;
}

uint64_t SAMObject::calculateNameCounter() {
    return gNameCounter++;
}

void SAMObject::resetCountersForTesting() {
    gUniqueInited = false;
    gNameCounter = 1;
}
