#include <gtest/gtest.h>

#include "layout/layout.h"

using namespace tavlin;

namespace {

struct StartupCase {
    const char* name;
    double width, height; // screen in twips
    double panelLeft, frameChecksTop, listArea, pathTop, pathHeight, filesTop;
    double errorLeft, errorTop, pictureTop, widthTop, sizeTop;
};

// Label heights of one line: 240 twips for the bold lines, 195 for the others.
const StartupCase startupCases[] = {
    {"1024x768", 15360, 11520, 12435, 7325, 7110, 605, 3555, 4210, 4680, 4635, 10680, 10972.5,
     11206.5},
    {"3840x2160", 57600, 32400, 54675, 28205, 27990, 605, 13995, 14650, 25800, 15075, 31560,
     31852.5, 32086.5},
    // Far beyond what 16-bit twips could hold.
    {"7680x4320", 115200, 64800, 112275, 60605, 60390, 605, 30195, 30850, 54600, 31275, 63960,
     64252.5, 64486.5},
};

} // namespace

TEST(StartupLayout, PlacesEveryComputedWidgetForTheScreen) {
    for (const StartupCase& c : startupCases) {
        SCOPED_TRACE(c.name);
        const StartupLayout l = computeStartupLayout(c.width, c.height, 240, 195);
        EXPECT_EQ(l.window, (TwipRect{0, 0, c.width, c.height}));
        EXPECT_DOUBLE_EQ(l.frameSettings.left, c.panelLeft);
        EXPECT_DOUBLE_EQ(l.frameSettings.top, 0);
        EXPECT_DOUBLE_EQ(l.frameSettings.width, 2895);
        EXPECT_DOUBLE_EQ(l.frameSettings.height, c.height);
        EXPECT_DOUBLE_EQ(l.frameChecksTop, c.frameChecksTop);
        EXPECT_DOUBLE_EQ(l.listArea, c.listArea);
        EXPECT_DOUBLE_EQ(l.myPath.top, c.pathTop);
        EXPECT_DOUBLE_EQ(l.myPath.height, c.pathHeight);
        EXPECT_DOUBLE_EQ(l.myFiles.top, c.filesTop);
        EXPECT_DOUBLE_EQ(l.myFiles.height, c.pathHeight);
        EXPECT_DOUBLE_EQ(l.myPath.left, 120);
        EXPECT_DOUBLE_EQ(l.myPath.width, 2655);
        EXPECT_DOUBLE_EQ(l.imgError.left, c.errorLeft);
        EXPECT_DOUBLE_EQ(l.imgError.top, c.errorTop);
        EXPECT_DOUBLE_EQ(l.txtPictureTop, c.pictureTop);
        EXPECT_DOUBLE_EQ(l.txtWidthTop, c.widthTop);
        EXPECT_DOUBLE_EQ(l.txtHeightTop, c.widthTop);
        EXPECT_DOUBLE_EQ(l.txtFileSizeTop, c.sizeTop);
    }
}

TEST(StartupLayout, ListsMayReachBelowTheOptionsFrame) {
    // Kept as designed: on 1024 x 768 the file list ends below the top of the options frame.
    const StartupLayout l = computeStartupLayout(15360, 11520, 240, 195);
    EXPECT_DOUBLE_EQ(l.myFiles.top + l.myFiles.height, 7765);
    EXPECT_GT(l.myFiles.top + l.myFiles.height, l.frameChecksTop);
}

namespace {

struct DisplayCase {
    const char* name;
    QSize picture;
    double screenWidth, screenHeight;
    bool stretch, center, panel;
    TwipRect expected;
};

constexpr double W = 15360, H = 11520; // 1024 x 768 at 15 twips per pixel

const DisplayCase displayCases[] = {
    // Portrait fills the height left of the panel, centred in the free width (12465).
    {"portrait, panel", {600, 800}, W, H, true, true, true, {1912.5, 0, 8640, 11520}},
    // Landscape fills the free width.
    {"landscape, panel", {800, 600}, W, H, true, true, true, {0, 1085.625, 12465, 9348.75}},
    {"landscape, no panel", {800, 600}, W, H, true, true, false, {0, 0, 15360, 11520}},
    // A square fits the height: nothing is cut off at top or bottom.
    {"square, no panel", {500, 500}, W, H, true, true, false, {1920, 0, 11520, 11520}},
    {"square, panel", {500, 500}, W, H, true, true, true, {472.5, 0, 11520, 11520}},
    // Tiny pictures are enlarged to fit when stretching.
    {"tiny, stretch", {4, 3}, W, H, true, true, false, {0, 0, 15360, 11520}},
    // Without stretching a picture keeps its own pixel size.
    {"natural size, top left", {100, 100}, W, H, false, false, true, {0, 0, 1500, 1500}},
    {"natural size, centred", {100, 100}, W, H, false, true, true, {5482.5, 5010, 1500, 1500}},
    {"larger than screen, centred", {2048, 1536}, W, H, false, true, false,
     {-7680, -5760, 30720, 23040}},
    {"stretch without centring", {800, 600}, W, H, true, false, true, {0, 0, 12465, 9348.75}},
    // An 8K screen without the panel: no 16-bit limit on the free width.
    {"8K, no panel", {6000, 4000}, 115200, 64800, true, true, false,
     {8999.999999999993, 0, 97200, 64800}},
};

} // namespace

TEST(DisplayGeometry, FitsKeepsProportionsAndCentres) {
    for (const DisplayCase& c : displayCases) {
        SCOPED_TRACE(c.name);
        DisplayOptions options;
        options.stretch = c.stretch;
        options.center = c.center;
        options.panelVisible = c.panel;
        const DisplayGeometry g =
            computeDisplayGeometry(c.picture, c.screenWidth, c.screenHeight, 15, options);
        EXPECT_DOUBLE_EQ(g.freeWidth, c.panel ? c.screenWidth - 2895 : c.screenWidth);
        EXPECT_NEAR(g.picture.left, c.expected.left, 1e-6);
        EXPECT_NEAR(g.picture.top, c.expected.top, 1e-6);
        EXPECT_NEAR(g.picture.width, c.expected.width, 1e-6);
        EXPECT_NEAR(g.picture.height, c.expected.height, 1e-6);
    }
}

TEST(InformationTexts, MatchTheOverlayFormat) {
    EXPECT_EQ(pictureNumberText(2, 12), "Picture:  3 of  12");
    EXPECT_EQ(pictureNumberText(99999, 100000), "Picture:  100000 of  100000");
    EXPECT_EQ(pictureNumberText(-1, 0), "Picture:  0 of  0");
    EXPECT_EQ(fileSizeText(48213), "File Size:  48213");
    EXPECT_EQ(fileSizeText(5'000'000'000LL), "File Size:  5000000000");
    EXPECT_EQ(widthText(800), "Width: 800");
    EXPECT_EQ(heightText(600), "Height: 600");
    EXPECT_EQ(signPadded(-4), "-4");
}
