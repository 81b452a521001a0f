#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace tavlin {

// The screensaver's picks among a folder's pictures: independent random draws, or, shuffled,
// every picture once in an order drawn anew each round before any comes back (and a round
// never starts with the picture the last one ended on). The next pick can be known a tick
// early, so it can be decoded ahead; the pick then taken is that one.
class PictureDraw {
public:
    // `random` gives uniform numbers in [0, 1).
    explicit PictureDraw(std::function<double()> random) : m_random(std::move(random)) {}

    // Starts a new round either way.
    void setShuffle(bool on);
    bool shuffle() const { return m_shuffle; }

    // The next pick among `count` pictures (count > 0), drawn now if it was not yet.
    std::int64_t peek(std::int64_t count);
    // Takes the next pick among `count` pictures: the one peek() gave, unless the count
    // changed meanwhile.
    std::int64_t take(std::int64_t count);
    // True when the next pick is already drawn.
    bool drawn() const { return m_shuffle ? m_next < m_order.size() : m_nextRandom.has_value(); }

private:
    void ensureRound(std::int64_t count);

    std::function<double()> m_random;
    bool m_shuffle = false;
    std::optional<double> m_nextRandom; // independent draws
    std::vector<std::int64_t> m_order;  // shuffled: this round's order
    std::size_t m_next = 0;             // shuffled: the place of the next pick in the round
    std::int64_t m_last = -1;           // shuffled: the last pick taken
};

} // namespace tavlin
