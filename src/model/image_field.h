#pragma once

// Typed access to one field of an image text, shared by the controller, its sensors,
// sockets and regulations.

#include "link/encodings.h"
#include "model/tables.h"

#include <QDate>
#include <QString>
#include <QTime>

#include <limits>
#include <optional>
#include <stdexcept>

enum class FieldKind { Byte, Word, Scaled, Single, Time, Date };

template <FieldKind K> struct FieldValueOf {
    using type = int;
};
template <> struct FieldValueOf<FieldKind::Scaled> {
    using type = float;
};
template <> struct FieldValueOf<FieldKind::Single> {
    using type = float;
};
template <> struct FieldValueOf<FieldKind::Time> {
    using type = QTime;
};
template <> struct FieldValueOf<FieldKind::Date> {
    using type = QDate;
};
template <FieldKind K> using FieldValue = typename FieldValueOf<K>::type;

// Thrown by a setter whose value does not fit the field; the image is left untouched.
class FieldOverflow : public std::overflow_error
{
public:
    using std::overflow_error::overflow_error;
};

namespace field_detail
{
void checkRange(const char *what, double value, double low, double high);
}

// Every finite single the controller may hold, up to the largest, fits a single field.
inline constexpr double kLargestSingle = std::numeric_limits<float>::max();

template <FieldKind K> FieldValue<K> readField(const QString &image, int pos, int scaleType)
{
    if constexpr (K == FieldKind::Byte)
        return HexByteGet(image, pos);
    else if constexpr (K == FieldKind::Word)
        return HexWordGet(image, pos);
    else if constexpr (K == FieldKind::Scaled)
        return ScaledWordGet(image, pos, tables::scaleFactor(scaleType));
    else if constexpr (K == FieldKind::Single)
        return HexSingleGet(image, pos);
    else if constexpr (K == FieldKind::Time)
        return HexTimeGet(image, pos);
    else
        return HexDateGet(image, pos).date();
}

// Returns the image with the field replaced; throws FieldOverflow before touching anything
// when the value does not fit.
template <FieldKind K>
QString writeField(const QString &image, int pos, int scaleType, const FieldValue<K> &value)
{
    if constexpr (K == FieldKind::Byte) {
        field_detail::checkRange("byte", value, 0, 255);
        return HexBytePut(image, pos, value);
    } else if constexpr (K == FieldKind::Word) {
        field_detail::checkRange("word", value, -32768, 32767);
        return HexWordPut(image, pos, value);
    } else if constexpr (K == FieldKind::Scaled) {
        const int factor = tables::scaleFactor(scaleType);
        field_detail::checkRange("scaled value", RoundHalfEven(value * static_cast<float>(factor)),
                                 -32768, 32767);
        return ScaledWordPut(image, pos, value, factor);
    } else if constexpr (K == FieldKind::Single) {
        field_detail::checkRange("single", value, -kLargestSingle, kLargestSingle);
        return HexSinglePut(image, pos, value);
    } else if constexpr (K == FieldKind::Time) {
        if (!value.isValid())
            throw FieldOverflow("not a valid time of day");
        return HexTimePut(image, pos, value);
    } else {
        if (!value.isValid())
            throw FieldOverflow("not a valid date");
        return HexDatePut(image, pos, value);
    }
}

// Typed get and set_ accessors for one field of a record, for classes that provide
// image(), setImage() and m_base (the record's position in its image).
#define OSTRACOM_RECORD_FIELD_ACCESSORS(name, pos, kind, scale)                                    \
    FieldValue<FieldKind::kind> name() const                                                       \
    {                                                                                              \
        return readField<FieldKind::kind>(image(), m_base + (pos), scale);                         \
    }                                                                                              \
    void set_##name(const FieldValue<FieldKind::kind> &v)                                          \
    {                                                                                              \
        setImage(writeField<FieldKind::kind>(image(), m_base + (pos), scale, v));                  \
    }

// A field described at run time, for access by name.
struct FieldInfo {
    const char *name;
    int pos; // relative to the record's base
    FieldKind kind;
    int scaleType;
};

// The field's value as text a person can read and type back (decimal point '.', times
// hh:mm:ss, dates yyyy-MM-dd).
QString fieldToText(const QString &image, int base, const FieldInfo &field);
// Parses text for the field and returns the new image, or nullopt with a reason.
std::optional<QString> fieldFromText(const QString &image, int base, const FieldInfo &field,
                                     const QString &text, QString *error);
