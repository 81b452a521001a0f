// The screensaver's picks: independent draws as before, or a shuffle that shows every picture
// once before any comes back.
#include <gtest/gtest.h>
#include <random>
#include <set>

#include "viewer/picturedraw.h"

using namespace tavlin;

namespace {

std::function<double()> seeded(std::uint64_t seed) {
    auto engine = std::make_shared<std::mt19937_64>(seed);
    return [engine] { return std::generate_canonical<double, 53>(*engine); };
}

} // namespace

// Without shuffle each pick is its own draw, and a pick known early is the one taken.
TEST(PictureDraw, DrawsEachPickOnItsOwnAndKeepsTheOneDrawnEarly) {
    std::vector<double> numbers{0.0, 0.9, 0.5};
    PictureDraw draw([&numbers] {
        const double r = numbers.front();
        numbers.erase(numbers.begin());
        return r;
    });
    EXPECT_EQ(draw.take(3), 0);
    EXPECT_FALSE(draw.drawn());
    EXPECT_EQ(draw.peek(3), 2);
    EXPECT_TRUE(draw.drawn());
    EXPECT_EQ(draw.peek(3), 2) << "peeking twice draws once";
    EXPECT_EQ(draw.take(3), 2);
    EXPECT_EQ(draw.take(10), 5);
}

// Shuffled, every picture comes once a round, the rounds differ, a round never starts with the
// picture the last one ended on, and a pick seen early is the one taken.
TEST(PictureDraw, ShuffledShowsEveryPictureOnceBeforeAnyRepeats) {
    for (const std::int64_t count : {1, 2, 7, 500}) {
        SCOPED_TRACE(count);
        PictureDraw draw(seeded(std::uint64_t(count)));
        draw.setShuffle(true);
        std::vector<std::vector<std::int64_t>> rounds;
        std::int64_t last = -1;
        for (int round = 0; round < 4; ++round) {
            std::vector<std::int64_t> order;
            for (std::int64_t i = 0; i < count; ++i) {
                const std::int64_t early = draw.peek(count);
                const std::int64_t pick = draw.take(count);
                EXPECT_EQ(pick, early);
                if (i == 0 && count > 1) {
                    EXPECT_NE(pick, last) << "a round starts where the last one ended";
                }
                order.push_back(pick);
                last = pick;
            }
            EXPECT_EQ(std::set<std::int64_t>(order.begin(), order.end()).size(), std::size_t(count))
                << "round " << round << " repeats a picture";
            rounds.push_back(order);
        }
        if (count >= 7) {
            EXPECT_NE(rounds[0], rounds[1]) << "each round is drawn anew";
        }
    }

    // The folder grows (a tree still being read): a new round over all of it.
    PictureDraw draw(seeded(42));
    draw.setShuffle(true);
    draw.take(3);
    std::set<std::int64_t> seen;
    for (int i = 0; i < 10; ++i)
        seen.insert(draw.take(10));
    EXPECT_EQ(seen.size(), 10u);
}
