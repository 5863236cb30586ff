#pragma once

// Field encodings of the controller's memory images. Every image (program, calibration,
// version, stored measurements) is held as text of hexadecimal digits, two per byte, and
// fields are read and written in place at 0-based byte positions. Multi-byte fields are
// big-endian. A field that does not lie wholly inside the text reads as 0 and is not
// written; a field holding characters other than hex digits reads as 0.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTime>

// Round to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double value);

int HexByteGet(const QString &text, int pos);
QString HexBytePut(const QString &text, int pos, int value);

// Signed 16-bit: FFFF reads as -1.
int HexWordGet(const QString &text, int pos);
// Keeps the low 16 bits of value.
QString HexWordPut(const QString &text, int pos, int value);

float HexSingleGet(const QString &text, int pos);
QString HexSinglePut(const QString &text, int pos, float value);

// Seconds since midnight held as a single.
QTime HexTimeGet(const QString &text, int pos);
QString HexTimePut(const QString &text, int pos, const QTime &time);

// Days since 17.11.1858 (Modified Julian Day) held as a single.
QDateTime HexDateGet(const QString &text, int pos);
QString HexDatePut(const QString &text, int pos, const QDate &date);

float DateToMjd(const QDate &date);
// 17.11.1858 00:00 plus n days; a fractional part becomes the time of day.
QDateTime MjdToDate(double days);

// 8-bit additive checksum: the sum of the character codes modulo 256.
int Sum8(QByteArrayView bytes);
int Sum8(const QByteArray &bytes);
int Sum8(const QString &text);
// Two upper-case hex digits, "0A" for 10.
QString Sum8Text(int sum);

// A scaled word: the word divided by the factor; and value times factor rounded half to
// even, as written into the word.
float ScaledWordGet(const QString &text, int pos, int factor);
QString ScaledWordPut(const QString &text, int pos, float value, int factor);
