#pragma once
// The view the hub's window file places where the linking interface goes. Made, it
// loads the interface file "OWQuorvaneAuth" with the shared OWQuorvaneAuthDelegate as
// owner; placed in a window, it takes in the delegate's parentView and makes the
// delegate the window's delegate (its closing saves the settings).
#include <QWidget>

class OWQuorvaneAuthContainer : public QWidget {
  public:
    explicit OWQuorvaneAuthContainer(QWidget* parent = nullptr);
    ~OWQuorvaneAuthContainer() override;

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void viewDidMoveToWindow();

    QWidget* window_ = nullptr;  // the window whose closing this container reports
};
