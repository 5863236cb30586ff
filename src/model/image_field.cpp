#include "model/image_field.h"

#include <cmath>

namespace field_detail
{

void checkRange(const char *what, double value, double low, double high)
{
    if (!std::isfinite(value) || value < low || value > high) {
        throw FieldOverflow(QStringLiteral("%1 %2 is outside %3..%4")
                                .arg(QString::fromLatin1(what))
                                .arg(value)
                                .arg(low)
                                .arg(high)
                                .toStdString());
    }
}

} // namespace field_detail

QString fieldToText(const QString &image, int base, const FieldInfo &f)
{
    const int pos = base + f.pos;
    switch (f.kind) {
    case FieldKind::Byte:
        return QString::number(readField<FieldKind::Byte>(image, pos, 0));
    case FieldKind::Word:
        return QString::number(readField<FieldKind::Word>(image, pos, 0));
    case FieldKind::Scaled:
        return QString::number(readField<FieldKind::Scaled>(image, pos, f.scaleType));
    case FieldKind::Single:
        return QString::number(readField<FieldKind::Single>(image, pos, 0));
    case FieldKind::Time:
        return readField<FieldKind::Time>(image, pos, 0).toString(QStringLiteral("HH:mm:ss"));
    case FieldKind::Date:
        return readField<FieldKind::Date>(image, pos, 0).toString(Qt::ISODate);
    }
    return QString();
}

std::optional<QString> fieldFromText(const QString &image, int base, const FieldInfo &f,
                                     const QString &text, QString *error)
{
    const int pos = base + f.pos;
    const QString t = text.trimmed();
    bool ok = false;
    try {
        switch (f.kind) {
        case FieldKind::Byte:
        case FieldKind::Word: {
            const int v = t.toInt(&ok);
            if (!ok)
                break;
            return f.kind == FieldKind::Byte ? writeField<FieldKind::Byte>(image, pos, 0, v)
                                             : writeField<FieldKind::Word>(image, pos, 0, v);
        }
        case FieldKind::Scaled:
        case FieldKind::Single: {
            const double d = t.toDouble(&ok);
            if (!ok || !std::isfinite(d) || std::fabs(d) > kLargestSingle) {
                ok = false;
                break;
            }
            return f.kind == FieldKind::Scaled
                       ? writeField<FieldKind::Scaled>(image, pos, f.scaleType,
                                                       static_cast<float>(d))
                       : writeField<FieldKind::Single>(image, pos, 0, static_cast<float>(d));
        }
        case FieldKind::Time: {
            QTime v = QTime::fromString(t, QStringLiteral("H:mm:ss"));
            if (!v.isValid())
                v = QTime::fromString(t, QStringLiteral("H:mm"));
            ok = v.isValid();
            if (!ok)
                break;
            return writeField<FieldKind::Time>(image, pos, 0, v);
        }
        case FieldKind::Date: {
            const QDate v = QDate::fromString(t, Qt::ISODate);
            ok = v.isValid();
            if (!ok)
                break;
            return writeField<FieldKind::Date>(image, pos, 0, v);
        }
        }
    } catch (const FieldOverflow &e) {
        if (error)
            *error = QStringLiteral("%1=%2 does not fit the field: %3")
                         .arg(QString::fromLatin1(f.name), text, QString::fromStdString(e.what()));
        return std::nullopt;
    }
    if (error) {
        static const char *const kExpect[] = {
            "a whole number 0..255", "a whole number",   "a number", "a number",
            "a time hh:mm:ss",       "a date yyyy-mm-dd"};
        *error = QStringLiteral("%1=%2 is not %3")
                     .arg(QString::fromLatin1(f.name), text,
                          QString::fromLatin1(kExpect[static_cast<int>(f.kind)]));
    }
    return std::nullopt;
}
