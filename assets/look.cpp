#include "assets/look.h"

#include <QColor>
#include <QPalette>
#include <QWidget>

namespace tavlin::look {

QFont sansSerif(double points, bool bold) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void paintGreenOnBlack(QWidget* widget, bool fill) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, QColor(0, 255, 0));
    widget->setPalette(palette);
    widget->setAutoFillBackground(fill);
}

} // namespace tavlin::look
