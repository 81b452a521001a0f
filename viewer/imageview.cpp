#include "viewer/imageview.h"

#include <QMouseEvent>
#include <QPainter>

namespace tavlin {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
}

void ImageView::setPicture(QImage image, QRectF imageRect) {
    m_image = std::move(image);
    m_imageRect = imageRect;
    update();
}

void ImageView::setPicture(QImage image) {
    setPicture(std::move(image), QRectF());
}

void ImageView::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void ImageView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    Q_EMIT mouseReleased(event);
}

void ImageView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    Q_EMIT mouseMoved(event);
}

void ImageView::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    Q_EMIT doubleClicked();
}

void ImageView::paintEvent(QPaintEvent*) {
    if (m_image.isNull())
        return;
    QPainter painter(this);
    const QRectF target = m_imageRect.isEmpty() ? QRectF(rect()) : m_imageRect;
    if (target.size() == m_image.deviceIndependentSize()) {
        painter.drawImage(target.topLeft(), m_image);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_image);
    }
}

} // namespace tavlin
