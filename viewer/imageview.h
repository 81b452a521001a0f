#pragma once

#include <QImage>
#include <QWidget>

namespace tavlin {

// An image widget. Its own size is the displayed size; it paints the decoded
// part of its picture where that part sits, so a picture larger than the
// screen only needs pixels for what can be seen.
class ImageView : public QWidget {
public:
    explicit ImageView(QWidget* parent = nullptr);

    // `image` covers `imageRect` of the widget (both in device-independent pixels).
    void setPicture(QImage image, QRect imageRect);
    // Shows `image` stretched over the whole widget.
    void setPicture(QImage image);
    const QImage& picture() const { return m_image; }
    QRect pictureRect() const { return m_imageRect; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    QRect m_imageRect; // empty: stretched over the widget
};

} // namespace tavlin
