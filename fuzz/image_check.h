#pragma once

// What the image targets check of every field they reach: it reads as 0 when it is not
// wholly in the image or holds other characters than hex digits, and writing the value read
// back through the field's putter keeps the image's length, touches no other field and
// reads the same again; a putter may refuse only a single that is no finite number, and
// then changes nothing.

#include "fuzz_check.h"
#include "model/image_field.h"

#include <QStringView>

#include <bit>
#include <cmath>
#include <type_traits>

constexpr int fieldBytes(FieldKind kind)
{
    return kind == FieldKind::Byte                                ? 1
           : kind == FieldKind::Word || kind == FieldKind::Scaled ? 2
                                                                  : 4;
}

template <class T> bool sameValue(const T &a, const T &b)
{
    if constexpr (std::is_same_v<T, float>)
        return std::bit_cast<quint32>(a) == std::bit_cast<quint32>(b);
    else
        return a == b;
}

inline bool hexDigits(QStringView text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f')))
            return false;
    }
    return true;
}

// imageOf() gives the image as the object holds it now, restore(image) puts it back.
template <FieldKind K, class ImageOf, class Restore, class Get, class Set>
void checkField(ImageOf imageOf, Restore restore, int pos, int scaleType, Get get, Set set)
{
    const QString before = imageOf();
    const FieldValue<K> value = get();
    const qsizetype from = qsizetype(pos) * 2;
    const qsizetype to = from + fieldBytes(K) * 2;
    const bool inside = to <= before.size();
    if (!inside || !hexDigits(QStringView(before).mid(from, to - from)))
        FUZZ_CHECK(sameValue(value, readField<K>(QString(), pos, scaleType)),
                   "a field not wholly there or not hex digits reads as 0");

    try {
        set(value);
    } catch (const FieldOverflow &) {
        FUZZ_CHECK(imageOf() == before, "a refused value leaves the image as it was");
        if constexpr (std::is_same_v<FieldValue<K>, float>)
            FUZZ_CHECK(!std::isfinite(value), "only a single that is no number is refused");
        else
            FUZZ_CHECK(false, "a value read is never refused");
        return;
    }
    const QString after = imageOf();
    FUZZ_CHECK(after.size() == before.size(), "a putter never changes the image's length");
    if (!inside)
        FUZZ_CHECK(after == before, "a field past the end is not written");
    else
        FUZZ_CHECK(QStringView(after).left(from) == QStringView(before).left(from) &&
                       QStringView(after).mid(to) == QStringView(before).mid(to),
                   "a putter writes its own field only");
    FUZZ_CHECK(sameValue(get(), value), "a value written back reads the same");
    restore(before);
}
