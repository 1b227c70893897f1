#include "core/numeric.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace tovra;

TEST(Numeric, IsNumeric) {
    for (const char* yes : {"0", "1e3", " 12 ", "-12.5", ".5", "5.", "+3", "1E-2", "0256"})
        EXPECT_TRUE(isNumeric(QString::fromLatin1(yes))) << yes;
    for (const char* no : {"", " ", "abc", "12abc", "1e", "--1", "1.2.3", "1e999", "ID"})
        EXPECT_FALSE(isNumeric(QString::fromLatin1(no))) << no;
}

TEST(Numeric, NumericValueReadsTheLeadingNumber) {
    EXPECT_EQ(numericValue(QStringLiteral("12abc")), 12);
    EXPECT_EQ(numericValue(QStringLiteral("abc")), 0);
    EXPECT_EQ(numericValue(QStringLiteral("1e3")), 1000);
    EXPECT_EQ(numericValue(QStringLiteral(" 1 2")), 12);
    EXPECT_EQ(numericValue(QStringLiteral("-7.5x")), -7.5);
    EXPECT_EQ(numericValue(QStringLiteral("イメージ")), 0);
}

TEST(Numeric, SixteenBitConversionRoundsHalvesToEven) {
    EXPECT_EQ(toInt16(QStringLiteral("12.5")), 12);
    EXPECT_EQ(toInt16(QStringLiteral("13.5")), 14);
    EXPECT_EQ(toInt16(QStringLiteral("-2.5")), -2);
    EXPECT_EQ(toInt16(QStringLiteral("32767")), 32767);
    EXPECT_EQ(toInt16(QStringLiteral("-32768")), -32768);
    EXPECT_EQ(toInt16(QStringLiteral("32767.5")), std::nullopt); // rounds to 32768
    EXPECT_EQ(toInt16(QStringLiteral("40000")), std::nullopt);
    EXPECT_EQ(toInt16(QStringLiteral("abc")), std::nullopt);
    EXPECT_EQ(toInt16(QStringLiteral("")), std::nullopt);
    EXPECT_EQ(int16Or(QStringLiteral("x"), 5), 5);
    EXPECT_EQ(toInt32(QStringLiteral("100000")), 100000);
    EXPECT_EQ(toInt32(QStringLiteral("1e10")), std::nullopt);
}

TEST(Numeric, NumberTextIsShortest) {
    EXPECT_EQ(numberText(1000), QStringLiteral("1000"));
    EXPECT_EQ(numberText(12.5), QStringLiteral("12.5"));
    EXPECT_EQ(numberText(-3), QStringLiteral("-3"));
    EXPECT_EQ(numberText(0.1), QStringLiteral("0.1"));
    EXPECT_EQ(numberText(1e20), QStringLiteral("1e+20"));
    EXPECT_EQ(numberText(-0.0), QStringLiteral("0"));
}

TEST(Numeric, AnyTextConvertsOrFailsCleanly) {
    EXPECT_EQ(numericValue(QStringLiteral("1e-99999")), 0);
    EXPECT_TRUE(isNumeric(QStringLiteral("1e-99999")));
    EXPECT_FALSE(isNumeric(QStringLiteral("1e99999")));
    EXPECT_EQ(toInt16(QStringLiteral("-1e99999")), std::nullopt);
    std::mt19937 gen(4);
    const QString alphabet = QStringLiteral("0123456789+-.eE ,x\t\nあ");
    for (int i = 0; i < 20000; ++i) {
        QString t;
        for (int n = gen() % 12; n > 0; --n)
            t += alphabet[static_cast<int>(gen() % alphabet.size())];
        const double v = numericValue(t);
        EXPECT_TRUE(std::isfinite(v)) << t.toStdString();
        if (toInt16(t)) {
            EXPECT_TRUE(isNumeric(t)) << t.toStdString();
        }
        EXPECT_EQ(numericValue(numberText(v)), v) << t.toStdString(); // the shortest text reads back
    }
}
