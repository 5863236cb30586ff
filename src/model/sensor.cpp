#include "model/sensor.h"

#include "model/ctarvelon.h"
#include "model/tables.h"

#include <QLocale>

QString cHydoSensor::init(cTarvelon *parent, int sensorNumber)
{
    m_parent = parent;
    m_number = sensorNumber;
    m_base = (sensorNumber - 1) * kRecordSize;
    return QString();
}

QString cHydoSensor::image() const
{
    return m_parent ? m_parent->kalibController() : QString();
}

void cHydoSensor::setImage(const QString &image)
{
    if (m_parent)
        m_parent->setKalibController(image);
}

int cHydoSensor::rawType() const
{
    return HexByteGet(image(), m_base);
}

int cHydoSensor::sensortyp() const
{
    return m_parent ? m_parent->sensorType(m_number) : rawType();
}

QString cHydoSensor::formatierter_Typ() const
{
    return tables::sensorTypeName(sensortyp());
}

QString cHydoSensor::WertFormat() const
{
    return tables::valueFormat(sensortyp());
}

QString cHydoSensor::TrendWertFormat() const
{
    return tables::trendValueFormat(sensortyp());
}

QString cHydoSensor::WertMaske() const
{
    return tables::valueMask(sensortyp());
}

int cHydoSensor::WertWidth() const
{
    return tables::valueWidth(sensortyp());
}

QString cHydoSensor::MesswertEinheit() const
{
    return tables::sensorUnit(sensortyp());
}

QString cHydoSensor::formatierter_wert() const
{
    return formatierter_wert(MesswertEinheit());
}

QString cHydoSensor::formatierter_wert(const QString &unit) const
{
    return tables::formatValue(CurVal(), WertFormat(), QLocale().decimalPoint().at(0)) +
           QLatin1Char(' ') + unit;
}
