// The linking window in the real web engine against the stand-in service: the pages,
// a whole link and revoke through the service's sign-in page, the callback protocol,
// the server sheet and closing the window.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include "apps/hub/window/OWQuorvaneAuthProtocol.h"
#include "base/Format.h"
#include "client/OWQuorvane.h"
#include "client/OWQuorvaneAuthController.h"
#include "tests/hub/window/HubWindowTest.h"

namespace hubtest {
namespace {

std::shared_ptr<OWQuorvaneAuthController> controller() {
    return OWQuorvaneAuthController::sharedController();
}

using HubPagesTest = HubWindowTest;

TEST_F(HubPagesTest, TheUnlinkedPageHoldsEveryElementStyledFromTheBundle) {
    const std::string check = base::format(R"JS((function() {
        var body = document.body.children;
        var content = document.querySelector('.content');
        var paragraphs = content.querySelectorAll(':scope > p');
        var container = document.getElementById('button-container');
        var link = container.querySelector('a');
        var sheet = document.querySelector('link[rel=stylesheet]');
        return [
          body.length === 2 && body[0].className === 'splash' && body[0].innerHTML === '' &&
            body[1] === content,
          paragraphs[0].textContent === 'Quorvane is a cloud workflow platform for creative ' +
            'professionals to share files and work together.',
          paragraphs[1].textContent === 'Link your account to this app to begin using cloud features.',
          paragraphs[2].firstElementChild === container,
          container.firstElementChild.id === 'spinner' &&
            container.firstElementChild.className === 'spinner',
          link.getAttribute('href') === %@,
          link.querySelector('button').textContent === 'Authorize this app',
          document.querySelector('meta[name=viewport]').content ===
            'width=device-width, initial-scale=1.0',
          sheet.type === 'text/css' && sheet.media === 'all' &&
            sheet.href.indexOf('Quorvane%%20Plugin%%20Hub.app/Contents/Resources/QuorvAuth.css') > 0,
          getComputedStyle(document.querySelector('.splash')).height === '128px',
          getComputedStyle(document.getElementById('spinner')).display === 'none',
          navigator.userAgent.indexOf('QuorvOAuth') >= 0
        ].join();
    })())JS",
                                           jsText(controller()->oauthAuthorizationURL()));
    EXPECT_EQ(evaluate(check).toString().toStdString(),
              "true,true,true,true,true,true,true,true,true,true,true,true");
    EXPECT_EQ(linking().serverURLLabel()->text().toStdString(), "Using server 127.0.0.1 (default)");
}

TEST_F(HubPagesTest, ALinkAndARevokeGoThroughTheServicesSignInPage) {
    signInThroughTheWindow(kUser, kPassword);
    ASSERT_TRUE(waitForLinkedPage());
    EXPECT_EQ(requestsTo("POST", "/token"), 1) << "the callback was handed over more than once";
    const std::string page = R"JS((function() {
        var content = document.querySelector('.wrapper > .content');
        var tick = content.querySelector('h1 img');
        return [document.querySelector('.wrapper > .splash') !== null,
                content.querySelector('h1').textContent, tick.getAttribute('src'),
                tick.complete && tick.naturalWidth > 0,
                content.querySelector('p').textContent,
                content.querySelector('.account-info').textContent,
                content.querySelector('#button-container button.revoke').textContent].join('|');
    })())JS";
    EXPECT_EQ(evaluate(page).toString().toStdString(),
              "true|Authorized|Tick_2.svg|true|Quorvane Plugin Hub can interact with the "
              "following account:|alice|Revoke authorization");

    // The tokens are in the keychain record, and the exporters get them from the hub.
    const auto token = controller()->oauthToken();
    const auto refresh = controller()->oauthRefreshToken();
    ASSERT_TRUE(token && refresh);
    const auto record = keychainRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->password, *token);
    EXPECT_NE(record->generic.value_or("").find(*refresh), std::string::npos);
    EXPECT_EQ(hubHandOver(),
              base::format("###%0.0f###%@###%@",
                           controller()->oauthTokenExpires()->secondsSince1970, *refresh, *token));

    click("#button-container button.revoke");
    ASSERT_TRUE(waitForUnlinkedPage());
    EXPECT_FALSE(controller()->oauthToken());
    EXPECT_FALSE(keychainRecord());
    EXPECT_EQ(service->request("GET", "/_control/tokens").body.find(*token), std::string::npos)
        << "the service did not revoke the token";
    EXPECT_EQ(hubHandOver(), "###0###(null)###(null)");
}

TEST_F(HubPagesTest, AWrongPasswordStaysOnTheSignInPage) {
    signInThroughTheWindow(kUser, "wrong");
    ASSERT_TRUE(waitForScript("!!document.getElementById('problem')"));
    EXPECT_EQ(requestsTo("POST", "/token"), 0);
    EXPECT_FALSE(app->quorv()->isLinked());
}

TEST_F(HubPagesTest, AHostileUserNameShowsAsText) {
    const std::string hostile = "<img src=x onerror=\"document.title='owned'\">&amp;";
    signInThroughTheWindow(hostile, "any");
    ASSERT_TRUE(waitForLinkedPage());
    EXPECT_EQ(
        evaluate("document.querySelector('.account-info').textContent").toString().toStdString(),
        hostile);
    EXPECT_EQ(evaluate("document.querySelectorAll('.content img').length + '|' + document.title")
                  .toString()
                  .toStdString(),
              "1|");
}

