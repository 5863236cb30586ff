#include "model/tables.h"

#include <gtest/gtest.h>

TEST(Tables, GroupsJoinAlternativeDisplaysOfOneQuantity)
{
    EXPECT_EQ(tables::sensorGroup(10), tables::sensorGroup(3)) << "redox mV and rH";
    EXPECT_EQ(tables::sensorGroup(13), tables::sensorGroup(2)) << "temperature C and F";
    for (int t : {5, 11, 12})
        EXPECT_EQ(tables::sensorGroup(t), tables::sensorGroup(4)) << t;
    EXPECT_NE(tables::sensorGroup(6), tables::sensorGroup(9));
}

TEST(Tables, CodesBeyondTheTablesGiveEmptyTexts)
{
    for (int code : {-1, 14, 255}) {
        EXPECT_EQ(tables::sensorTypeName(code), QString()) << code;
        EXPECT_EQ(tables::valueFormat(code), QString()) << code;
        EXPECT_EQ(tables::raiseText(code), QString()) << code;
        EXPECT_EQ(tables::offText(code), QString()) << code;
        EXPECT_EQ(tables::valueWidth(code), 0) << code;
        EXPECT_EQ(tables::scaleFactor(code), 10) << code;
        EXPECT_EQ(tables::sensorGroup(code), -1) << code;
    }
    EXPECT_EQ(tables::socketKindName(4), QString());
    EXPECT_EQ(tables::socketKindName(-3), QString());
}

TEST(Tables, ValuesAreFormattedWithPatternAndLocaleSeparator)
{
    const auto format = [](double value, const char *pattern, char separator = '.') {
        return tables::formatValue(value, QString::fromLatin1(pattern), QLatin1Char(separator));
    };
    EXPECT_EQ(format(7.1, "00.00", ','), "07,10");
    EXPECT_EQ(format(25.06, "00.0"), "25.1");
    EXPECT_EQ(format(5.0, "000"), "005");
    EXPECT_EQ(format(1013.4, "0000"), "1013");
    EXPECT_EQ(format(-1.5, "00.0"), "-01.5");
    EXPECT_EQ(format(12345, "0"), "12345");
}
