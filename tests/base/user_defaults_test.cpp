#include "base/UserDefaults.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "base/Bundle.h"
#include "base/PropertyList.h"
#include "tests/helpers/TempDir.h"

namespace base {
namespace {

using testsupport::TempDir;

constexpr const char* kDomain = "com.oxburyworks.QuorvPremiereExporter";

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0;
}

TEST(UserDefaultsTest, ChangesReachTheFileAtOnce) {
    TempDir dir;
    std::string folder = dir.file("prefs/nested");
    std::shared_ptr<UserDefaults> defaults = UserDefaults::forDomain(kDomain, folder);
    EXPECT_EQ(defaults->path(), folder + "/" + kDomain + ".plist");
    EXPECT_TRUE(defaults->object("segmentedUploads").isNull());

    defaults->setObject(true, "segmentedUploads");
    defaults->setObject("jo", "quorvUserName");
    defaults->setObject(42, "count");
    defaults->setObject(Value(Array{"a", "b"}), "list");
    // Written without synchronize(): a process that ends now loses nothing.
    std::optional<Value> stored = PropertyList::readFile(defaults->path());
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, Value(Dictionary{{"segmentedUploads", true},
                                        {"quorvUserName", "jo"},
                                        {"count", 42},
                                        {"list", Value(Array{"a", "b"})}}));
    EXPECT_EQ(modeOf(defaults->path()), 0600u);
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(dir.file("prefs")), 0700u);

    defaults->removeObject("count");
    defaults->setObject(Value(), "list");  // null removes
    EXPECT_EQ(PropertyList::readFile(defaults->path()),
              Value(Dictionary{{"segmentedUploads", true}, {"quorvUserName", "jo"}}));
}

TEST(UserDefaultsTest, TypedAccessors) {
    TempDir dir;
    std::shared_ptr<UserDefaults> defaults = UserDefaults::forDomain(kDomain, dir.path());
    defaults->setObject("12 monkeys", "text");
    defaults->setObject(2.5, "real");
    defaults->setObject(true, "flag");
    EXPECT_EQ(defaults->string("text"), "12 monkeys");
    EXPECT_EQ(defaults->integer("text"), 12);
    EXPECT_EQ(defaults->string("real"), "2.5");
    EXPECT_EQ(defaults->doubleValue("real"), 2.5);
    EXPECT_EQ(defaults->integer("real"), 2);
    EXPECT_TRUE(defaults->boolValue("flag"));
    EXPECT_EQ(defaults->string("flag"), "");
    EXPECT_EQ(defaults->string("missing"), "");
    EXPECT_EQ(defaults->integer("missing"), 0);
    EXPECT_FALSE(defaults->boolValue("missing"));
    EXPECT_EQ(defaults->dictionaryRepresentation().keys(),
              (std::vector<std::string>{"text", "real", "flag"}));
}

TEST(UserDefaultsTest, OneObjectPerDomainAndFolder) {
    TempDir dir;
    auto a = UserDefaults::forDomain(kDomain, dir.path());
    auto b = UserDefaults::forDomain(kDomain, dir.path() + "/./");
    auto other = UserDefaults::forDomain("com.oxburyworks.global", dir.path());
    EXPECT_EQ(a, b);
    EXPECT_NE(a, other);
    a->setObject(1, "k");
    EXPECT_EQ(b->integer("k"), 1);
    EXPECT_TRUE(other->object("k").isNull());
}

TEST(UserDefaultsTest, ReadsExistingFilesAndOtherWritersChanges) {
    TempDir dir;
    std::string path = dir.file(std::string(kDomain) + ".plist");
    ASSERT_TRUE(PropertyList::writeFile(Value(Dictionary{{"OWQuorvNoThumbUpload", true}}), path));
    std::shared_ptr<UserDefaults> defaults = UserDefaults::forDomain(kDomain, dir.path());
    EXPECT_TRUE(defaults->boolValue("OWQuorvNoThumbUpload"));

    // Another process rewrites the file; synchronize() takes its values in.
    ASSERT_TRUE(PropertyList::writeFile(Value(Dictionary{{"lastCheckTime", 99}}), path));
    EXPECT_TRUE(defaults->synchronize());
    EXPECT_EQ(defaults->integer("lastCheckTime"), 99);
    EXPECT_TRUE(defaults->object("OWQuorvNoThumbUpload").isNull());
}

