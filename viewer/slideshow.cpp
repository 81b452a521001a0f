#include "viewer/slideshow.h"

#include <algorithm>

#include "registry/settings.h"

namespace tavlin {

Slideshow::Slideshow(std::function<double()> random, QObject* parent)
    : QObject(parent), m_seconds(kMinLoopSeconds), m_randomSource(std::move(random)) {
    m_timer.setInterval(m_seconds * 1000);
    connect(&m_timer, &QTimer::timeout, this, &Slideshow::due);
}

void Slideshow::start() {
    m_timer.start();
}

void Slideshow::stop() {
    m_timer.stop();
}

void Slideshow::setSeconds(int seconds) {
    m_seconds = std::clamp(seconds, kMinLoopSeconds, kMaxLoopSeconds);
    // QTimer restarts a running timer on a new interval: counted from the change.
    m_timer.setInterval(m_seconds * 1000);
}

std::int64_t Slideshow::pick(std::int64_t count) {
    const bool drawnEarly = m_draw.drawn();
    const std::int64_t index = m_draw.take(count);
    if (drawnEarly)
        Q_EMIT earlyPickTaken();
    return index;
}

void Slideshow::advance(std::int64_t selected, std::int64_t count) {
    if (count <= 0)
        return;
    if (m_random) {
        Q_EMIT goTo(pick(count));
        return;
    }
    if (selected == count - 1) {
        // Only a running show goes round again or ends; a step by hand stays on the last.
        if (!isRunning())
            return;
        if (m_loop) {
            Q_EMIT goTo(0);
        } else {
            Q_EMIT ended();
        }
        return;
    }
    // With nothing selected the show starts at the first picture.
    Q_EMIT goTo(selected < 0 ? 0 : selected + 1);
}

double Slideshow::drawRandom() {
    return m_randomSource ? m_randomSource() : std::generate_canonical<double, 53>(m_rng);
}

} // namespace tavlin
