#include "platform/ui/qt/QtAlertPresenter.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <memory>

namespace platform::ui::qt {

namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

}  // namespace

QWidget* QtAlertPresenter::windowForIdentity(const void* identity) {
    if (!identity) {
        return nullptr;
    }
    // Compared, never dereferenced, until it is known to be a live window.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (static_cast<const void*>(window) == identity) {
            return window;
        }
    }
    return nullptr;
}

void QtAlertPresenter::present(const AlertRequest& request, Answer answer) {
    forgetClosed();
    QWidget* parent = windowForIdentity(request.parentWindow);
    const bool sheet = parent && parent->isVisible();
    auto* box = new QMessageBox(sheet ? parent : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(QApplication::applicationDisplayName());
    box->setTextFormat(Qt::PlainText);
    box->setText(text(request.messageText));
    box->setInformativeText(text(request.informativeText));

    // Codes by button; the first button added is the default one.
    struct Choice {
        QPushButton* button;
        long code;
    };
    std::vector<Choice> choices;
    choices.push_back(
        {box->addButton(text(request.defaultButtonTitle.value_or("OK")), QMessageBox::AcceptRole),
         1});
    if (request.alternateButtonTitle) {
        choices.push_back(
            {box->addButton(text(*request.alternateButtonTitle), QMessageBox::RejectRole), 0});
    }
    if (request.otherButtonTitle) {
        choices.push_back(
            {box->addButton(text(*request.otherButtonTitle), QMessageBox::DestructiveRole), -1});
    }
    box->setDefaultButton(choices.front().button);
    box->setEscapeButton(choices.size() > 1 ? choices[1].button : choices.front().button);

    if (request.suppressionBinding) {
        auto* check = new QCheckBox(QObject::tr(kSuppressionText), box);
        check->setObjectName("suppressionCheck");
        check->setChecked(request.suppressionChecked);
        box->setCheckBox(check);
        if (request.setSuppressionChecked) {
            QObject::connect(check, &QCheckBox::toggled, box,
                             [write = request.setSuppressionChecked](bool on) { write(on); });
        }
    }

    // One answer, whichever way the box ends (a button, Escape, its close box).
    auto answered = std::make_shared<bool>(false);
    QObject::connect(box, &QMessageBox::finished, box, [box, choices, answered, answer] {
        if (*answered) {
            return;
        }
        *answered = true;
        long code = choices.size() > 1 ? choices[1].code : choices.front().code;
        for (const auto& choice : choices) {
            if (box->clickedButton() == choice.button) {
                code = choice.code;
            }
        }
        if (answer) {
            answer(code);
        }
    });

    shown_.push_back({request.messageText, request.informativeText,
                      sheet ? request.parentWindow : nullptr, box});
    box->setWindowModality(sheet ? Qt::WindowModal : Qt::ApplicationModal);
    box->show();
    box->activateWindow();
}

void QtAlertPresenter::dismiss(const AlertRequest& request) {
    forgetClosed();
    for (auto it = shown_.begin(); it != shown_.end(); ++it) {
        if (it->messageText == request.messageText &&
            it->informativeText == request.informativeText) {
            QPointer<QMessageBox> box = it->box;
            shown_.erase(it);
            if (box && box->isVisible()) {
                box->close();  // answers with the escape choice when nobody answered yet
            }
            return;
        }
    }
}

bool QtAlertPresenter::windowHasSheet(const void* window) const {
    return window && std::any_of(shown_.begin(), shown_.end(), [window](const Shown& s) {
               return s.parentWindow == window && s.box && s.box->isVisible();
           });
}

void QtAlertPresenter::forgetClosed() {
    std::erase_if(shown_, [](const Shown& s) { return !s.box || !s.box->isVisible(); });
}

}  // namespace platform::ui::qt
