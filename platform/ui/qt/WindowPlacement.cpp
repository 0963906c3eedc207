#include "platform/ui/qt/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace platform::ui::qt {

void centerOnPrimaryScreen(QWidget& window) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    const QRect frame = screen->geometry();
    // The frame's size once the window has one (decorations included), else the size.
    const QSize size = window.isVisible() ? window.frameGeometry().size() : window.size();
    window.move(frame.x() + (frame.width() - size.width()) / 2,
                frame.y() + (frame.height() - size.height()) / 2);
}

}  // namespace platform::ui::qt
