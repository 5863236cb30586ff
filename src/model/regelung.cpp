#include "model/regelung.h"

#include "model/ctarvelon.h"
#include "model/tables.h"

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

void cHydoRegelung::persist(Column column)
{
    if (!m_db)
        return;
}
