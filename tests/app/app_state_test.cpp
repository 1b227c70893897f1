#include "core/app_state.h"

#include <gtest/gtest.h>

using namespace tovra;

TEST(AppState, WidthAndHeightAreNormalised) {
    AppState s;
    s.setMx(QStringLiteral("0256"));
    EXPECT_EQ(s.info().mx, QStringLiteral("256"));
    s.setMx(QStringLiteral("1e3"));
    EXPECT_EQ(s.info().mx, QStringLiteral("1000"));
    s.setMy(QStringLiteral("12a"));
    EXPECT_EQ(s.info().my, QStringLiteral("12a"));
}

TEST(AppState, NumberBoxesAndScrollBars) {
    AppState s;
    // Out of range: the bar stays, the box keeps what was typed (and the operation reads it).
    s.setCt2(QStringLiteral("300"));
    EXPECT_EQ(s.tool().vsc2, 255);
    EXPECT_EQ(s.tool().ct2, QStringLiteral("300"));
    // A bar that moves writes its value back into the box.
    s.setSegt(QStringLiteral("12.5"));
    EXPECT_EQ(s.tool().hscseg, 12);
    EXPECT_EQ(s.tool().segt, QStringLiteral("12"));
    s.setSegt(QStringLiteral("12.0"));
    EXPECT_EQ(s.tool().segt, QStringLiteral("12.0")); // the bar did not move
    s.setVsc1(40);
    EXPECT_EQ(s.tool().ct1, QStringLiteral("40"));
    s.setCt1(QStringLiteral("abc"));
    EXPECT_EQ(s.tool().vsc1, 40);
}

TEST(AppState, SlotListAndFlags) {
    AppState s;
    ASSERT_EQ(s.tool().slotList.size(), 8);
    EXPECT_EQ(s.tool().slotList[7], QStringLiteral("ID 7 empty"));
    s.setSlotInUse(9, true); // outside the table: skipped
    s.setSlotInUse(-1, true);
    EXPECT_FALSE(s.slotInUse(9));
    s.setSlotListLine(8, QStringLiteral("x"));
    EXPECT_EQ(s.tool().slotList.size(), 8);
    int changes = 0;
    QObject::connect(&s, &AppState::changed, [&] { ++changes; });
    s.setSlotInUse(3, true);
    s.setSlotInUse(3, true);
    EXPECT_EQ(changes, 1);
}