// Schemes are case-insensitive: a callback in any letter case, followed by the engine,
// is claimed, and handed over once however often the engine asks about it.
TEST_F(HubPagesTest, TheCallbackIsClaimedInAnyLetterCaseAndHandedOverOnce) {
    linkDirectly();
    EXPECT_FALSE(OWQuorvaneAuthProtocol::canInitWithRequest("https://quorv.example/oauth/revoked"));
    EXPECT_TRUE(app->quorv()->isLinked());

    std::string upper = "quorv" + clientID();
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    int changes = 0;
    base::Observation observation(base::NotificationCenter::defaultCenter(),
                                  base::NotificationCenter::defaultCenter().addObserver(
                                      OWQuorvaneAuthController::kOAuthChangedNotification,
                                      [&changes](const base::Notification&) { ++changes; }));
    evaluate("location.href = " + jsText(upper + "://oauth/revoked") + "; true");
    ASSERT_TRUE(waitForUnlinkedPage());
    EXPECT_FALSE(app->quorv()->isLinked());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(opened().empty()) << "the callback went to the default browser";
}

TEST_F(HubPagesTest, AddressesOutsideTheServiceOpenInTheDefaultBrowser) {
    evaluate("location.href = 'https://elsewhere.example/help?x=1'; true");
    evaluate("window.open('https://other.example/new'); true");
    ASSERT_TRUE(waitFor([this] { return opened().size() == 2; }));
    EXPECT_EQ(opened(), (std::vector<std::string>{"https://elsewhere.example/help?x=1",
                                                  "https://other.example/new"}));
    EXPECT_TRUE(waitForUnlinkedPage()) << "the window left its own page";
}

// ---- the server sheet ----

using HubServerSheetTest = HubWindowTest;

TEST_F(HubServerSheetTest, SavingAShortAddressUnlinksAndFallsBackAtTheNextLoad) {
    linkDirectly();
    QTest::mouseClick(app->window()->findChild<QPushButton*>("changeServerButton"), Qt::LeftButton);
    QDialog* sheet = linking().serverURLWindow();
    ASSERT_TRUE(waitFor([sheet] { return sheet->isVisible(); }));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), app->window());
    EXPECT_EQ(linking().serverURLText()->text(), "");
    QTest::keyClicks(linking().serverURLText(), "abcde");
    QTest::keyClick(linking().serverURLText(), Qt::Key_Return);  // Save is the default

    ASSERT_TRUE(waitForUnlinkedPage());
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(app->quorv()->isLinked());
    EXPECT_FALSE(keychainRecord());
    EXPECT_EQ(linking().serverURLLabel()->text().toStdString(), "Using server abcde");

    // The next load (the window's client reloads, and rebuilds the page).
    linking().quorv()->loadSavedSettings();
    EXPECT_EQ(controller()->quorvServerURLString(), "");
    ASSERT_TRUE(waitFor([this] {
        return linking().serverURLLabel()->text() == "Using server 127.0.0.1 (default)";
    }));
}

TEST_F(HubServerSheetTest, UseDefaultReturnsToTheHostedServiceAndEscapeChangesNothing) {
    auto open = [this] {
        QTest::mouseClick(app->window()->findChild<QPushButton*>("changeServerButton"),
                          Qt::LeftButton);
        return waitFor([this] { return linking().serverURLWindow()->isVisible(); });
    };
    ASSERT_TRUE(open());
    QTest::keyClicks(linking().serverURLText(), "https://review.example.org/<b>x</b>");
    QTest::mouseClick(linking().serverURLWindow()->findChild<QPushButton*>("saveButton"),
                      Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] {
        return linking().serverURLLabel()->text() ==
               "Using server https://review.example.org/<b>x</b>";
    }));
    EXPECT_EQ(linking().serverURLLabel()->textFormat(), Qt::PlainText);

    ASSERT_TRUE(open());
    EXPECT_EQ(linking().serverURLText()->text(), "https://review.example.org/<b>x</b>");
    QTest::keyClicks(linking().serverURLText(), "changed");
    QTest::keyClick(linking().serverURLText(), Qt::Key_Escape);
    ASSERT_TRUE(waitFor([this] { return !linking().serverURLWindow()->isVisible(); }));
    EXPECT_EQ(controller()->quorvServerURLString(), "https://review.example.org/<b>x</b>");

    ASSERT_TRUE(open());
    QTest::mouseClick(linking().serverURLWindow()->findChild<QPushButton*>("useDefaultButton"),
                      Qt::LeftButton);
    ASSERT_TRUE(waitFor([this] {
        return linking().serverURLLabel()->text() == "Using server 127.0.0.1 (default)";
    }));
    EXPECT_EQ(controller()->quorvServerURLString(), "");
    EXPECT_FALSE(linking().serverURLWindow()->isVisible());
}

// ---- the window ----

using HubWindowCloseTest = HubWindowTest;

// Closing saves the settings, but a save never brings back a record another program
// removed meanwhile (the user unlinked elsewhere): the account stays unlinked.
TEST_F(HubWindowCloseTest, ClosingTheWindowEndsTheProgramAndAnUnlinkElsewhereSticks) {
    linkDirectly();
    platform::keychain::KeychainFile(platform::keychain::KeychainFile::defaultFolder())
        .remove(kRecordService, kAppName);
    ASSERT_FALSE(keychainRecord());
    EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    QApplication::setActiveWindow(app->window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->window()));
    // The program's own loop, as in the hub: closing the window by its key ends it.
    QTimer::singleShot(0, app->window(), [this] {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : app->window(), Qt::Key_W, Qt::ControlModifier);
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
    guard.start(20000);
    EXPECT_EQ(QApplication::exec(), 0) << "the program did not end";
    EXPECT_FALSE(app->window()->isVisible());
    EXPECT_FALSE(keychainRecord());
    EXPECT_FALSE(controller()->oauthToken());
    EXPECT_EQ(hubHandOver(), "###0###(null)###(null)");
}

}  // namespace
}  // namespace hubtest
