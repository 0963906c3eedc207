#pragma once
// The key handling of the text fields in the plug-in's windows. Inside a host the
// host's menus own Ctrl+A/Z/X/C/V; the fields take those keys themselves (select all,
// undo, cut, copy, paste) before any host shortcut sees them, and leave every other key
// to the host. The windows come from shared interface files, so the behaviour is
// attached to their line edits rather than built into a class of the form.
#include <QObject>

class QKeyEvent;
class QLineEdit;
class QWidget;

class OWCustomTextField : public QObject {
  public:
    static constexpr const char* kObjectName = "OWCustomTextField";
    // Gives every line edit inside `window` this key handling; the handlers are owned
    // by their fields.
    static void adopt(QWidget& window);
    explicit OWCustomTextField(QLineEdit& field);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The host's shortcut keys: true when the field performed the key's edit.
    bool performKeyEquivalent(QKeyEvent& event);
    void keyDown();

    QLineEdit& field_;
    int performedKey_ = 0;  // its key press is the edit already done
};
