#include "model/field_access.h"

#include "model/ctarvelon.h"

#include <QRegularExpression>

#include <cmath>

namespace
{

const FieldInfo kControllerFields[] = {
#define OSTRACOM_FIELD_INFO(name, pos, kind, scale) {#name, pos, FieldKind::kind, scale},
    OSTRACOM_TARVELON_FIELDS(OSTRACOM_FIELD_INFO)
#undef OSTRACOM_FIELD_INFO
};

const FieldInfo kRegulationFields[] = {
#define OSTRACOM_FIELD_INFO(name, pos, kind, scale) {#name, pos, FieldKind::kind, scale},
    OSTRACOM_REGELUNG_FIELDS(OSTRACOM_FIELD_INFO)
#undef OSTRACOM_FIELD_INFO
};

const FieldInfo *findField(const FieldInfo *begin, const FieldInfo *end, const QString &name)
{
    for (const FieldInfo *f = begin; f != end; ++f)
        if (name == QLatin1String(f->name))
            return f;
    return nullptr;
}

// "Regelung(2,1).RW_ObererAlarm" -> sensor 2, regulation 1, field name.
bool parseRegulationName(const QString &name, int *sensor, int *regulation, QString *field)
{
    static const QRegularExpression re(
        QStringLiteral(R"(^Regelung\(\s*(\d+)\s*,\s*(\d+)\s*\)\.(\w+)$)"));
    const auto m = re.match(name);
    if (!m.hasMatch())
        return false;
    *sensor = m.captured(1).toInt();
    *regulation = m.captured(2).toInt();
    *field = m.captured(3);
    return true;
}

} // namespace

QStringList controllerFieldNames()
{
    QStringList names;
    for (const FieldInfo &f : kControllerFields)
        names << QString::fromLatin1(f.name);
    names << QStringLiteral("aq_Datum_Uhrzeit") << QStringLiteral("aq_id");
    for (const FieldInfo &f : kRegulationFields)
        names << QStringLiteral("Regelung(S,R).") + QString::fromLatin1(f.name);
    names << QStringLiteral("Regelung(S,R).SW_UntereWarnung")
          << QStringLiteral("Regelung(S,R).SW_ObereWarnung")
          << QStringLiteral("Regelung(S,R).beschreibung");
    return names;
}

std::optional<QString> controllerFieldText(cTarvelon &t, const QString &name)
{
    if (const FieldInfo *f =
            findField(std::begin(kControllerFields), std::end(kControllerFields), name))
        return fieldToText(t.HydoProgramString(), 0, *f);
    if (name == QLatin1String("aq_id"))
        return QString::number(t.aq_id_raw());
    if (name == QLatin1String("aq_Datum_Uhrzeit"))
        return t.aq_Datum_Uhrzeit().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    int s = 0, r = 0;
    QString field;
    if (!parseRegulationName(name, &s, &r, &field) || s < 1 || s > cTarvelon::kSensors || r < 1 ||
        r > cTarvelon::kRegulationsPerSensor)
        return std::nullopt;
    cHydoRegelung &reg = t.Regelung(s, r);
    if (const FieldInfo *f =
            findField(std::begin(kRegulationFields), std::end(kRegulationFields), field))
        return fieldToText(t.HydoProgramString(), reg.recordBase(), *f);
    if (field == QLatin1String("SW_UntereWarnung"))
        return QString::number(reg.SW_UntereWarnung());
    if (field == QLatin1String("SW_ObereWarnung"))
        return QString::number(reg.SW_ObereWarnung());
    if (field == QLatin1String("beschreibung"))
        return reg.beschreibung();
    return std::nullopt;
}

Error setControllerField(cTarvelon &t, const QString &name, const QString &value)
{
    auto fail = [](const QString &why) { return Error(ErrorCode::Other, why); };
    // A field of the program image, written back through its text form.
    auto put = [&](int base, const FieldInfo &f) {
        QString why;
        const auto image = fieldFromText(t.HydoProgramString(), base, f, value, &why);
        if (!image)
            return fail(why);
        t.set_HydoProgramString(*image);
        return Error();
    };
    if (const FieldInfo *f =
            findField(std::begin(kControllerFields), std::end(kControllerFields), name)) {
        return put(0, *f);
    }
    if (name == QLatin1String("aq_id")) {
        bool ok = false;
        const int id = value.trimmed().toInt(&ok);
        if (!ok || id < 1 || id > 32767)
            return fail(QStringLiteral("aq_id=%1 is not an identifier 1..32767").arg(value));
        t.set_aq_id(id);
        return {};
    }
    if (name == QLatin1String("aq_Datum_Uhrzeit")) {
        const QDateTime when =
            QDateTime::fromString(value.trimmed(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!when.isValid())
            return fail(
                QStringLiteral("aq_Datum_Uhrzeit=%1 is not a time yyyy-mm-dd hh:mm:ss").arg(value));
        t.set_aq_Datum_Uhrzeit(when);
        return {};
    }
    int s = 0, r = 0;
    QString field;
    if (!parseRegulationName(name, &s, &r, &field))
        return fail(QStringLiteral("unknown field %1").arg(name));
    if (s < 1 || s > cTarvelon::kSensors || r < 1 || r > cTarvelon::kRegulationsPerSensor)
        return fail(QStringLiteral("%1: sensor must be 1..8 and regulation 1..4").arg(name));
    cHydoRegelung &reg = t.Regelung(s, r);
    if (const FieldInfo *f =
            findField(std::begin(kRegulationFields), std::end(kRegulationFields), field)) {
        return put(reg.recordBase(), *f);
    }
    if (field == QLatin1String("beschreibung")) {
        reg.set_beschreibung(value);
        return {};
    }
    if (field == QLatin1String("SW_UntereWarnung") || field == QLatin1String("SW_ObereWarnung")) {
        bool ok = false;
        const double d = value.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(d) || std::fabs(d) > kLargestSingle)
            return fail(QStringLiteral("%1=%2 is not a number").arg(name, value));
        if (field == QLatin1String("SW_UntereWarnung"))
            reg.set_SW_UntereWarnung(static_cast<float>(d));
        else
            reg.set_SW_ObereWarnung(static_cast<float>(d));
        return {};
    }
    return fail(QStringLiteral("unknown field %1").arg(name));
}
