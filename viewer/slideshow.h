#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <random>

#include "viewer/picturedraw.h"

namespace tavlin {

// The timed slideshow: waits its seconds, then says which picture comes next. In the viewer
// that is the one after the picture on show, and after the last the first again when it loops
// (or the show stops); in the screensaver it is a random pick, drawn a tick early when a
// prefetch asked for it, and with "Shuffle" every picture once before any comes back.
class Slideshow : public QObject {
    Q_OBJECT
public:
    // `random` gives uniform numbers in [0, 1); without one, a generator seeded by seed().
    explicit Slideshow(std::function<double()> random = {}, QObject* parent = nullptr);

    void start();
    void stop();
    bool isRunning() const { return m_timer.isActive(); }

    // The seconds between two pictures, from kMinLoopSeconds to kMaxLoopSeconds; a running
    // show counts the new wait from now.
    int seconds() const { return m_seconds; }
    void setSeconds(int seconds);
    // The wait in milliseconds, beyond the seconds a person can choose (a benchmark that
    // steps the show itself).
    void setIntervalMs(int ms) { m_timer.setInterval(ms); }
    int intervalMs() const { return m_timer.interval(); }

    bool loops() const { return m_loop; }
    void setLoop(bool loop) { m_loop = loop; }

    // The screensaver's way: random picks in place of the next picture.
    void setPicksAtRandom(bool random) { m_random = random; }
    bool shuffles() const { return m_draw.shuffle(); }
    void setShuffle(bool shuffle) { m_draw.setShuffle(shuffle); }
    void seed(std::uint64_t seed) { m_rng.seed(seed); }

    // A random pick among `count` pictures (count > 0), taken now.
    std::int64_t pick(std::int64_t count);
    // The pick the next tick will take among `count` pictures, drawn now if it was not yet.
    std::int64_t nextPick(std::int64_t count) { return m_draw.peek(count); }

    // One step of the show with `selected` of `count` pictures on show (-1 for none): says
    // goTo(), or after the last picture of a running show that does not loop, ended().
    void advance(std::int64_t selected, std::int64_t count);

Q_SIGNALS:
    // The wait is over: the window plays the slide sound and calls advance().
    void due();
    void goTo(std::int64_t index);
    // The show stopped itself after the last picture.
    void ended();
    // A pick drawn early was taken: the one after it can be drawn and decoded ahead now.
    void earlyPickTaken();

private:
    double drawRandom();

    QTimer m_timer;
    int m_seconds;
    bool m_loop = true;
    bool m_random = false;
    std::function<double()> m_randomSource;
    std::mt19937_64 m_rng;
    PictureDraw m_draw{[this] { return drawRandom(); }};
};

} // namespace tavlin
