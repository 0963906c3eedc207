#include "tests/upload_dialog/SettingsWindowSupport.h"

#include <sys/stat.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QTest>

#include <cstdlib>
#include <filesystem>

#include "base/Bundle.h"
#include "base/PropertyList.h"
#include "base/UserDefaults.h"
#include "base/Workspace.h"
#include "client/KCKeychainBindingsController.h"
#include "client/OWQuorvaneCacheController.h"
#include "client/OWQuorvaneTokenRecord.h"
#include "client/json/QMJSON.h"
#include "platform/keychain/KeychainFile.h"

namespace settingstest {

const char* const kCatalogue = R"([
  {"id": 1, "title": "Launch Film",
   "departments": [{"id": 11, "title": "Edit"}, {"id": 12, "title": "Sound"}],
   "folders": [{"path": "/", "title": "Cuts", "dept": 11},
               {"path": "/Cuts", "title": "Final", "dept": 11},
               {"path": "/", "title": "Stills", "dept": -1}],
   "workflows": [{"id": 21, "name": "Review"}, {"id": -1, "name": "Ghost"},
                 {"id": 22, "name": "Approve"}]},
  {"id": 2, "title": "Trailer", "uploads": false,
   "departments": [{"id": 13, "title": "Promo"}], "folders": [], "workflows": []}
])";

namespace {

namespace fs = std::filesystem;

void setEnv(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}

std::shared_ptr<platform::keychain::KeychainFile> keychainIn(const std::string& data) {
    return std::make_shared<platform::keychain::KeychainFile>(data + "/Oxbury Works/Keychain");
}

base::Value parsed(const std::string& text) {
    QMJSON json;
    auto value = json.objectWithString(text);
    return value ? *value : base::Value();
}

}  // namespace

void SettingsWindowTest::SetUp() {
    DesktopTest::SetUp();
    setEnv("XDG_CONFIG_HOME", dir.makeFolder("config"));
    setEnv("XDG_DATA_HOME", dir.makeFolder("data"));
    setEnv("XDG_STATE_HOME", dir.makeFolder("state"));
    base::UserDefaults::setPreferencesFolder(dir.file("config"));
    KCKeychainBindingsController::sharedKeychainBindingsController().setStore(
        keychainIn(dir.file("data")));
    OWQuorvaneCacheController::sharedController().clearAll();
    hub = std::make_unique<fakes::FakeHub>(dir.makeFolder("Applications"));
    const std::string opener =
        dir.write("opener", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$0.log\"\n");
    ::chmod(opener.c_str(), 0700);
    setEnv(base::Workspace::kURLOpenerEnvironment, opener);
    setEnv("QUORVANE_HUB_BUNDLE", hub->bundlePath());
    useBundle("com.oxburyworks.QuorvPremiereExporter");
}

void SettingsWindowTest::TearDown() {
    DesktopTest::TearDown();
    base::Bundle::setOwn(nullptr);
    base::UserDefaults::setPreferencesFolder(std::nullopt);
    for (const char* name :
         {"QUORVANE_HUB_BUNDLE", "QUORVANE_SITE_URL", base::Workspace::kURLOpenerEnvironment}) {
        ::unsetenv(name);
    }
}

bool SettingsWindowTest::startService(const char* catalogue) {
    service = std::make_unique<fakes::FakeService>(std::vector<std::string>{});
    if (!service->running()) {
        return false;
    }
    setEnv("QUORVANE_SITE_URL", service->url());
    return service->request("POST", "/_control/api_catalogue", catalogue).status == 200;
}

void SettingsWindowTest::link() {
    const base::Value issued =
        parsed(service->request("POST", "/_control/issue", R"({"user_name": "alice"})").body);
    token = issued["access_token"].stringValue();
    ASSERT_FALSE(token.empty());
    const std::string app = QuorvSettingsController::kHubAppName;
    const std::string generic = OWQuorvaneTokenRecord::genericAttribute(
        std::string("alice"), "", base::Date{base::Date::now().secondsSince1970 + 3600},
        issued["refresh_token"].stringValue());
    ASSERT_EQ(keychainIn(dir.file("data"))->add({"Quorvane - " + app, app, token, generic}),
              platform::keychain::Status::Success);
}

