#include "link/encodings.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Encodings, BytesWordsAndBigEndianIeeeSinglesReadAndWriteInPlace)
{
    EXPECT_EQ(HexByteGet(QStringLiteral("0A1B"), 1), 27);
    EXPECT_EQ(HexBytePut(QStringLiteral("0A1B"), 0, 5), QStringLiteral("051B"));
    EXPECT_EQ(HexByteGet(QString(), 0), 0);
    EXPECT_EQ(HexByteGet(QStringLiteral("0a1b"), 0), 10) << "lower-case hex is accepted";

    EXPECT_EQ(HexWordGet(QStringLiteral("00FF"), 0), 255);
    EXPECT_EQ(HexWordGet(QStringLiteral("FF38"), 0), -200);
    EXPECT_EQ(HexWordGet(QStringLiteral("8000"), 0), -32768);
    EXPECT_EQ(HexWordGet(QStringLiteral("FFFF"), 0), -1);
    EXPECT_EQ(HexWordPut(QStringLiteral("0000"), 0, -200), QStringLiteral("FF38"));
    EXPECT_EQ(HexWordPut(QStringLiteral("AA0000BB"), 1, 0x12345), QStringLiteral("AA2345BB"))
        << "only the low 16 bits are kept and only the field's digits change";

    EXPECT_FLOAT_EQ(HexSingleGet(QStringLiteral("40400000"), 0), 3.0f);
    EXPECT_EQ(HexSinglePut(QStringLiteral("00000000"), 0, 1.0f), QStringLiteral("3F800000"));
    EXPECT_EQ(HexSinglePut(QStringLiteral("FF00000000FF"), 1, -2.5f),
              QStringLiteral("FFC0200000FF"));
}

TEST(Encodings, TimesAreSecondsSinceMidnightAndDatesModifiedJulianDays)
{
    const QString t = HexSinglePut(QStringLiteral("00000000"), 0, 3661.0f);
    EXPECT_EQ(HexTimeGet(t, 0), QTime(1, 1, 1));
    EXPECT_EQ(HexTimePut(QStringLiteral("00000000"), 0, QTime(23, 59, 59)),
              HexSinglePut(QStringLiteral("00000000"), 0, 86399.0f));
    // A fraction of a second below one half is dropped, never carried into the hour.
    EXPECT_EQ(HexTimeGet(HexSinglePut(QStringLiteral("00000000"), 0, 3599.4f), 0),
              QTime(0, 59, 59));
    // One half or more rounds up into the next hour, not back to the start of this one.
    EXPECT_EQ(HexTimeGet(HexSinglePut(QStringLiteral("00000000"), 0, 21599.75f), 0),
              QTime(6, 0, 0));
    // Garbage beyond a day wraps instead of failing.
    EXPECT_TRUE(HexTimeGet(HexSinglePut(QStringLiteral("00000000"), 0, 90000.0f), 0).isValid());
    EXPECT_EQ(HexTimeGet(QStringLiteral("7FC00000"), 0), QTime(0, 0, 0)) << "NaN reads as midnight";

    EXPECT_FLOAT_EQ(DateToMjd(QDate(1858, 11, 17)), 0.0f);
    EXPECT_FLOAT_EQ(DateToMjd(QDate(2000, 1, 1)), 51544.0f);
    EXPECT_EQ(MjdToDate(51544), QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
    const QString d = HexDatePut(QStringLiteral("00000000"), 0, QDate(2026, 12, 4));
    EXPECT_EQ(HexDateGet(d, 0).date(), QDate(2026, 12, 4));
    EXPECT_EQ(MjdToDate(0.5).time(), QTime(12, 0));
}

TEST(Encodings, ChecksumIsCharacterSumModulo256)
{
    EXPECT_EQ(Sum8(QStringLiteral("abc")), 38);
    EXPECT_EQ(Sum8(QStringLiteral("")), 0);
    EXPECT_EQ(Sum8Text(10), QStringLiteral("0A"));
    EXPECT_EQ(Sum8Text(255), QStringLiteral("FF"));
    // A payload of 256 'A's (65 each) sums to a multiple of 256.
    EXPECT_EQ(Sum8(QString(256, QLatin1Char('A'))), 0);
}

TEST(Encodings, ScaledWordsRoundHalfToEven)
{
    EXPECT_EQ(ScaledWordPut(QStringLiteral("0000"), 0, 2.25f, 10), QStringLiteral("0016")); // 22
    EXPECT_EQ(ScaledWordPut(QStringLiteral("0000"), 0, 2.75f, 10), QStringLiteral("001C")); // 28
    EXPECT_EQ(ScaledWordPut(QStringLiteral("0000"), 0, 7.25f, 100), QStringLiteral("02D5"));
    EXPECT_EQ(ScaledWordPut(QStringLiteral("0000"), 0, -2.5f, 10), QStringLiteral("FFE7"));
    EXPECT_FLOAT_EQ(ScaledWordGet(QStringLiteral("FFE7"), 0, 10), -2.5f);
    EXPECT_EQ(RoundHalfEven(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(3.4999), 3.0);
}

TEST(Encodings, FieldsPastTheEndReadZeroAndAreNotWritten)
{
    const QString shortImage = QStringLiteral("0102");
    EXPECT_EQ(HexByteGet(shortImage, 2), 0);
    EXPECT_EQ(HexWordGet(shortImage, 1), 0) << "a field half inside the text is outside";
    EXPECT_EQ(HexSingleGet(shortImage, 0), 0.0f);
    EXPECT_EQ(HexByteGet(shortImage, -1), 0);
    EXPECT_EQ(HexBytePut(shortImage, 2, 7), shortImage);
    EXPECT_EQ(HexWordPut(shortImage, 1, 7), shortImage);
    EXPECT_EQ(HexSinglePut(shortImage, 5000, 1.0f), shortImage);
    EXPECT_EQ(HexByteGet(QStringLiteral("0G"), 0), 0) << "non-hex digits read as 0";
    EXPECT_EQ(HexByteGet(QStringLiteral("012"), 1), 0) << "an odd trailing digit is no byte";
}
