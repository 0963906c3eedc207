#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/RunLoop.h"
#include "platform/ui/HeadlessAlertPresenter.h"
#include "platform/ui/ScriptedAlertPresenter.h"
#include "support/OWAlert.h"
#include "support/OWException.h"
#include "support/OWLog.h"
#include "tests/support/MainThread.h"
#include "tests/support/TempDir.h"
#include "tests/support_layer/LogSandbox.h"

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

TEST_F(AlertTest, HeadlessPresenterAnswersDefaultOnTheConsole) {
    AlertPresenter::setCurrent(std::make_shared<platform::ui::HeadlessAlertPresenter>());
    testing::internal::CaptureStderr();
    EXPECT_EQ(OWAlert::alertSheetWithMessageText("No screen", "Go", "Stop", std::nullopt, "50%",
                                                 nullptr, true),
              1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Alert: No screen - 50% [Go]\n");
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
