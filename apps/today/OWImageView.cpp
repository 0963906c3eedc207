#include "apps/today/OWImageView.h"

#include <QMouseEvent>
#include <QPixmap>

OWImageView::OWImageView(QWidget* parent) : QLabel(parent) {
    setAlignment(Qt::AlignCenter);
    setCursor(Qt::PointingHandCursor);
}

void OWImageView::setImage(const QImage& image) {
    image_ = image;
    render();
}

void OWImageView::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
}

void OWImageView::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    render();
}

void OWImageView::render() {
    if (image_.isNull()) {
        setPixmap(QPixmap());
        return;
    }
    // Scaled for the screen's pixel density, so icons stay sharp at scale 2.
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(image_.scaled(
        contentsRect().size() * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    setPixmap(pixmap);
}
