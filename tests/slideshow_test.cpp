#include <gtest/gtest.h>

#include <QSignalSpy>

#include <optional>

#include "viewer/slideshow.h"

using namespace tavlin;

namespace {

struct Step {
    std::optional<std::int64_t> goTo;
    bool ended = false;
};

Step stepOf(Slideshow& show, std::int64_t selected, std::int64_t count) {
    QSignalSpy goTo(&show, &Slideshow::goTo);
    QSignalSpy ended(&show, &Slideshow::ended);
    show.advance(selected, count);
    Step step;
    if (!goTo.isEmpty())
        step.goTo = goTo.takeFirst().at(0).value<std::int64_t>();
    step.ended = !ended.isEmpty();
    return step;
}

} // namespace

TEST(Slideshow, StepsToTheNextPictureAndRoundsOrEndsAfterTheLast) {
    const struct {
        const char* name;
        std::int64_t selected, count;
        bool running, loop;
        std::optional<std::int64_t> goTo;
        bool ended;
    } cases[] = {
        {"the next picture", 2, 5, true, true, 3, false},
        {"nothing selected: the first", -1, 5, true, true, 0, false},
        {"the last, looping: the first again", 4, 5, true, true, 0, false},
        {"the last, not looping: the show ends", 4, 5, true, false, std::nullopt, true},
        {"the last of a stopped show: stays", 4, 5, false, false, std::nullopt, false},
        {"the last of a stopped looping show: stays", 4, 5, false, true, std::nullopt, false},
        {"one picture, looping: itself again", 0, 1, true, true, 0, false},
        {"an empty folder: nothing", -1, 0, true, true, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Slideshow show;
        show.setLoop(c.loop);
        if (c.running)
            show.start();
        const Step step = stepOf(show, c.selected, c.count);
        EXPECT_EQ(step.goTo, c.goTo);
        EXPECT_EQ(step.ended, c.ended);
    }
}

TEST(Slideshow, TheScreensaverPicksAtRandomAndAPickDrawnEarlyIsTheOneTaken) {
    QList<double> randoms{0.5, 0.9, 0.1};
    Slideshow show([&randoms] { return randoms.takeFirst(); });
    show.setPicksAtRandom(true);
    show.start();
    EXPECT_EQ(stepOf(show, 0, 10).goTo, 5);
    // A prefetch asks for the next pick a tick early; the tick takes that one and says so.
    EXPECT_EQ(show.nextPick(10), 9);
    QSignalSpy early(&show, &Slideshow::earlyPickTaken);
    EXPECT_EQ(stepOf(show, 5, 10).goTo, 9);
    EXPECT_EQ(early.size(), 1);
    // The last picture does not end a random show.
    EXPECT_EQ(stepOf(show, 9, 10).goTo, 1);
    EXPECT_EQ(early.size(), 1);
}

TEST(Slideshow, SecondsStayWithinTheirRangeAndSetTheWait) {
    Slideshow show;
    for (auto [given, kept] : {std::pair{0, 1}, {-4, 1}, {7, 7}, {30, 30}, {31, 30}}) {
        show.setSeconds(given);
        EXPECT_EQ(show.seconds(), kept) << given;
        EXPECT_EQ(show.intervalMs(), kept * 1000) << given;
    }
    show.start();
    show.setSeconds(12);
    EXPECT_TRUE(show.isRunning()) << "a running show takes the new wait and runs on";
    EXPECT_EQ(show.intervalMs(), 12000);
}
