#include "support/OWAuthorization.h"

#include <cstdio>

#include "base/Console.h"
#include "base/Format.h"
#include "platform/system/FileOps.h"
#include "platform/system/Trash.h"
#include "support/OWLocalPaths.h"
#include "support/OWLog.h"

namespace fileops = platform::system::fileops;
using platform::system::PrivilegedCommand;

namespace {}  // namespace

OWAuthorization& OWAuthorization::sharedController(bool withGUI) {
    // Made once, under the once-guard of a function-local static; never a second one.
    static OWAuthorization shared(withGUI);
    return shared;
}

OWAuthorization::OWAuthorization(bool withGUI)
    : backend_(platform::system::makeDefaultPrivilegeBackend()), hasGUI_(withGUI) {
    resetForBackend();
}

OWAuthorization::~OWAuthorization() {
    authEnd();
}

void OWAuthorization::resetForBackend() {
    authRef_ = backend_->inheritedGrant();
    userDirectory_.reset();
    if (!backend_->runsAsRoot()) {
        userDirectory_ = OWLocalPaths::userDirectory();
    }
}

void OWAuthorization::setBackend(std::unique_ptr<platform::system::PrivilegeBackend> backend) {
    std::lock_guard lock(mutex_);
    backend_ = std::move(backend);
    resetForBackend();
}

std::shared_ptr<platform::system::PrivilegeBackend> OWAuthorization::backend() const {
    std::lock_guard lock(mutex_);
    return backend_;
}

bool OWAuthorization::runsAsRoot() const {
    return backend()->runsAsRoot();
}

OWAuthorization::AuthRef OWAuthorization::authRef() const {
    std::lock_guard lock(mutex_);
    return authRef_;
}

void OWAuthorization::setAuthRef(AuthRef ref) {
    std::lock_guard lock(mutex_);
    authRef_ = std::move(ref);
}

bool OWAuthorization::isAuthorized() const {
    return runsAsRoot() || authRef() != nullptr;
}

bool OWAuthorization::canAuthorize() const {
    return hasGUI() || runsAsRoot();
}

bool OWAuthorization::hasGUI() const {
    std::lock_guard lock(mutex_);
    return hasGUI_;
}

void OWAuthorization::setHasGUI(bool hasGUI) {
    std::lock_guard lock(mutex_);
    hasGUI_ = hasGUI;
}

bool OWAuthorization::authStart() {
    if (isAuthorized()) {
        return true;
    }
    if (!hasGUI()) {
        base::Console::log("Unable to authorize");
        return false;
    }
    AuthRef ref = backend()->obtain();
    setAuthRef(ref);
    return ref != nullptr;
}

bool OWAuthorization::authStartWithUser(const std::string& user, const std::string& password) {
    if (runsAsRoot()) {
        return true;
    }
    if (user.empty() || password.empty()) {
        return false;
    }
    auto runner = backend();
    if (const int error = runner->passwordCheckError(user); error != 0) {
        base::Console::log("Unable to create authRef - error %d", error);
        setAuthRef(nullptr);
        return false;
    }
    AuthRef ref = runner->obtainWithPassword(user, password);
    setAuthRef(ref);
    if (!ref) {
        base::Console::log("Authorization failed. Invalid username or password");
        OWLog::appendLog("Authorization failed. Invalid username or password");
        return false;
    }
    return true;
}

void OWAuthorization::authEnd() {
    setAuthRef(nullptr);
}

int OWAuthorization::execute(const PrivilegedCommand& command, bool wait) {
    auto runner = backend();
    if (runner->runsAsRoot()) {
        return runner->execute(nullptr, command, wait);
    }
    if (!isAuthorized()) {
        authStart();
    }
    AuthRef ref = authRef();
    if (!ref) {
        return -1;
    }
    return runner->execute(ref.get(), command, wait);
}

int OWAuthorization::authExecTask(const std::string& tool,
                                  const std::vector<std::string>& parameters, bool async) {
    if (!fileops::exists(tool)) {
        base::Console::log("Unable to execute task: path %@ doesn't exist", tool);
        return -2;
    }
    return execute({tool, parameters}, !async);
}

