#include "apps/export_plugin/OWCustomTextField.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "base/Console.h"

using base::Console;

void OWCustomTextField::adopt(QWidget& window) {
    for (QLineEdit* field : window.findChildren<QLineEdit*>()) {
        if (!field->findChild<QObject*>(kObjectName, Qt::FindDirectChildrenOnly)) {
            new OWCustomTextField(*field);
        }
    }
}

OWCustomTextField::OWCustomTextField(QLineEdit& field) : QObject(&field), field_(field) {
    setObjectName(kObjectName);
    field.installEventFilter(this);
}

bool OWCustomTextField::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &field_) {
        return false;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (performKeyEquivalent(*key)) {
            // Accepting the override keeps the host's shortcut from firing; the key
            // press that follows is the edit just made.
            performedKey_ = key->key();
            event->accept();
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        keyDown();
        if (performedKey_ != 0 && key->key() == performedKey_) {
            performedKey_ = 0;
            return true;
        }
        performedKey_ = 0;
    }
    return false;
}

bool OWCustomTextField::performKeyEquivalent(QKeyEvent& event) {
    Console::log("perform key eq: %u", unsigned(event.key()));
    Console::write("0");
    if (!(event.modifiers() & Qt::ControlModifier)) {
        return false;
    }
    Console::write("1");
    if (!field_.hasFocus()) {
        return false;
    }
    Console::write("2");
    const bool selection = field_.hasSelectedText();
    Console::write("3");
    switch (event.key()) {
        case Qt::Key_A:
            Console::write("4");
            field_.selectAll();
            return true;
        case Qt::Key_Z:
            if (field_.isUndoAvailable()) {
                field_.undo();
                return true;
            }
            return false;
        case Qt::Key_X:
            if (selection && !field_.isReadOnly() && field_.echoMode() == QLineEdit::Normal) {
                field_.cut();
                return true;
            }
            return false;
        case Qt::Key_C:
            if (selection && field_.echoMode() == QLineEdit::Normal) {
                field_.copy();
                return true;
            }
            return false;
        case Qt::Key_V:
            if (field_.isReadOnly()) {
                return false;
            }
            field_.paste();
            return true;
        default:
            return false;
    }
}

void OWCustomTextField::keyDown() {
    Console::write("key down");
}
