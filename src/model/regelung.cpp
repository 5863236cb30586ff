#include "model/regelung.h"

#include "link/clock.h"
#include "model/ctarvelon.h"
#include "model/notifier.h"
#include "model/tables.h"
#include "store/database.h"
#include "store/strings.h"

#include <QLocale>

void cHydoRegelung::bind(cTarvelon *parent, int sensor, int regulation)
{
    m_parent = parent;
    m_sensor = sensor;
    m_regulation = regulation;
    m_base = recordBaseOf(sensor, regulation);
}

QString cHydoRegelung::image() const
{
    return m_parent ? m_parent->HydoProgramString() : QString();
}

void cHydoRegelung::setImage(const QString &image)
{
    if (m_parent)
        m_parent->set_HydoProgramString(image);
}

int cHydoRegelung::sensortyp() const
{
    return Sensor().sensortyp();
}

cHydoSensor &cHydoRegelung::Sensor() const
{
    return m_parent->Sensor(m_sensor);
}

cHydoAktor *cHydoRegelung::Aktor() const
{
    const int n = DosenNr();
    if (n < 1 || n > cTarvelon::kSockets)
        return nullptr;
    return &m_parent->Aktor(n);
}

QString cHydoRegelung::Aus_Text() const
{
    return tables::offText(sensortyp());
}

QString cHydoRegelung::Hoch_Text() const
{
    return tables::raiseText(sensortyp());
}

QString cHydoRegelung::runter_Text() const
{
    return tables::lowerText(sensortyp());
}

QString cHydoRegelung::SoTag_Text() const
{
    return tables::dayText(sensortyp());
}

QString cHydoRegelung::SoNacht_Text() const
{
    return tables::nightText(sensortyp());
}

void cHydoRegelung::set_SW_UntereWarnung(float value)
{
    m_lowerWarning = value;
    persist(Column::LowerWarning);
}

void cHydoRegelung::set_SW_ObereWarnung(float value)
{
    m_upperWarning = value;
    persist(Column::UpperWarning);
}

void cHydoRegelung::set_beschreibung(const QString &text)
{
    m_beschreibung = text;
    persist(Column::Description);
}

QString cHydoRegelung::init(Database *db, cTarvelon *parent, int sensor, int regulation)
{
    bind(parent, sensor, regulation);
    m_db = db;
    const int id = m_parent->aq_id();
    const auto row = m_db ? m_db->regulationRow(id, sensor, regulation) : std::nullopt;
    loadAlarmQuality();
    if (row) {
        m_lowerWarning = static_cast<float>(row->lowerWarning);
        m_upperWarning = static_cast<float>(row->upperWarning);
        m_beschreibung = row->beschreibung;
        return QString();
    }
    // A regulation seen for the first time warns at its alarm limits.
    m_lowerWarning = RW_UntererAlarm();
    m_upperWarning = RW_ObererAlarm();
    m_beschreibung = ms("Regelung") + QLatin1Char(' ') + QString::number(sensor) +
                     QLatin1Char('-') + QString::number(regulation);
    if (m_db)
        m_db->saveRegulationRow(id, sensor, regulation, m_lowerWarning, m_upperWarning,
                                m_beschreibung);
    return QString();
}

void cHydoRegelung::persist(Column column)
{
    if (!m_db || !m_parent)
        return;
    if (m_parent->regulationWritesHeld()) {
        m_parent->noteRegulationWrite(m_sensor, m_regulation);
        return;
    }
    const int id = m_parent->aq_id();
    switch (column) {
    case Column::LowerWarning:
        m_db->saveRegulationLowerWarning(id, m_sensor, m_regulation, m_lowerWarning);
        break;
    case Column::UpperWarning:
        m_db->saveRegulationUpperWarning(id, m_sensor, m_regulation, m_upperWarning);
        break;
    case Column::Description:
        m_db->saveRegulationBeschreibung(id, m_sensor, m_regulation, m_beschreibung);
        break;
    case Column::Quality:
        m_db->saveAlarmQuality(id, m_sensor, m_regulation, m_gate.quality());
        break;
    }
}

void cHydoRegelung::set_alarmQuality(const AlarmQuality &quality)
{
    m_gate.setQuality(quality);
    persist(Column::Quality);
}

