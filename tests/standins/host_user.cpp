#include "tests/standins/host_user.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <fstream>

#include "tests/standins/host_suites.h"

namespace hoststandin {

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double threadRunnableSeconds() {
    // The second field of the scheduler's statistics: time spent ready but not running.
    std::ifstream in("/proc/thread-self/schedstat");
    unsigned long long running = 0;
    unsigned long long waiting = 0;
    return in >> running >> waiting ? double(waiting) / 1e9 : 0.0;
}

double wallSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

ScriptedUser::ScriptedUser(const Options& options) : options_(options) {
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &ScriptedUser::look);
}

void ScriptedUser::start() {
    timer_.start();
}

void ScriptedUser::look() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        answerAlert(*box);
        return;
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->findChild<QComboBox*>("projectPopUp")) {
            handleSettingsWindow(*window);
            return;
        }
    }
}

void ScriptedUser::answerAlert(QWidget& widget) {
    auto& box = static_cast<QMessageBox&>(widget);
    report("alert text=" + quoted(box.text().toStdString()) +
           " informative=" + quoted(box.informativeText().toStdString()));
    if (QAbstractButton* button = box.defaultButton()) {
        QTest::mouseClick(button, Qt::LeftButton);
    } else {
        QTest::keyClick(&box, Qt::Key_Return);
    }
}

bool ScriptedUser::listsReady(QWidget& window) const {
    auto* spinner = window.findChild<QWidget*>("spinner");
    auto* upload = window.findChild<QPushButton*>("uploadBtn");
    for (const char* name : {"projectPopUp", "deptPopUp", "folderPopUp", "workflowPopUp"}) {
        auto* popUp = window.findChild<QComboBox*>(name);
        if (!popUp || popUp->count() == 0) {
            return false;
        }
    }
    return spinner && spinner->isHidden() && upload && upload->isEnabled();
}

void ScriptedUser::handleSettingsWindow(QWidget& window) {
    if (&window != settingsWindow_) {
        settingsWindow_ = &window;
        measuring_ = false;
        answered_ = false;
        seenAt_ = wallSeconds();
        auto* title = window.findChild<QLineEdit*>("titleText");
        report("settings-window title=" + quoted(title ? title->text().toStdString() : ""));
    }
    if (answered_ || options_.answer == SettingsAnswer::None) {
        return;
    }
    // Upload held back with a reason under the project pop-up: the user reads it and
    // cancels, as nothing else leads on.
    auto* warning = window.findChild<QLabel*>("projectWarning");
    auto* spinner = window.findChild<QWidget*>("spinner");
    auto* upload = window.findChild<QPushButton*>("uploadBtn");
    if (warning && warning->isVisible() && spinner && spinner->isHidden() && upload &&
        !upload->isEnabled()) {
        answered_ = true;
        report("settings-held-back warning=" + quoted(warning->text().toStdString()));
        if (auto* cancel = window.findChild<QPushButton*>("cancelBtn")) {
            QTest::mouseClick(cancel, Qt::LeftButton);
        }
        return;
    }
    // A cancelling user does not wait for lists that never come (no linked account).
    const bool ready = listsReady(window) || (options_.answer == SettingsAnswer::Cancel &&
                                              wallSeconds() - seenAt_ > kCancelPatienceSeconds);
    if (!ready) {
        return;
    }
    if (!measuring_) {
        // From here on only the plug-in's loop keeps the thread busy.
        measuring_ = true;
        startWall_ = wallSeconds();
        startCpu_ = threadCpuSeconds();
        startRunnable_ = threadRunnableSeconds();
        return;
    }
    const double wall = wallSeconds() - startWall_;
    if (wall < options_.measureSeconds) {
        return;
    }
    // Busy = running or ready to run. A loop that sleeps between events is idle most of
    // the time however loaded the machine is; one that polls is never idle, even when
    // other work keeps it from the processor.
    const double cpu = threadCpuSeconds() - startCpu_;
    const double runnable = threadRunnableSeconds() - startRunnable_;
    char line[128];
    std::snprintf(line, sizeof line, "settings-wait cpu=%.3f runnable=%.3f wall=%.3f busy=%.3f",
                  cpu, runnable, wall, wall > 0 ? (cpu + runnable) / wall : 0.0);
    report(line);
    if (!options_.screenshot.empty()) {
        const bool saved = window.grab().save(QString::fromStdString(options_.screenshot));
        report("screenshot saved=" + std::to_string(saved));
    }
    answer(window);
}

void ScriptedUser::answer(QWidget& window) {
    answered_ = true;
    const char* name = options_.answer == SettingsAnswer::Export ? "uploadBtn" : "cancelBtn";
    auto* button = window.findChild<QPushButton*>(name);
    report(std::string("settings-answer ") + name);
    if (button) {
        QTest::mouseClick(button, Qt::LeftButton);
    }
}

}  // namespace hoststandin
