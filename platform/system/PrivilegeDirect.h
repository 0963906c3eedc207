#pragma once
// The backend of a process that runs as root: tools run directly, no right to get.
#include "platform/system/Privilege.h"

namespace platform::system {

class PrivilegeDirect final : public PrivilegeBackend {
  public:
    bool runsAsRoot() const override { return true; }
    std::shared_ptr<PrivilegeGrant> obtain() override;
    std::shared_ptr<PrivilegeGrant> obtainWithPassword(const std::string& user,
                                                       const std::string& password) override;
    int execute(const PrivilegeGrant* grant, const PrivilegedCommand& command, bool wait) override;
};

}  // namespace platform::system
