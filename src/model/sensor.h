#pragma once

#include "model/controller_fields.h"
#include "model/image_field.h"

#include <QDateTime>
#include <QString>

class cTarvelon;

// One of the eight sensor connectors. Holds no values of its own: every property is a field
// of the controller's calibration image, in the 42-byte record of this sensor.
class cHydoSensor
{
public:
    static constexpr int kRecordSize = 42;

    QString init(cTarvelon *parent, int sensorNumber);
    int sensornummer() const { return m_number; }
    int recordBase() const { return m_base; }

    OSTRACOM_SENSOR_FIELDS(OSTRACOM_RECORD_FIELD_ACCESSORS)

    // Raw type code as the controller reports it (byte 0 of the record).
    int rawType() const;
    // Display type: the raw code, remapped by the controller's display settings.
    int sensortyp() const;
    QString formatierter_Typ() const;
    QString WertFormat() const;
    QString TrendWertFormat() const;
    QString WertMaske() const;
    int WertWidth() const;
    QString MesswertEinheit() const;
    // CurVal in the display type's format, a blank, and the unit.
    QString formatierter_wert() const;
    // The same with the unit given, e.g. translated for a message.
    QString formatierter_wert(const QString &unit) const;

    // When CurVal was last set from the archive or a download.
    QDateTime datum() const { return m_datum; }
    void setDatum(const QDateTime &when) { m_datum = when; }

private:
    QString image() const;
    void setImage(const QString &image);

    cTarvelon *m_parent = nullptr;
    int m_number = 0;
    int m_base = 0;
    QDateTime m_datum;
};
