#include "link/framing.h"

namespace
{

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<int> hexValue(QByteArrayView digits)
{
    int value = 0;
    for (char c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            return std::nullopt;
        value = value * 16 + d;
    }
    return value;
}

} // namespace

std::optional<AnswerFrame> cutAnswer(QByteArrayView buffer, QByteArrayView startMarker,
                                     QByteArrayView endMarker, QByteArrayView checksumMarker)
{
    const qsizetype start = buffer.indexOf(startMarker);
    if (start < 0)
        return std::nullopt;
    const qsizetype payloadBegin = start + startMarker.size();
    const qsizetype end = buffer.indexOf(endMarker, payloadBegin);
    if (end < 0)
        return std::nullopt;
    const qsizetype afterEnd = end + endMarker.size();
    const qsizetype check = buffer.indexOf(checksumMarker, afterEnd);
    if (check < 0 || check - afterEnd < 2)
        return std::nullopt;
    AnswerFrame frame;
    frame.payload = buffer.sliced(payloadBegin, end - payloadBegin).toByteArray();
    frame.checksum = buffer.sliced(check - 2, 2).toByteArray();
    return frame;
}

std::optional<int> hexPairValue(QByteArrayView digits)
{
    if (digits.size() != 2)
        return std::nullopt;
    return hexValue(digits);
}

std::optional<int> recordCountValue(QByteArrayView digits)
{
    if (digits.size() != 4)
        return std::nullopt;
    return hexValue(digits);
}
