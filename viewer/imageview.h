#pragma once

#include <QImage>
#include <QWidget>

namespace tavlin {

// An image widget. Its own size is the displayed size; it paints the decoded
// part of its picture where that part sits, so a picture larger than the
// screen only needs pixels for what can be seen.
class ImageView : public QWidget {
    Q_OBJECT
public:
    explicit ImageView(QWidget* parent = nullptr);

    // `image` covers `imageRect` of the widget, in device-independent pixels; the
    // image may hold more pixels than that on a high-density screen.
    void setPicture(QImage image, QRectF imageRect);
    // Shows `image` stretched over the whole widget.
    void setPicture(QImage image);
    const QImage& picture() const { return m_image; }
    QRectF pictureRect() const { return m_imageRect; }

Q_SIGNALS:
    // Mouse events stay with the image widget instead of reaching the window.
    void mouseReleased(QMouseEvent* event);
    void mouseMoved(QMouseEvent* event);
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QImage m_image;
    QRectF m_imageRect; // empty: stretched over the widget
};

} // namespace tavlin
