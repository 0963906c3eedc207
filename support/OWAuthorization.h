#pragma once
// The process-wide holder of the administrator right. The file operations fall back
// to it when the ordinary attempt was refused: it obtains the right on first need
// and runs the standard tools ("/bin/rm", "/bin/mv", "/bin/cp", "/bin/mkdir") with
// it; a process running as root runs them directly. An ordinary user is asked by the
// desktop's dialog (polkit) in a graphical session, else through sudo's askpass
// program (platform/system/Privilege.h). Every tool is waited for and
// the operation answers from its exit status. Paths that are system folders
// themselves are refused. An empty path stands for none.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/system/Privilege.h"

class OWAuthorization {
  public:
    using AuthRef = std::shared_ptr<platform::system::PrivilegeGrant>;

    // The shared instance; the first call decides whether a dialog may be shown, later
    // calls ignore their argument.
    static OWAuthorization& sharedController(bool withGUI = true);

    OWAuthorization(const OWAuthorization&) = delete;
    OWAuthorization& operator=(const OWAuthorization&) = delete;
    ~OWAuthorization();

    bool authStart();
    bool authStartWithUser(const std::string& user, const std::string& password);
    void authEnd();

    AuthRef authRef() const;
    void setAuthRef(AuthRef ref);
    bool isAuthorized() const;
    bool canAuthorize() const;
    bool hasGUI() const;
    void setHasGUI(bool hasGUI);

    bool authRemoveFile(const std::string& path);
    bool authTrashFile(const std::string& path, bool deleteOnRootAccount = false);
    bool authTrashFolderContents(const std::string& folder, bool deleteOnRootAccount = false);
    bool authMoveFolderContents(const std::string& source, const std::string& destination);
    bool authMoveFile(const std::string& oldPath, const std::string& newPath);
    bool authCopyFile(const std::string& oldPath, const std::string& newPath);
    bool authCreateDir(const std::string& path);
    // Runs a tool with the right. async: 0 once started. Otherwise the tool's exit
    // status once it has ended. -2: no such tool; -1: no right, or it cannot start.
    int authExecTask(const std::string& tool, const std::vector<std::string>& parameters,
                     bool async = true);

    // How tools are run with privileges (tests install a recording backend). Drops
    // the right held so far.
    void setBackend(std::unique_ptr<platform::system::PrivilegeBackend> backend);
    bool runsAsRoot() const;

  private:
    explicit OWAuthorization(bool withGUI);
    void resetForBackend();
    bool refuseSystemFolder(const std::string& path, const char* message) const;
    int runWaiting(const std::string& tool, const std::vector<std::string>& arguments);
    int execute(const platform::system::PrivilegedCommand& command, bool wait);

    mutable std::mutex mutex_;
    std::shared_ptr<platform::system::PrivilegeBackend> backend_;
    std::shared_ptr<platform::system::PrivilegeBackend> backend() const;
    AuthRef authRef_;
    bool hasGUI_;
    std::optional<std::string> userDirectory_;
};
