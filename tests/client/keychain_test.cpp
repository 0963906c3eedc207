// The file-backed keychain and the key-value store over it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "client/KCKeychainBindings.h"
#include "client/KCKeychainBindingsController.h"
#include "platform/keychain/KeychainFile.h"
#include "tests/helpers/TempDir.h"

namespace {

using platform::keychain::Item;
using platform::keychain::KeychainFile;
using platform::keychain::Status;
using testsupport::TempDir;

class KeychainFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string folder = dir.path() + "/Keychain";
    KeychainFile file{folder};
};

TEST_F(KeychainFileTest, ItemsAreKeptPerServiceAndAccount) {
    EXPECT_EQ(file.add({"svc", "alice", "pw1", "tag"}), Status::Success);
    EXPECT_EQ(file.add({"svc", "alice", "again", {}}), Status::DuplicateItem);
    EXPECT_EQ(file.add({"other", "alice", "pw2", {}}), Status::Success);
    auto a = file.find("svc", "alice");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->password, "pw1");
    EXPECT_EQ(a->generic, "tag");
    EXPECT_EQ(file.find("other", "alice")->password, "pw2");
    EXPECT_FALSE(file.find("svc", "bob"));

    EXPECT_EQ(file.update("svc", "alice", "new", std::nullopt), Status::Success);
    EXPECT_EQ(file.find("svc", "alice")->generic, "tag");  // untouched without a new one
    EXPECT_EQ(file.update("svc", "bob", "x", std::nullopt), Status::ItemNotFound);
    EXPECT_EQ(file.remove("svc", "alice"), Status::Success);
    EXPECT_EQ(file.remove("svc", "alice"), Status::ItemNotFound);
}

TEST_F(KeychainFileTest, FolderAndFileAreOwnerOnly) {
    ASSERT_EQ(file.add({"svc", "a", "secret", {}}), Status::Success);
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((folder + "/items.plist").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(KeychainFileTest, AFileOthersCanReadIsNotTrusted) {
    ASSERT_EQ(file.add({"svc", "a", "secret", {}}), Status::Success);
    ASSERT_EQ(::chmod((folder + "/items.plist").c_str(), 0644), 0);
    EXPECT_FALSE(file.find("svc", "a"));
    EXPECT_EQ(file.add({"svc", "b", "x", {}}), Status::IoError);
}

TEST_F(KeychainFileTest, ASymlinkedFileIsRefused) {
    std::string real = dir.write("elsewhere.plist", "<plist><array/></plist>");
    ::chmod(real.c_str(), 0600);
    ASSERT_EQ(file.add({"svc", "a", "x", {}}), Status::Success);
    std::filesystem::remove(folder + "/items.plist");
    std::filesystem::create_symlink(real, folder + "/items.plist");
    EXPECT_EQ(file.add({"svc", "b", "x", {}}), Status::IoError);
}

TEST_F(KeychainFileTest, ACorruptFileIsSetAsideNotOverwritten) {
    ASSERT_EQ(file.add({"svc", "a", "x", {}}), Status::Success);
    {
        std::ofstream out(folder + "/items.plist", std::ios::trunc);
        out << "garbage that is no property list";
    }
    EXPECT_FALSE(file.find("svc", "a"));  // reading alone changes nothing
    EXPECT_EQ(file.add({"svc", "b", "y", {}}), Status::Success);
    bool setAside = false;
    for (auto& e : std::filesystem::directory_iterator(folder)) {
        if (e.path().filename().string().starts_with("items.plist.corrupt-")) {
            setAside = true;
            std::ifstream in(e.path());
            std::string text((std::istreambuf_iterator<char>(in)), {});
            EXPECT_EQ(text, "garbage that is no property list");
        }
    }
    EXPECT_TRUE(setAside);
    EXPECT_EQ(file.find("svc", "b")->password, "y");
}

TEST_F(KeychainFileTest, ConcurrentWritersInSeveralProcessesLoseNothing) {
    constexpr int kProcesses = 4, kItems = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            KeychainFile mine(folder);
            int failures = 0;
            for (int i = 0; i < kItems; ++i) {
                Item item{"svc", std::to_string(p) + "-" + std::to_string(i), "pw", {}};
                failures += mine.add(item) != Status::Success;
            }
            ::_exit(failures);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(file.list("svc", 1000).size(), size_t{kProcesses * kItems});
}

class KeychainBindingsTest : public ::testing::Test {
  protected:
    TempDir dir;
    KCKeychainBindingsController controller{std::make_shared<KeychainFile>(dir.path() + "/kc")};
    void SetUp() override { controller.setServiceName("Quorvane - Test"); }
};

TEST_F(KeychainBindingsTest, EmptyTagLeavesTheAttributeAloneAndSetsNoneOnAdd) {
    EXPECT_TRUE(controller.storeString(std::string("v1"), "k"));
    EXPECT_FALSE(controller.tagForKey("k", "Quorvane - Test"));
    EXPECT_TRUE(controller.storeString(std::string("v2"), "k", "first###tag"));
    EXPECT_TRUE(controller.storeString(std::string("v3"), "k", ""));
    EXPECT_EQ(controller.stringForKey("k"), "v3");
    EXPECT_EQ(controller.tagForKey("k", "Quorvane - Test"), "first###tag");
}

TEST_F(KeychainBindingsTest, RemovingAMissingKeyFails) {
    EXPECT_FALSE(controller.storeString(std::nullopt, "absent"));
    EXPECT_TRUE(controller.storeString(std::string("x"), "present"));
    EXPECT_TRUE(controller.storeString(std::nullopt, "present"));
    EXPECT_FALSE(controller.stringForKey("present"));
}

TEST_F(KeychainBindingsTest, ListingStopsAtTenAndFiltersByAccount) {
    for (int i = 0; i < 12; ++i) {
        controller.storeString(std::string("pw"), i % 2 ? "user" + std::to_string(i) + "@x.org"
                                                        : "plain" + std::to_string(i));
    }
    auto items = controller.keychainItemsForService();
    ASSERT_TRUE(items);
    EXPECT_EQ(items->size(), 10u);
    EXPECT_EQ(KCKeychainBindingsController::filterEmailKeychains(*items).size(), 5u);
    auto one = KCKeychainBindingsController::filterKeychains(*items, "plain4");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(*one[0]["v_Data"].data(), base::Data({'p', 'w'}));
    EXPECT_FALSE(controller.keychainItemsForService("nobody"));
}

TEST_F(KeychainBindingsTest, ValuesKeyPathsReachTheKeychainThroughTheBuffer) {
    KCKeychainBindings bindings(controller);
    bindings.setString("abc", "token");
    EXPECT_EQ(controller.stringForKey("token"), "abc");
    EXPECT_EQ(bindings.stringForKey("token"), "abc");
    // Another process changes the item: the next read refreshes the buffer.
    controller.storeString(std::string("def"), "token");
    EXPECT_EQ(bindings.objectForKey("token"), base::Value("def"));
    bindings.removeObjectForKey("token");
    EXPECT_FALSE(controller.stringForKey("token"));
    EXPECT_TRUE(bindings.objectForKey("token").isNull());
    // Paths without the prefix are plain values and never touch the keychain.
    controller.setValueForKeyPath(base::Value("plain"), "xvalues.token");
    EXPECT_EQ(controller.valueForKeyPath("xvalues.token"), base::Value("plain"));
    EXPECT_FALSE(controller.stringForKey("token"));
}

}  // namespace
