#include "viewer/picturedraw.h"

#include <numeric>
#include <utility>

#include "decode/prefetchplan.h"

namespace tavlin {

void PictureDraw::setShuffle(bool on) {
    m_shuffle = on;
    m_nextRandom.reset();
    m_order.clear();
    m_next = 0;
}

void PictureDraw::ensureRound(std::int64_t count) {
    if (std::int64_t(m_order.size()) == count && m_next < m_order.size())
        return;
    m_order.resize(std::size_t(count));
    std::iota(m_order.begin(), m_order.end(), std::int64_t(0));
    for (std::int64_t i = count - 1; i > 0; --i)
        std::swap(m_order[std::size_t(i)], m_order[std::size_t(indexForRandom(m_random(), i + 1))]);
    if (count > 1 && m_order.front() == m_last)
        std::swap(m_order.front(), m_order.back());
    m_next = 0;
}

std::int64_t PictureDraw::peek(std::int64_t count) {
    if (m_shuffle) {
        ensureRound(count);
        return m_order[m_next];
    }
    if (!m_nextRandom)
        m_nextRandom = m_random();
    return indexForRandom(*m_nextRandom, count);
}

std::int64_t PictureDraw::take(std::int64_t count) {
    if (m_shuffle) {
        ensureRound(count);
        m_last = m_order[m_next++];
        return m_last;
    }
    const double r = m_nextRandom ? *std::exchange(m_nextRandom, std::nullopt) : m_random();
    return indexForRandom(r, count);
}

} // namespace tavlin