TEST(UserDefaultsTest, ReportsValuesThatCouldNotBeWritten) {
    TempDir dir;
    std::shared_ptr<UserDefaults> defaults = UserDefaults::forDomain(kDomain, dir.path());
    defaults->setObject(Value(Array{Value()}), "bad");  // a property list holds no null
    EXPECT_FALSE(defaults->synchronize());
    EXPECT_FALSE(defaults->object("bad").isNull());  // still there in memory
    defaults->removeObject("bad");
    EXPECT_TRUE(defaults->synchronize());

    // A corrupt file does not stop the domain from working; the next write replaces it.
    std::string path = dir.write("broken.plist", "not a property list");
    std::shared_ptr<UserDefaults> broken = UserDefaults::forDomain("broken", dir.path());
    EXPECT_TRUE(broken->dictionaryRepresentation().empty());
    broken->setObject("v", "k");
    EXPECT_EQ(PropertyList::readFile(path), Value(Dictionary{{"k", "v"}}));
}

TEST(UserDefaultsTest, DomainsThatCannotNameAFileStayInMemory) {
    TempDir dir;
    for (const char* domain : {"", "..", ".", "../escape", "a/b"}) {
        std::shared_ptr<UserDefaults> defaults = UserDefaults::forDomain(domain, dir.path());
        EXPECT_EQ(defaults->path(), "") << domain;
        defaults->setObject(1, "k");
        EXPECT_EQ(defaults->integer("k"), 1);
        EXPECT_FALSE(defaults->synchronize());
    }
    EXPECT_FALSE(PropertyList::readFile(dir.file("escape.plist")));
    EXPECT_FALSE(PropertyList::readFile(dir.file("../escape.plist")));
}

TEST(UserDefaultsTest, PreferencesFolderFollowsXdgAndTheOverride) {
    TempDir dir;
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    std::string saved = savedConfig ? savedConfig : "";
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    EXPECT_EQ(UserDefaults::preferencesFolder(), dir.path());
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_TRUE(UserDefaults::preferencesFolder().ends_with("/.config"));
    UserDefaults::setPreferencesFolder(dir.file("override"));
    EXPECT_EQ(UserDefaults::preferencesFolder(), dir.file("override"));
    EXPECT_EQ(UserDefaults::forDomain(kDomain)->path(), dir.file("override/") + kDomain + ".plist");
    UserDefaults::setPreferencesFolder(std::nullopt);
    if (savedConfig) {
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

TEST(UserDefaultsTest, StandardUsesTheMainBundle) {
    TempDir dir;
    UserDefaults::setPreferencesFolder(dir.path());
    std::shared_ptr<UserDefaults> standard = UserDefaults::standard();
    UserDefaults::setPreferencesFolder(std::nullopt);
    // The test program has no Info.plist: its executable's name is the domain.
    EXPECT_EQ(standard->domain(), Bundle::main()->executableName());
    EXPECT_EQ(UserDefaults::standard(), standard);
}

TEST(UserDefaultsTest, ThreadsSetAndReadTogether) {
    TempDir dir;
    std::shared_ptr<UserDefaults> defaults = UserDefaults::forDomain(kDomain, dir.path());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([defaults, t] {
            std::string key = "key" + std::to_string(t);
            for (int i = 0; i < 50; ++i) {
                defaults->setObject(i, key);
                EXPECT_EQ(defaults->integer(key), i);
                (void)defaults->dictionaryRepresentation();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(defaults->synchronize());
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(defaults->integer("key" + std::to_string(t)), 49);
    }
}

}  // namespace
}  // namespace base
