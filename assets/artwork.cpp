#include "assets/artwork.h"

#include "assets/look.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace tavlin::artwork {

namespace {

QFont font(int pixelSize, bool bold) {
    QFont f = look::sansSerif(12, bold);
    f.setPixelSize(pixelSize);
    return f;
}

// A small landscape "photograph": sky, sun, hills and a white border.
void drawPhoto(QPainter& p, const QRect& r, const QColor& sky, const QColor& land, qreal sunX) {
    p.save();
    p.fillRect(r, Qt::white);
    const QRect inner = r.adjusted(4, 4, -4, -4);
    p.setClipRect(inner);
    QLinearGradient skyGradient(inner.topLeft(), inner.bottomLeft());
    skyGradient.setColorAt(0, sky.lighter(130));
    skyGradient.setColorAt(1, sky.darker(110));
    p.fillRect(inner, skyGradient);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 230, 120));
    p.drawEllipse(QPointF(inner.left() + inner.width() * sunX, inner.top() + inner.height() * 0.3),
                  inner.width() * 0.1, inner.width() * 0.1);
    QPainterPath hills;
    hills.moveTo(inner.bottomLeft());
    hills.cubicTo(inner.left() + inner.width() * 0.3, inner.top() + inner.height() * 0.4,
                  inner.left() + inner.width() * 0.6, inner.top() + inner.height() * 0.9,
                  inner.right(), inner.top() + inner.height() * 0.55);
    hills.lineTo(inner.bottomRight());
    hills.closeSubpath();
    p.setBrush(land);
    p.drawPath(hills);
    p.restore();
}

} // namespace

QImage splashPicture() {
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gold(0, 40, 0, 130);
    gold.setColorAt(0, QColor(255, 236, 140));
    gold.setColorAt(0.5, QColor(230, 180, 40));
    gold.setColorAt(1, QColor(160, 110, 10));
    QPainterPath title;
    title.addText(0, 0, font(64, true), QStringLiteral("Tavlin 2.0"));
    const QRectF box = title.boundingRect();
    title.translate((400 - box.width()) / 2 - box.left(), 120 - box.bottom());
    p.setPen(QPen(QColor(90, 60, 0), 2));
    p.setBrush(gold);
    p.drawPath(title);

    const QColor skies[] = {{90, 150, 230}, {240, 140, 80}, {120, 190, 220}, {70, 80, 160}};
    const QColor lands[] = {{60, 140, 60}, {120, 70, 40}, {200, 180, 110}, {30, 60, 50}};
    for (int i = 0; i < 4; ++i)
        drawPhoto(p, QRect(14 + i * 95, 170, 87, 70), skies[i], lands[i], 0.2 + i * 0.2);
    p.setPen(QColor(160, 160, 160));
    p.setFont(font(12, false));
    p.drawText(QRect(0, 260, 400, 30), Qt::AlignCenter, QStringLiteral("Pictures and screensaver"));
    return image;
}

QImage errorPicture() {
    QImage image(400, 150, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient flame(0, 10, 0, 70);
    flame.setColorAt(0, QColor(255, 240, 120));
    flame.setColorAt(0.45, QColor(255, 150, 20));
    flame.setColorAt(1, QColor(200, 30, 10));
    QPainterPath error;
    error.addText(16, 66, font(52, true), QStringLiteral("Error 42:"));
    p.setPen(Qt::NoPen);
    p.setBrush(flame);
    p.drawPath(error);
    QLinearGradient silver(0, 90, 0, 130);
    silver.setColorAt(0, QColor(245, 245, 250));
    silver.setColorAt(0.5, QColor(160, 165, 175));
    silver.setColorAt(1, QColor(220, 222, 230));
    QPainterPath message;
    message.addText(16, 126, font(30, true), QStringLiteral("Unable to Load Picture"));
    p.setBrush(silver);
    p.drawPath(message);
    return image;
}

QImage bannerPicture() {
    QImage image(350, 100, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient night(0, 0, 350, 100);
    night.setColorAt(0, QColor(10, 20, 50));
    night.setColorAt(1, QColor(0, 0, 0));
    p.fillRect(image.rect(), night);
    drawPhoto(p, QRect(10, 15, 90, 70), QColor(90, 150, 230), QColor(60, 140, 60), 0.7);
    QPainterPath name;
    name.addText(115, 65, font(44, true), QStringLiteral("Tavlin"));
    QLinearGradient gold(0, 25, 0, 70);
    gold.setColorAt(0, QColor(255, 236, 140));
    gold.setColorAt(1, QColor(200, 140, 20));
    p.setPen(Qt::NoPen);
    p.setBrush(gold);
    p.drawPath(name);
    p.setPen(QColor(0, 255, 0));
    p.setFont(font(12, false));
    p.drawText(QRect(115, 70, 230, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("picture viewer and screensaver"));
    return image;
}

QIcon windowIcon() {
    QImage image(256, 256, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 20));
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 36, 36);
    drawPhoto(p, QRect(40, 56, 176, 144), QColor(90, 150, 230), QColor(60, 160, 60), 0.72);
    return QIcon(QPixmap::fromImage(image));
}

} // namespace tavlin::artwork
