// The timed slideshow.
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <cmath>

#include "viewer/tavlin.h"

namespace tavlin {

void Tavlin::StartSlideshow() {
    myTimer->setInterval(scrSeconds->value() * 1000);
    myTimer->start();
    btnStartSlideshow->setText(QStringLiteral("&Stop"));
    Q_EMIT slideshowStateChanged();
}

void Tavlin::StopSlideShow() {
    myTimer->stop();
    btnStartSlideshow->setText(QStringLiteral("&Start"));
    Q_EMIT slideshowStateChanged();
}

void Tavlin::btnStartSlideshow_Click() {
    if (!myTimer->isActive())
        StartSlideshow();
    else
        StopSlideShow();
}

void Tavlin::scrSeconds_Change() {
    if (scrSeconds->value() == 0) {
        scrSeconds->setValue(1); // runs this handler again with 1
        return;
    }
    txtSeconds->setText(QString::number(scrSeconds->value()));
    // QTimer restarts a running timer on a new interval: counted from the change.
    myTimer->setInterval(scrSeconds->value() * 1000);
}

std::int64_t Tavlin::randomIndex(std::int64_t count) {
    const double r = m_options.random ? m_options.random()
                                      : std::generate_canonical<double, 53>(m_rng);
    return std::min<std::int64_t>(count - 1, static_cast<std::int64_t>(std::floor(r * count)));
}

} // namespace tavlin
