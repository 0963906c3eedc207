#pragma once
// A fixture for desktop tests: the test thread is the main thread and Qt's loop serves
// the main base::RunLoop (tests/helpers/desktop/DesktopTestMain.cpp made the
// application). Waits run Qt's loop; modal boxes are answered by a timer armed before
// the click that opens them, as a user would answer them.
#include <gtest/gtest.h>

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <string>

namespace testsupport {

class DesktopTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs Qt's loop until the predicate holds; false after `seconds`.
    static bool waitFor(const std::function<bool()>& predicate, double seconds = 10);
    // Once a modal widget is active (window- or application-modal), calls `answer` with
    // it, once. Arm it before the action that opens the box.
    static void answerModal(std::function<void(QWidget&)> answer, double seconds = 10);
    // The texts of a message box: its title-less message and informative text.
    static QString messageBoxText(QWidget& box);
    // Saves a picture of `widget` as <build>/screenshots/<name>.png; its path, or empty.
    static std::string saveScreenshot(QWidget& widget, const std::string& name);
};

}  // namespace testsupport
