#pragma once

#include <QFont>

class QWidget;

namespace tavlin::look {

// The program's lettering: the desktop's sans-serif face at `points`.
QFont sansSerif(double points, bool bold = false);

// Green text on black, the colours of the main window, its panel and the screensaver dialog.
// `fill` paints the widget's background too; a widget over the picture leaves it unpainted.
void paintGreenOnBlack(QWidget* widget, bool fill);

} // namespace tavlin::look