int OWAuthorization::runWaiting(const std::string& tool,
                                const std::vector<std::string>& arguments) {
    return authExecTask(tool, arguments, false);
}

bool OWAuthorization::refuseSystemFolder(const std::string& path, const char* message) const {
    if (OWLocalPaths::isPathSystemDirectory(path, true)) {
        base::Console::log(message, path);
        return true;
    }
    return false;
}

bool OWAuthorization::authRemoveFile(const std::string& path) {
    if (refuseSystemFolder(path, "Unable to delete path %@ because it is a system directory.")) {
        return false;
    }
    return runWaiting("/bin/rm", {"-Rdf", "--", path}) == 0;
}

bool OWAuthorization::authTrashFile(const std::string& path, bool deleteOnRootAccount) {
    if (refuseSystemFolder(path, "Unable to trash path %@ because it is a system directory.")) {
        return false;
    }
    bool root = runsAsRoot();
    if (root && !userDirectory_ && deleteOnRootAccount) {
        return authRemoveFile(path);
    }
    if (!fileops::existsOrIsLink(path)) {
        return false;
    }
    // The name is reserved by its info file first, so a second trashing of the same
    // name (even within one second) never lands on the first.
    platform::system::Trash trash(OWLocalPaths::trashDirectory());
    std::string original = path;
    if (!original.empty() && original[0] != '/') {
        original = fileops::joinPath(OWLocalPaths::userDirectory(), original);
    }
    auto slot = trash.reserve(trash.homeTrash(), path, original, nullptr);
    if (!slot) {
        return false;
    }
    if (!authMoveFile(path, slot->filesPath)) {
        platform::system::Trash::release(*slot);
        return false;
    }
    return true;
}

bool OWAuthorization::authTrashFolderContents(const std::string& folder, bool deleteOnRootAccount) {
    if (refuseSystemFolder(
            folder,
            "Unable to trash folder contents of path %@ because it is a system directory.")) {
        return false;
    }
    auto entries = fileops::listDirectory(folder);
    if (!entries) {
        return true;
    }
    bool trashInstead = userDirectory_ || !runsAsRoot() || !deleteOnRootAccount;
    bool all = true;
    for (const auto& name : *entries) {
        std::string item = fileops::joinPath(folder, name);
        bool ok = trashInstead ? authTrashFile(item)
                               : runWaiting("/bin/rm", {"-R", "-f", "--", item}) == 0;
        all = all && ok;
    }
    return all;
}

bool OWAuthorization::authMoveFolderContents(const std::string& source,
                                             const std::string& destination) {
    if (refuseSystemFolder(
            source, "Unable to move contents of path %@ because it is a system directory.")) {
        return false;
    }
    auto entries = fileops::listDirectory(source);
    if (!entries) {
        return true;
    }
    bool all = true;
    for (const auto& name : *entries) {
        all = authMoveFile(fileops::joinPath(source, name), fileops::joinPath(destination, name)) &&
              all;
    }
    return all;
}

bool OWAuthorization::authMoveFile(const std::string& oldPath, const std::string& newPath) {
    if (oldPath.empty()) {
        base::Console::log("Error in authMoveFile: old path is null");
        return false;
    }
    if (newPath.empty()) {
        base::Console::log("Error in authMoveFile: new path is null");
        return false;
    }
    if (!fileops::existsOrIsLink(oldPath)) {
        return false;
    }
    if (refuseSystemFolder(oldPath, "Unable to move path %@ because it is a system directory.")) {
        return false;
    }
    return runWaiting("/bin/mv", {"-f", "--", oldPath, newPath}) == 0;
}

bool OWAuthorization::authCopyFile(const std::string& oldPath, const std::string& newPath) {
    if (oldPath.empty()) {
        base::Console::log("Error in authCopyFile: old path is null");
        return false;
    }
    if (newPath.empty()) {
        base::Console::log("Error in authCopyFile: new path is null");
        return false;
    }
    if (!fileops::existsOrIsLink(oldPath)) {
        return false;
    }
    return runWaiting("/bin/cp", {"-f", "-p", "-R", "--", oldPath, newPath}) == 0;
}

bool OWAuthorization::authCreateDir(const std::string& path) {
    return runWaiting("/bin/mkdir", {"-p", "--", path}) == 0;
}
