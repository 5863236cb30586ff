#include "link/encodings.h"

#include <bit>
#include <cmath>

namespace
{

const QDate kMjdEpoch(1858, 11, 17);

// Value of one hex digit, or -1.
int nibble(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

bool fieldInside(const QString &text, int pos, int bytes)
{
    return pos >= 0 && static_cast<qint64>(pos + bytes) * 2 <= text.size();
}

// The field's bytes as one unsigned number, most significant first; nullopt-like false
// when a character is not a hex digit or the field is outside the text.
bool readUnsigned(const QString &text, int pos, int bytes, quint32 *out)
{
    if (!fieldInside(text, pos, bytes))
        return false;
    quint32 v = 0;
    for (int i = 0; i < bytes * 2; ++i) {
        const int n = nibble(text.at(pos * 2 + i));
        if (n < 0)
            return false;
        v = (v << 4) | static_cast<quint32>(n);
    }
    *out = v;
    return true;
}

QString writeUnsigned(const QString &text, int pos, int bytes, quint32 value)
{
    if (!fieldInside(text, pos, bytes))
        return text;
    QString out = text;
    const QString digits = QString::number(value, 16)
                               .toUpper()
                               .rightJustified(bytes * 2, QLatin1Char('0'))
                               .right(bytes * 2);
    out.replace(pos * 2, bytes * 2, digits);
    return out;
}

} // namespace

double RoundHalfEven(double value)
{
    if (!std::isfinite(value))
        return 0.0;
    const double floor = std::floor(value);
    const double diff = value - floor;
    if (diff < 0.5)
        return floor;
    if (diff > 0.5)
        return floor + 1.0;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

int HexByteGet(const QString &text, int pos)
{
    quint32 v = 0;
    return readUnsigned(text, pos, 1, &v) ? static_cast<int>(v) : 0;
}

QString HexBytePut(const QString &text, int pos, int value)
{
    return writeUnsigned(text, pos, 1, static_cast<quint32>(value) & 0xFFu);
}

int HexWordGet(const QString &text, int pos)
{
    quint32 v = 0;
    if (!readUnsigned(text, pos, 2, &v))
        return 0;
    return static_cast<int>(static_cast<qint16>(static_cast<quint16>(v)));
}

QString HexWordPut(const QString &text, int pos, int value)
{
    return writeUnsigned(text, pos, 2, static_cast<quint32>(value) & 0xFFFFu);
}

float HexSingleGet(const QString &text, int pos)
{
    quint32 v = 0;
    if (!readUnsigned(text, pos, 4, &v))
        return 0.0f;
    return std::bit_cast<float>(v);
}

QString HexSinglePut(const QString &text, int pos, float value)
{
    return writeUnsigned(text, pos, 4, std::bit_cast<quint32>(value));
}

QTime HexTimeGet(const QString &text, int pos)
{
    const double s = HexSingleGet(text, pos);
    if (!std::isfinite(s))
        return QTime(0, 0, 0);
    // Rounded to whole seconds before it is split: 3599.6 s is 01:00:00, where hours from the
    // raw value and minutes from the rounded one would give 00:00:00. A value beyond one day
    // wraps around as a clock would.
    double inDay = std::fmod(RoundHalfEven(s), 86400.0);
    if (inDay < 0)
        inDay += 86400.0;
    const int seconds = static_cast<int>(inDay);
    return QTime(seconds / 3600, seconds / 60 % 60, seconds % 60);
}

QString HexTimePut(const QString &text, int pos, const QTime &time)
{
    const QTime t = time.isValid() ? time : QTime(0, 0, 0);
    const float seconds = static_cast<float>(t.hour() * 3600 + t.minute() * 60 + t.second());
    return HexSinglePut(text, pos, seconds);
}

QDateTime HexDateGet(const QString &text, int pos)
{
    return MjdToDate(HexSingleGet(text, pos));
}

QString HexDatePut(const QString &text, int pos, const QDate &date)
{
    return HexSinglePut(text, pos, DateToMjd(date));
}

float DateToMjd(const QDate &date)
{
    if (!date.isValid())
        return 0.0f;
    return static_cast<float>(kMjdEpoch.daysTo(date));
}

QDateTime MjdToDate(double days)
{
    // Keep the result inside the range a QDate can hold; a garbage single must not crash.
    if (!std::isfinite(days) || std::fabs(days) > 1.0e8)
        days = 0.0;
    const double whole = std::floor(days);
    const QDate date = kMjdEpoch.addDays(static_cast<qint64>(whole));
    const int secs = static_cast<int>(RoundHalfEven((days - whole) * 86400.0));
    return QDateTime(date, QTime(0, 0)).addSecs(secs);
}

int Sum8(QByteArrayView bytes)
{
    int sum = 0;
    for (const char c : bytes) {
        sum += static_cast<unsigned char>(c);
        if (sum >= 256)
            sum -= 256;
    }
    return sum;
}

int Sum8(const QByteArray &bytes)
{
    return Sum8(QByteArrayView(bytes));
}

int Sum8(const QString &text)
{
    return Sum8(QByteArrayView(text.toLatin1()));
}

QString Sum8Text(int sum)
{
    return QString::number(sum & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

float ScaledWordGet(const QString &text, int pos, int factor)
{
    return static_cast<float>(HexWordGet(text, pos)) / static_cast<float>(factor ? factor : 1);
}

QString ScaledWordPut(const QString &text, int pos, float value, int factor)
{
    // The product is formed in single precision, as the controller's values are singles.
    const float product = value * static_cast<float>(factor);
    const double rounded = RoundHalfEven(product);
    const double clamped = std::clamp(rounded, -2147483648.0, 2147483647.0);
    return HexWordPut(text, pos, static_cast<int>(clamped));
}