void cHydoRegelung::loadAlarmQuality()
{
    if (!m_db || !m_parent)
        return;
    m_gate.setQuality(
        m_db->alarmQuality(m_parent->aq_id(), m_sensor, m_regulation).value_or(AlarmQuality{}));
}

namespace
{
// A limit as the notification shows it: the single's shortest text with the locale's
// decimal separator.
QString limitText(float value)
{
    QString t = QString::number(static_cast<double>(value), 'g', 7);
    return t.replace(QLatin1Char('.'), QLocale().decimalPoint());
}

float limitValue(const QString &text)
{
    QString t = text;
    return t.replace(QLocale().decimalPoint(), QStringLiteral(".")).toFloat();
}
} // namespace

int cHydoRegelung::process_warning_error()
{
    lastNotifyProblems.clear();
    if (!m_parent)
        return 0;
    if (Regelart() == 0) {
        // A crossing must last its hold time while the regulation is on.
        m_gate.forgetPending();
        return 0;
    }
    // The limits as the notification shows them, and compared as shown.
    const QString texts[AlarmGate::kLimits] = {limitText(m_lowerWarning), limitText(m_upperWarning),
                                               limitText(RW_UntererAlarm()),
                                               limitText(RW_ObererAlarm())};
    using Side = AlarmGate::Side;
    const AlarmGate::Limits limits{{{Side::Lower, limitValue(texts[0])},
                                    {Side::Upper, limitValue(texts[1])},
                                    {Side::Lower, limitValue(texts[2])},
                                    {Side::Upper, limitValue(texts[3])}}};
    bool *const flags[AlarmGate::kLimits] = {&UntereWarnungAktiv, &ObereWarnungAktiv,
                                             &UntererAlarmAktiv, &ObererAlarmAktiv};
    AlarmGate::States states;
    for (int i = 0; i < AlarmGate::kLimits; ++i)
        states[size_t(i)] = *flags[i];
    const auto notices =
        m_gate.evaluate(m_parent->clock().nowMs(), Sensor().CurVal(), limits, states);
    for (int i = 0; i < AlarmGate::kLimits; ++i)
        *flags[i] = states[size_t(i)];

    // Warnings first, each lower limit before its upper one; every change is told once.
    for (const AlarmGate::Notice &n : notices) {
        const bool warning = n.limit < 2;
        const bool lower = limits[size_t(n.limit)].side == Side::Lower;
        const char *kind = warning ? (n.raised ? msKey("Warnung") : msKey("Entwarnung"))
                                   : (n.raised ? msKey("Alarm") : msKey("Alarmende"));
        const char *relation =
            lower ? (n.raised ? msKey("unterschreitet") : msKey("unterschreitet nicht mehr"))
                  : (n.raised ? msKey("überschreitet") : msKey("überschreitet nicht mehr"));
        const QString status =
            out_event(QString::fromUtf8(kind), QString::fromUtf8(relation), texts[n.limit]);
        if (!status.isEmpty())
            lastNotifyProblems << status;
    }
    return int(notices.size());
}

QString cHydoRegelung::out_event(const QString &kind, const QString &relation,
                                 const QString &limitText)
{
    // Every fixed piece goes through the language table, so the mail reads wholly in the
    // selected language; the description is the user's own text.
    cHydoSensor &sensor = Sensor();
    const QString translatedKind = ms(kind);
    const QString unit = ms(sensor.MesswertEinheit());
    const QString subject = ms("Ostracom---") + translatedKind;
    const QString body =
        translatedKind + QLatin1Char(' ') + ms("von Regelung") + QLatin1Char(' ') + m_beschreibung +
        ms(" des Tarvelon #") + QString::number(m_parent->aq_id()) + QStringLiteral(" , ") +
        ms(sensor.formatierter_Typ()) + QLatin1Char('-') + ms("Sensor an Anschluss ") +
        QLatin1Char(' ') + QString::number(m_sensor) + QStringLiteral(" (") +
        sensor.formatierter_wert(unit) + QStringLiteral(") ") + ms(relation) + QLatin1Char(' ') +
        ms("die Grenze von") + QLatin1Char(' ') + limitText + unit;
    Notifier *notifier = m_parent->notifier();
    return notifier ? notifier->notify(subject, body) : QString();
}
