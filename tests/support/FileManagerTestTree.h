#pragma once
// A private home for file manager tests: HOME and XDG_DATA_HOME point into a
// temporary folder (so the Trash is a test one), and the privileged road records
// what it would run unless a test asks otherwise.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "platform/system/FileOps.h"
#include "platform/system/PrivilegeRecording.h"
#include "support/OWAuthorization.h"
#include "tests/helpers/TempDir.h"

namespace filemanagertest {

// Writes a file below the folder, making its parent folders first.
inline std::string put(const testsupport::TempDir& dir, const std::string& rel,
                       const std::string& content) {
    platform::system::fileops::createDirectories(
        platform::system::fileops::parentPath(dir.file(rel)));
    return dir.write(rel, content);
}

class FileManagerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saveEnv("HOME", savedHome_);
        saveEnv("XDG_DATA_HOME", savedData_);
        ::setenv("HOME", dir_.makeFolder("home").c_str(), 1);
        ::setenv("XDG_DATA_HOME", dir_.makeFolder("home/.local/share").c_str(), 1);
        useRecording({});
    }
    void TearDown() override {
        restoreEnv("HOME", savedHome_);
        restoreEnv("XDG_DATA_HOME", savedData_);
        auto& auth = OWAuthorization::sharedController();
        auth.setBackend(platform::system::makeDefaultPrivilegeBackend());
        auth.setHasGUI(true);
    }

    platform::system::PrivilegeRecording& useRecording(
        platform::system::PrivilegeRecording::Options options) {
        auto backend = std::make_unique<platform::system::PrivilegeRecording>(options);
        recording_ = backend.get();
        OWAuthorization::sharedController().setBackend(std::move(backend));
        return *recording_;
    }
    std::string trashFiles() const { return dir_.path() + "/home/.local/share/Trash/files"; }

    testsupport::TempDir dir_;
    platform::system::PrivilegeRecording* recording_ = nullptr;

  private:
    static void saveEnv(const char* name, std::unique_ptr<std::string>& slot) {
        if (const char* v = ::getenv(name)) {
            slot = std::make_unique<std::string>(v);
        }
    }
    static void restoreEnv(const char* name, const std::unique_ptr<std::string>& slot) {
        if (slot) {
            ::setenv(name, slot->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    std::unique_ptr<std::string> savedHome_;
    std::unique_ptr<std::string> savedData_;
};

}  // namespace filemanagertest
