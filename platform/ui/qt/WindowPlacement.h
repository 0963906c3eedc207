#pragma once
// Where the system's windows open.
class QWidget;

namespace platform::ui::qt {

// Centres `window` on the primary screen: its origin is (screen size - window size) / 2
// in each axis, from the screen's full frame; the window keeps its size.
void centerOnPrimaryScreen(QWidget& window);

}  // namespace platform::ui::qt