void SettingsWindowTest::useBundle(const std::string& identifier) {
    const fs::path bundle = fs::path(dir.path()) / ("Exporter-" + identifier + ".app");
    const fs::path resources = bundle / "Contents" / "Resources";
    fs::create_directories(resources);
    // CTest names the source tree; run by hand from the build tree, __FILE__ finds it.
    const char* source = std::getenv("QV_SOURCE_DIR");
    const fs::path images =
        (source ? fs::path(source) : fs::path(__FILE__).parent_path().parent_path().parent_path()) /
        "upload_dialog";
    for (const char* name : {"Quorv_Dept", "Quorv_Folder"}) {
        for (const char* suffix : {".png", "@2x.png"}) {
            const std::string file = std::string(name) + suffix;
            fs::copy_file(images / file, resources / file, fs::copy_options::overwrite_existing);
        }
    }
    base::Dictionary info{{"CFBundleIdentifier", identifier}};
    base::PropertyList::writeFile(base::Value(info), (bundle / "Contents/Info.plist").string());
    base::Bundle::setOwn(base::Bundle::atPath(bundle.string()));
}

std::shared_ptr<QuorvSettingsController> SettingsWindowTest::open() {
    auto window = QuorvSettingsController::create();
    window->showWindow();
    return window;
}

bool SettingsWindowTest::waitForLists(const QuorvSettingsController& window) {
    auto* spinner = widget<QWidget>(window, "spinner");
    return waitFor([&] {
        return widget<QComboBox>(window, "projectPopUp")->count() > 0 &&
               widget<QComboBox>(window, "deptPopUp")->count() > 0 &&
               widget<QComboBox>(window, "folderPopUp")->count() > 0 &&
               widget<QComboBox>(window, "workflowPopUp")->count() > 0 && spinner->isHidden();
    });
}

std::vector<std::pair<std::string, Fields>> SettingsWindowTest::apiCalls() const {
    std::vector<std::pair<std::string, Fields>> calls;
    const base::Value log = parsed(service->request("GET", "/_control/api_log").body);
    for (size_t i = 0; i < log.size(); ++i) {
        Fields fields;
        const base::Value& pairs = log[i]["fields"];
        for (size_t j = 0; j < pairs.size(); ++j) {
            fields[pairs[j][size_t{0}].stringValue()] = pairs[j][size_t{1}].stringValue();
        }
        std::string path = log[i]["path"].stringValue();
        calls.emplace_back(path.substr(std::string("/api/0").size()), std::move(fields));
    }
    return calls;
}

std::vector<std::string> SettingsWindowTest::apiPaths() const {
    std::vector<std::string> paths;
    for (const auto& call : apiCalls()) {
        paths.push_back(call.first);
    }
    return paths;
}

void SettingsWindowTest::forgetApiCalls() const {
    service->request("POST", "/_control/api_reset");
}

QStringList SettingsWindowTest::itemTexts(const QComboBox& popUp) {
    QStringList texts;
    for (int i = 0; i < popUp.count(); ++i) {
        texts << popUp.itemText(i);
    }
    return texts;
}

void SettingsWindowTest::choose(QComboBox& popUp, const QString& text) {
    const int index = popUp.findText(text);
    ASSERT_GE(index, 0) << text.toStdString() << " is not in " << popUp.objectName().toStdString();
    popUp.showPopup();
    QAbstractItemView* list = popUp.view();
    ASSERT_TRUE(waitFor([&] { return list->isVisible(); }));
    const QModelIndex item = list->model()->index(index, popUp.modelColumn(), list->rootIndex());
    list->scrollTo(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
    ASSERT_TRUE(waitFor([&] { return !list->isVisible(); }));
}

void SettingsWindowTest::click(QWidget& button) {
    // A check box stretched across its row takes clicks on its box and text only.
    const int h = button.height();
    const QPoint at =
        qobject_cast<QCheckBox*>(&button) ? QPoint(h / 2, h / 2) : button.rect().center();
    QTest::mouseClick(&button, Qt::LeftButton, {}, at);
}

std::shared_ptr<QString> SettingsWindowTest::answerNextModal(Qt::Key key) {
    auto seen = std::make_shared<QString>();
    answerModal([seen, key](QWidget& box) {
        *seen = messageBoxText(box);
        if (seen->isEmpty()) {
            *seen = box.windowTitle();
        }
        QTest::keyClick(&box, key);
    });
    return seen;
}

std::string SettingsWindowTest::openedAddresses() const {
    return testsupport::readFile(dir.file("opener.log"));
}

std::string SettingsWindowTest::preferencesPath() const {
    return dir.file("config/com.oxburyworks.QuorvPremiereExporter.plist");
}

base::Dictionary SettingsWindowTest::preferences() const {
    const auto read = base::PropertyList::readFile(preferencesPath());
    return read && read->dictionary() ? *read->dictionary() : base::Dictionary();
}

void SettingsWindowTest::writePreferences(const base::Dictionary& values) const {
    ASSERT_TRUE(base::PropertyList::writeFile(base::Value(values), preferencesPath()));
}

}  // namespace settingstest
