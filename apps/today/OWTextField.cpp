#include "apps/today/OWTextField.h"

#include <QMouseEvent>

OWTextField::OWTextField(QWidget* parent) : QLabel(parent) {
    // Service texts are shown as they are, never as markup.
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setCursor(Qt::PointingHandCursor);
}

void OWTextField::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}
