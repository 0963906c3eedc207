#include "apps/hub/window/OWQuorvaneAuthContainer.h"

#include <QEvent>
#include <QVBoxLayout>

#include "apps/hub/window/OWQuorvaneAuthDelegate.h"

OWQuorvaneAuthContainer::OWQuorvaneAuthContainer(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    OWQuorvaneAuthDelegate::sharedController()->loadInterface();
    viewDidMoveToWindow();
}

OWQuorvaneAuthContainer::~OWQuorvaneAuthContainer() {
    if (window_) {
        window_->removeEventFilter(this);
    }
}

bool OWQuorvaneAuthContainer::event(QEvent* event) {
    if (event->type() == QEvent::ParentChange) {
        viewDidMoveToWindow();
    }
    return QWidget::event(event);
}

void OWQuorvaneAuthContainer::viewDidMoveToWindow() {
    QWidget* top = window();
    if (top == this || top == window_) {
        return;
    }
    auto delegate = OWQuorvaneAuthDelegate::sharedController();
    if (QWidget* view = delegate->parentView(); view && view->parentWidget() != this) {
        layout()->addWidget(view);
    }
    if (window_) {
        window_->removeEventFilter(this);
    }
    window_ = top;
    window_->installEventFilter(this);
}

bool OWQuorvaneAuthContainer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::Close) {
        OWQuorvaneAuthDelegate::sharedController()->windowWillClose();
    }
    return QWidget::eventFilter(watched, event);
}
