#include "viewer/tavlinform.h"

#include <algorithm>
#include <cmath>

#include <QLabel>

#include "assets/look.h"

namespace tavlin {

namespace {
// The information lines' sizes on a whole screen, in points.
constexpr double kBoldLinePoints = 9.75;
constexpr double kLinePoints = 8.25;
} // namespace

int TavlinForm::px(double twips) const {
    return static_cast<int>(std::lround(twips / m_tpp));
}

void TavlinForm::place(QWidget* widget, const TwipRect& r) const {
    widget->setGeometry(px(r.left), px(r.top), px(r.width), px(r.height));
}

TwipRect TavlinForm::twipGeometry(const QWidget* widget) const {
    const QRect g = widget->geometry();
    return {g.x() * m_tpp, g.y() * m_tpp, g.width() * m_tpp, g.height() * m_tpp};
}

QSizeF TavlinForm::screenTwips() const {
    return QSizeF(m_screen) * m_tpp;
}

void TavlinForm::sizeInformationLines(double scale) {
    // Kept large enough to read in the smallest preview.
    const auto points = [scale](double full) { return std::max(full * scale, 5.0); };
    for (QLabel* label : {txtPicture, txtFile})
        label->setFont(look::sansSerif(points(kBoldLinePoints), true));
    for (QLabel* label : {txtHeight, txtWidth, txtFileSize})
        label->setFont(look::sansSerif(points(kLinePoints), false));
    for (QLabel* label : {txtFile, txtPicture, txtWidth, txtHeight, txtFileSize})
        label->adjustSize();
}

} // namespace tavlin
