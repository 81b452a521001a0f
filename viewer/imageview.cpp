#include "viewer/imageview.h"

#include <QPainter>

namespace tavlin {

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
    // The picture covers its rectangle; nothing beneath needs painting first.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void ImageView::setPicture(QImage image, QRect imageRect) {
    m_image = std::move(image);
    m_imageRect = imageRect;
    update();
}

void ImageView::setPicture(QImage image) { setPicture(std::move(image), QRect()); }

void ImageView::paintEvent(QPaintEvent*) {
    if (m_image.isNull())
        return;
    QPainter painter(this);
    const QRect target = m_imageRect.isEmpty() ? rect() : m_imageRect;
    if (target.size() == m_image.size()) {
        painter.drawImage(target.topLeft(), m_image);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_image);
    }
}

} // namespace tavlin
