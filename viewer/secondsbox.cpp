#include "viewer/secondsbox.h"

#include <QLineEdit>
#include <QScrollBar>
#include <QValidator>

#include "registry/settings.h"

namespace tavlin {

namespace {

bool plainDigits(const QString& text) {
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

// Lets only digits into the box, and only as many as a number up to 30 needs; what
// may still become one (nothing yet, a 0) waits, and is put back to the bar's value
// when the typing ends.
class SecondsValidator : public QValidator {
public:
    SecondsValidator(QScrollBar* bar, QObject* parent) : QValidator(parent), m_bar(bar) {}

    State validate(QString& input, int&) const override {
        if (typedSeconds(input))
            return Acceptable;
        // Beyond two digits only zeros could lead, and a third digit never makes a number in range.
        if (input.size() <= 2 && plainDigits(input) && input.toInt() == 0)
            return Intermediate;
        return Invalid;
    }

    void fixup(QString& input) const override { input = QString::number(m_bar->value()); }

private:
    QScrollBar* m_bar;
};

} // namespace

std::optional<int> typedSeconds(const QString& text) {
    if (text.isEmpty() || text.size() > 2 || !plainDigits(text))
        return std::nullopt;
    const int seconds = text.toInt();
    if (seconds < kMinLoopSeconds || seconds > kMaxLoopSeconds)
        return std::nullopt;
    return seconds;
}

void bindSecondsBox(QScrollBar* bar, QLineEdit* box) {
    box->setValidator(new SecondsValidator(bar, box));
    // Any number the box comes to show is the value, whether typed or set.
    QObject::connect(box, &QLineEdit::textChanged, bar, [bar](const QString& text) {
        if (const std::optional<int> seconds = typedSeconds(text))
            bar->setValue(*seconds);
    });
}

} // namespace tavlin
