// The desktop's services as a user meets them: alerts as Qt boxes answered by clicks and
// keys, sheets on their window, notifications on a real session bus, centred windows.
#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <optional>

#include "platform/ui/qt/QtAlertPresenter.h"
#include "platform/ui/qt/UserNotifications.h"
#include "platform/ui/qt/WindowPlacement.h"
#include "support/OWAlert.h"
#include "tests/helpers/desktop/DesktopTest.h"
#include "tests/helpers/desktop/NotificationService.h"

namespace {

using platform::ui::AlertPresenter;
using platform::ui::AlertRequest;
using platform::ui::qt::QtAlertPresenter;

class DesktopServicesTest : public testsupport::DesktopTest {};

QPushButton* buttonTitled(QWidget& box, const QString& title) {
    for (auto* button : box.findChildren<QPushButton*>()) {
        if (button->text() == title) {
            return button;
        }
    }
    return nullptr;
}

// A blocking alert with no window is application-modal; its caller waits in Qt's loop
// until a button is clicked, and gets that button's code.
TEST_F(DesktopServicesTest, BlockingAlertAnswersTheButtonClickedOrKeyPressed) {
    struct Case {
        const char* press;  // a button title, or "Return" / "Escape"
        long expected;
    };
    for (const Case c : {Case{"Link Account", 1}, Case{"Cancel", 0}, Case{"Later", -1},
                         Case{"Return", 1}, Case{"Escape", 0}}) {
        Qt::WindowModality modality = Qt::NonModal;
        QString shownText;
        answerModal([&](QWidget& box) {
            modality = box.windowModality();
            shownText = messageBoxText(box);
            const QString press = c.press;
            if (press == "Return" || press == "Escape") {
                QTest::keyClick(&box, press == "Return" ? Qt::Key_Return : Qt::Key_Escape);
            } else if (auto* button = buttonTitled(box, press)) {
                QTest::mouseClick(button, Qt::LeftButton);
            }
        });
        const long code = OWAlert::alertSheetWithMessageText(
            "Account not linked", std::string("Link Account"), std::string("Cancel"),
            std::string("Later"), "100% linked? %@", nullptr, true);
        EXPECT_EQ(code, c.expected) << c.press;
        EXPECT_EQ(modality, Qt::ApplicationModal);
        EXPECT_EQ(shownText, "Account not linked\n100% linked? %@");
    }
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// A timed alert nobody answers ends with the default by itself: the answer comes from
// another thread and must wake the main thread sleeping in Qt's loop; the box goes away.
TEST_F(DesktopServicesTest, TimedAlertEndsByItselfAndTakesItsBoxAway) {
    QElapsedTimer clock;
    clock.start();
    const long code = OWAlert::timedAlertSheetWithMessageText(
        "Upload finished", std::nullopt, std::string("Stay"), std::nullopt, "", nullptr, 1);
    EXPECT_EQ(code, 1);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(waitFor([] { return QApplication::activeModalWidget() == nullptr; }, 2));
}

// An alert on a visible window is a sheet: window-modal on it, non-blocking, one per
// window; its suppression check box reports every change.
TEST_F(DesktopServicesTest, SheetIsWindowModalOnItsParentAndItsCheckBoxIsHeard) {
    QWidget window;
    window.resize(400, 300);
    window.show();
    auto presenter = std::make_shared<QtAlertPresenter>();
    AlertRequest request;
    request.messageText = "Replace the file?";
    request.defaultButtonTitle = "Replace";
    request.alternateButtonTitle = "Keep";
    request.parentWindow = QtAlertPresenter::windowIdentity(&window);
    request.suppressionBinding = "OWDontAskReplace";
    request.suppressionChecked = false;
    std::vector<bool> writes;
    request.setSuppressionChecked = [&](bool on) { writes.push_back(on); };
    std::optional<long> answer;
    presenter->present(request, [&](long code) { answer = code; });

    auto* box = window.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(presenter->windowHasSheet(&window));
    auto* check = box->findChild<QCheckBox*>("suppressionCheck");
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->text(), QtAlertPresenter::kSuppressionText);
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
    EXPECT_EQ(writes, std::vector<bool>{true});
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return answer.has_value(); }));
    EXPECT_EQ(answer, 0);
    EXPECT_FALSE(presenter->windowHasSheet(&window));

    // A window that is gone is no parent: the alert gets a box of its own.
    request.parentWindow = reinterpret_cast<const void*>(0x1234);
    request.suppressionBinding.reset();
    answer.reset();
    presenter->present(request, [&](long code) { answer = code; });
    QWidget* modal = QApplication::activeModalWidget();
    ASSERT_NE(modal, nullptr);
    EXPECT_EQ(modal->windowModality(), Qt::ApplicationModal);
    EXPECT_EQ(modal->parentWidget(), nullptr);
    presenter->dismiss(request);
    EXPECT_TRUE(waitFor([&] { return answer.has_value(); }));
}

TEST_F(DesktopServicesTest, NotificationReachesTheServiceWithTheDefaultSound) {
    QV_REQUIRE_NOTIFICATION_SERVICE();
    testsupport::NotificationService service;
    ASSERT_TRUE(service.start());
    std::optional<bool> delivered;
    platform::ui::qt::UserNotifications::deliver("Quorvane Upload Complete", "Cut \"one\"",
                                                 [&](bool ok) { delivered = ok; });
    ASSERT_TRUE(waitFor([&] { return delivered.has_value(); }));
    EXPECT_TRUE(*delivered);
    const auto calls = service.notifyCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_NE(calls[0].find("\"Quorvane Upload Complete\" \"Cut \"one\"\""), std::string::npos)
        << calls[0];
    EXPECT_NE(calls[0].find("\"sound-name\": \"message-new-instant\""), std::string::npos);

    // Without the service the failure is reported, and nothing else happens.
    service.stop();
    delivered.reset();
    platform::ui::qt::UserNotifications::deliver("Quorvane Upload Complete", "x",
                                                 [&](bool ok) { delivered = ok; });
    ASSERT_TRUE(waitFor([&] { return delivered.has_value(); }));
    EXPECT_FALSE(*delivered);
}

TEST_F(DesktopServicesTest, WindowIsCentredOnThePrimaryScreenKeepingItsSize) {
    QWidget window;
    window.resize(301, 199);
    platform::ui::qt::centerOnPrimaryScreen(window);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(window.pos(), QPoint(screen.x() + (screen.width() - 301) / 2,
                                   screen.y() + (screen.height() - 199) / 2));
    EXPECT_EQ(window.size(), QSize(301, 199));
}

}  // namespace
