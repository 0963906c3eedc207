#include "apps/hub/window/AppDelegate.h"

#include <QAction>
#include <QApplication>

#include "client/OWQuorvane.h"
#include "platform/ui/qt/WindowPlacement.h"
#include "ui_HubWindow.h"

namespace {

// A web page has no natural size of its own; this fits both pages and the sign-in page
// without scrolling.
constexpr QSize kInitialWindowSize(560, 640);

}  // namespace

AppDelegate::AppDelegate() = default;

AppDelegate::~AppDelegate() {
    delete window_.data();
}

void AppDelegate::applicationDidFinishLaunching() {
    quorv_ = OWQuorvane::create();
    QApplication::setQuitOnLastWindowClosed(applicationShouldTerminateAfterLastWindowClosed());

    auto* window = new QWidget();
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    ui_ = std::make_unique<Ui::HubWindow>();
    ui_->setupUi(window);
    window_ = window;
    auto* close = new QAction(window);
    close->setObjectName("closeWindowAction");
    // The platform's own key for closing a window, and Ctrl+W wherever that is another.
    QList<QKeySequence> keys = QKeySequence::keyBindings(QKeySequence::Close);
    if (!keys.contains(QKeySequence(Qt::CTRL | Qt::Key_W))) {
        keys.append(QKeySequence(Qt::CTRL | Qt::Key_W));
    }
    close->setShortcuts(keys);
    QObject::connect(close, &QAction::triggered, window, &QWidget::close);
    window->addAction(close);

    window->resize(kInitialWindowSize);
    platform::ui::qt::centerOnPrimaryScreen(*window);
    window->show();
}
