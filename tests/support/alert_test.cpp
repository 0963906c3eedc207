#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/RunLoop.h"
#include "base/UserDefaults.h"
#include "platform/ui/ScriptedAlertPresenter.h"
#include "support/OWAlert.h"
#include "support/OWException.h"
#include "support/OWLog.h"
#include "tests/helpers/MainThread.h"
#include "tests/helpers/TempDir.h"
#include "tests/support/LogSandbox.h"

namespace {

using platform::ui::AlertPresenter;
using platform::ui::ScriptedAlertPresenter;

const int kWindow = 0;  // any address stands for a window

class AlertTest : public testsupport::MainThreadTest {
  protected:
    void SetUp() override {
        MainThreadTest::SetUp();
        presenter = std::make_shared<ScriptedAlertPresenter>();
        AlertPresenter::setCurrent(presenter);
    }
    void TearDown() override {
        AlertPresenter::setCurrent(nullptr);
        MainThreadTest::TearDown();
    }
    // Runs `body` on a background thread while the main thread serves the main queue.
    long fromBackground(std::function<long()> body) {
        auto result = std::async(std::launch::async, std::move(body));
        EXPECT_TRUE(pumpUntil(
            [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        return result.get();
    }
    std::shared_ptr<ScriptedAlertPresenter> presenter;
};

TEST_F(AlertTest, BlockingFromABackgroundThreadReturnsTheAnswer) {
    presenter->script(0);
    const long code = fromBackground([] {
        return OWAlert::alertSheetWithMessageText("Link your account?", "Link Account", "Cancel",
                                                  std::nullopt, "Needed for 100% of uploads",
                                                  &kWindow, true);
    });
    EXPECT_EQ(code, 0);
    const auto shown = presenter->presented();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].messageText, "Link your account?");
    EXPECT_EQ(shown[0].defaultButtonTitle, "Link Account");
    EXPECT_EQ(shown[0].alternateButtonTitle, "Cancel");
    EXPECT_EQ(shown[0].otherButtonTitle, std::nullopt);
    EXPECT_EQ(shown[0].informativeText, "Needed for 100% of uploads");
    EXPECT_EQ(shown[0].parentWindow, &kWindow);
    EXPECT_EQ(presenter->dismissedCount(), 1u);
}

TEST_F(AlertTest, BlockingOnTheMainThreadKeepsServingItsQueue) {
    // The answer arrives through the main queue, which only runs if the wait pumps it.
    base::MainQueue::post([p = presenter] { p->answerPending(-1); });
    const long code = OWAlert::alertSheetWithMessageText("Replace?", "Replace", "Keep", "Both", "",
                                                         nullptr, true);
    EXPECT_EQ(code, -1);
    EXPECT_EQ(presenter->dismissedCount(), 1u);
}

TEST_F(AlertTest, AWindowWithASheetGetsASeparateWindow) {
    presenter->setWindowWithSheet(&kWindow);
    presenter->script(1);
    EXPECT_EQ(OWAlert::alertSheetWithMessageText("Second", "OK", std::nullopt, std::nullopt, "",
                                                 &kWindow, true),
              1);
    EXPECT_EQ(presenter->presented().at(0).parentWindow, nullptr);
}

TEST_F(AlertTest, DelegateWithoutTheEndCallShowsNothing) {
    testing::internal::CaptureStderr();
    const long code = OWAlert::alertSheetWithMessageText(
        "Hidden", "OK", std::nullopt, std::nullopt, "", nullptr, this,
        OWAlert::Selector{"sheetDidEnd:returnCode:contextInfo:", nullptr}, true);
    const std::string console = testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, -1);
    EXPECT_TRUE(presenter->presented().empty());
    EXPECT_NE(console.find("Alert error: delegate does not respond to selector "
                           "sheetDidEnd:returnCode:contextInfo:"),
              std::string::npos);
}

TEST_F(AlertTest, DelegateReceivesTheEndAndNonBlockingReturnsAtOnce) {
    std::atomic<long> received{99};
    OWAlert::Selector didEnd{"alertEnded:code:", [&](OWAlert&, long code) { received = code; }};
    const long code = OWAlert::alertSheetWithMessageText("Later", "OK", "Cancel", std::nullopt, "",
                                                         nullptr, this, didEnd, false);
    EXPECT_EQ(code, -1);
    EXPECT_EQ(received, 99);
    presenter->answerPending(0);
    EXPECT_EQ(received, 0);

    presenter->script(1);
    auto alert = OWAlert::create();
    EXPECT_EQ(OWAlert::alertSheetWithMessageText("Now", "OK", "Cancel", std::nullopt, "", nullptr,
                                                 this, didEnd, true, alert),
              1);
    EXPECT_EQ(received, 1);
    EXPECT_TRUE(alert->alertEnded());
    EXPECT_EQ(alert->returnCode(), 1);
}

TEST_F(AlertTest, TimedAlertAnswersDefaultAndTakesTheSheetAway) {
    const long code = fromBackground([] {
        return OWAlert::timedAlertSheetWithMessageText("Uploading", "OK", "Cancel", std::nullopt,
                                                       "", nullptr, 1);
    });
    EXPECT_EQ(code, 1);
    EXPECT_EQ(presenter->dismissedCount(), 1u);
}

TEST_F(AlertTest, AnAnswerGivenFirstIsNotOverriddenByTheTimer) {
    presenter->script(0);
    EXPECT_EQ(OWAlert::timedAlertSheetWithMessageText("Quick", "OK", "Cancel", std::nullopt, "",
                                                      nullptr, 1),
              0);
    auto alert = OWAlert::create();
    alert->alertDidEnd(-1);
    alert->defaultReturnAfterTimeInterval(0);
    EXPECT_EQ(alert->returnCode(), -1);
}

// Without a screen no one can be asked: the alert answers the choice that changes
// nothing (never "Link Account" for the user) and says so on the console and in the log.
TEST_F(AlertTest, WithoutAScreenTheAlertDeclinesAndSaysNoOneWasAsked) {
    testsupport::LogSandbox sandbox;
    OWLog::createNewLog();
    AlertPresenter::setCurrent(nullptr);  // what a program gets unless it sets its own
    testing::internal::CaptureStderr();
    EXPECT_EQ(fromBackground([] {
                  return OWAlert::alertSheetWithMessageText("Link your account?", "Link Account",
                                                            "Cancel", std::nullopt, "50%", nullptr,
                                                            true);
              }),
              0);
    EXPECT_EQ(OWAlert::alertSheetWithMessageText("Replace?", "Replace", std::nullopt, "Keep", "",
                                                 nullptr, true),
              -1);
    EXPECT_EQ(OWAlert::timedAlertSheetWithMessageText("Done", "Link", "Later", std::nullopt, "",
                                                      nullptr, 30),
              0);
    EXPECT_EQ(OWAlert::alertSheetWithMessageText("Saved", std::nullopt, std::nullopt, std::nullopt,
                                                 "", nullptr, true),
              1);  // a lone button is only an acknowledgement
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Alert: Link your account? - 50% [Cancel] (no one could be asked)\n"
              "Alert: Replace? [Keep] (no one could be asked)\n"
              "Alert: Done [Later] (no one could be asked)\n"
              "Alert: Saved [OK] (no one could be asked)\n");
    OWLog::finishWriting();
    const std::string log = testsupport::readFile(sandbox.logFile());
    EXPECT_NE(log.find("Alert \"Link your account?\" answered 0: no one could be asked"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Alert \"Replace?\" answered -1: no one could be asked"), std::string::npos);
}

