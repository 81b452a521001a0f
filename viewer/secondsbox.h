#pragma once

#include <optional>

#include <QString>

class QLineEdit;
class QScrollBar;

namespace tavlin {

// The seconds a text in a seconds box stands for: a whole number from 1 to 30 in
// plain digits ("7", "07", "30"); nothing for any other text.
std::optional<int> typedSeconds(const QString& text);

// Makes a scroll bar and the text box over its middle one seconds value. The bar
// holds the value and its change handler writes the box; a whole number from 1 to
// 30 typed into the box moves the bar at once, as its arrows would. Nothing else
// can be typed, and a box left empty or at 0 shows the bar's value again when the
// typing ends (Enter, or the focus leaves).
void bindSecondsBox(QScrollBar* bar, QLineEdit* box);

} // namespace tavlin
