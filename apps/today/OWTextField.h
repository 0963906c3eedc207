#pragma once
// A read-only text of the row that wraps long lines and, like a control that sends its
// action on mouse-up, emits clicked() when a left click is released over it. It takes
// the keyboard focus by Tab, and Return, Enter or Space act as a click.
#include <QLabel>

class OWTextField : public QLabel {
    Q_OBJECT

  public:
    explicit OWTextField(QWidget* parent = nullptr);

  signals:
    void clicked();

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};