// A presenter whose user flips the "do not show again" check box before answering.
class CheckBoxFlipper : public ScriptedAlertPresenter {
  public:
    void present(const platform::ui::AlertRequest& request, Answer answer) override {
        shownChecked.push_back(request.suppressionChecked);
        if (request.setSuppressionChecked)
            request.setSuppressionChecked(!request.suppressionChecked);
        ScriptedAlertPresenter::present(request, std::move(answer));
    }
    std::vector<bool> shownChecked;
};

TEST_F(AlertTest, TheSuppressionCheckBoxReadsAndWritesItsPreference) {
    testsupport::TempDir prefs;
    base::UserDefaults::setPreferencesFolder(prefs.path());
    auto flipper = std::make_shared<CheckBoxFlipper>();
    AlertPresenter::setCurrent(flipper);
    const auto show = [](const std::optional<std::string>& binding) {
        return OWAlert::alertSheetWithMessageText("Heads up", "OK", std::nullopt, std::nullopt, "",
                                                  nullptr, nullptr, std::nullopt, true, nullptr,
                                                  binding);
    };
    flipper->script(1);
    flipper->script(1);
    flipper->script(1);
    EXPECT_EQ(show("hideHeadsUp"), 1);  // unset: unchecked, then checked by the user
    EXPECT_TRUE(base::UserDefaults::standard()->boolValue("hideHeadsUp"));
    EXPECT_EQ(show("hideHeadsUp"), 1);  // shown checked, unchecked again
    EXPECT_FALSE(base::UserDefaults::standard()->boolValue("hideHeadsUp"));
    EXPECT_EQ(base::UserDefaults::standard()->object("hideHeadsUp"), base::Value(false));
    EXPECT_EQ(show(std::nullopt), 1);  // without a binding the box is not there
    EXPECT_EQ(flipper->shownChecked, (std::vector<bool>{false, true, false}));
    EXPECT_EQ(base::UserDefaults::standard()->dictionaryRepresentation().size(), 1u);
    base::UserDefaults::setPreferencesFolder(std::nullopt);
}

class ExceptionTest : public testing::Test {
  protected:
    testsupport::LogSandbox sandbox;
};

TEST_F(ExceptionTest, LogsNameAndReasonAsPlainText) {
    OWLog::createNewLog();
    testing::internal::CaptureStdout();
    const std::string text = OWException::logException(
        OWException("NSInvalidArgumentException", "bad %s at 100%"), "-[OWTaskEx launchAsyncTask]");
    OWLog::finishWriting();
    EXPECT_EQ(text,
              "Exception in -[OWTaskEx launchAsyncTask]. NSInvalidArgumentException - bad %s at "
              "100%.");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), text + "\n");
    EXPECT_NE(testsupport::readFile(sandbox.logFile()).find(" - " + text + "\n"),
              std::string::npos);
}

TEST_F(ExceptionTest, TimeoutsAndForeignExceptions) {
    EXPECT_TRUE(OWException::didTimeout(OWException("NSPortTimeoutException", "")));
    EXPECT_FALSE(OWException::didTimeout(OWException("NSPortTimeout", "")));
    const auto mapped = OWException::fromStdException(std::out_of_range("index 7"));
    EXPECT_EQ(mapped.name(), "std::out_of_range");
    EXPECT_EQ(mapped.reason(), "index 7");
    try {
        throw 42;
    } catch (...) {
        EXPECT_EQ(OWException::fromCurrentException().name(), "int");
    }
}

}  // namespace
