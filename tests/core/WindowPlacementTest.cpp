#include <gtest/gtest.h>

#include "shell/WindowPlacement.h"

namespace {
constexpr int kW = 1920;
constexpr int kH = 1080;
const TWindowPlacement kCentred{560, 240, 800, 600, 0};
}  // namespace

TEST(WindowPlacement, EveryBranchOfRestore) {
    struct Case {
        const char* name;
        std::string key;
        std::string stored;
        TWindowPlacement expected;
    };
    const Case cases[] = {
        {"nothing stored", "MainForm", kDefaultPlacementValue, kCentred},
        {"stored and sensible", "MainForm", "412,442,801,542,0", {412, 442, 801, 542, 0}},
        {"blanks around numbers", "MainForm", " 412, 442 ,801,542,0", {412, 442, 801, 542, 0}},
        {"maximised", "MainForm", "10,10,300,200,2", {560, 240, 800, 600, 2}},
        {"minimised is kept", "MainForm", "10,10,300,200,1", {10, 10, 300, 200, 1}},
        {"left beyond the screen", "MainForm", "1921,10,300,200,0", kCentred},
        {"left at the screen edge", "MainForm", "1920,10,300,200,0", {1920, 10, 300, 200, 0}},
        {"left too far out", "MainForm", "-301,10,300,200,0", kCentred},
        {"top beyond the screen", "MainForm", "10,1081,300,200,0", kCentred},
        {"top too far out", "MainForm", "10,-201,300,200,0", kCentred},
        {"too small", "MainForm", "10,10,9,9,0", kCentred},
        {"narrow but tall is kept", "MainForm", "10,10,9,300,0", {10, 10, 9, 300, 0}},
        {"width not a number", "MainForm", "10,10,abc,300,0", {10, 10, 0, 300, 0}},
        {"size and left unparseable", "MainForm", "x,10,x,x,0", kCentred},
        {"left and top unparseable", "MainForm", "x,y,300,200,0", kCentred},
        {"fewer than five parts", "MainForm", "10,10,300,200", kCentred},
        {"empty value", "MainForm", "", kCentred},
        {"log window default", "LogForm", kDefaultPlacementValue, {560, 1080 - 150 - 64, 800, 150, 0}},
        {"input form default", "DbInputForm", kDefaultPlacementValue, {780, 360, 360, 360, 0}},
        {"field-name form default", "KoumokuSetup2Form", "junk", {780, 360, 360, 360, 0}},
        {"other windows default", "PreviewForm", "", kCentred},
        {"log window stored", "LogForm", "1,2,300,100,0", {1, 2, 300, 100, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResolveWindowPlacement(c.key, c.stored, kW, kH), c.expected) << c.name;
    }
}

TEST(WindowPlacement, CentringRoundsTowardZero) {
    // (801 - 800) / 2 = 0 and (599 - 600) / 2 = 0, not -1.
    EXPECT_EQ(ResolveWindowPlacement("MainForm", "", 801, 599), (TWindowPlacement{0, 0, 800, 600, 0}));
    // A log window on a small screen: left (700 - 800) / 2 = -50.
    EXPECT_EQ(ResolveWindowPlacement("LogForm", "", 700, 500), (TWindowPlacement{-50, 286, 800, 150, 0}));
}

TEST(WindowPlacement, PositionOnly) {
    struct Case {
        std::string stored;
        int left, top;
    };
    const Case cases[] = {
        {"100,200,5,5,2", 100, 200},  // size and state ignored, no screen check
        {"5000,-9000", 5000, -9000},
        {"x,200", 0, 200},
        {"100", 0, 0},
        {kDefaultPlacementValue, (kW - 300) / 2, (kH - 201) / 2},
    };
    for (const Case& c : cases) {
        int left = -1, top = -1;
        ResolveWindowPosition(c.stored, 300, 201, kW, kH, left, top);
        EXPECT_EQ(left, c.left) << c.stored;
        EXPECT_EQ(top, c.top) << c.stored;
    }
}

TEST(WindowPlacement, FormatIsFiveNumbers) {
    EXPECT_EQ(FormatWindowPlacement({412, 442, 801, 542, 0}), "412,442,801,542,0");
    EXPECT_EQ(FormatWindowPlacement({-8, -8, 1936, 1056, 2}), "-8,-8,1936,1056,2");
}
