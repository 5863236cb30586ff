#include "model/regelung.h"

#include "model/ctarvelon.h"
#include "model/tables.h"
#include "store/database.h"
#include "store/strings.h"

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
    }
}
