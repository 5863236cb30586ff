#pragma once

#include "model/alarm_gate.h"
#include "model/controller_fields.h"
#include "model/image_field.h"

#include <QString>
#include <QStringList>

class cTarvelon;
class cHydoAktor;
class cHydoSensor;
class Database;

// One of the four regulations of a sensor. The set points and alarm limits are a 36-byte
// record of the program image; the two warning limits and the description exist only in
// the database (table HYDOREGELUNG).
class cHydoRegelung
{
public:
    static constexpr int kTableStart = 102;
    static constexpr int kRecordSize = 36;
    static constexpr int kSensorStride = 144; // four records per sensor

    static int recordBaseOf(int sensor, int regulation)
    {
        return kTableStart + (sensor - 1) * kSensorStride + (regulation - 1) * kRecordSize;
    }

    // Binds the object and loads its database row, creating the row (warning limits = the
    // alarm limits, description "Regelung s-r") when there is none. Database errors throw.
    QString init(Database *db, cTarvelon *parent, int sensor, int regulation);
    // Binds without a database, for working on an image alone.
    void bind(cTarvelon *parent, int sensor, int regulation);

    int sensorNumber() const { return m_sensor; }
    int regulationNumber() const { return m_regulation; }
    int recordBase() const { return m_base; }

    OSTRACOM_REGELUNG_FIELDS(OSTRACOM_RECORD_FIELD_ACCESSORS)

    int sensortyp() const;
    cHydoSensor &Sensor() const;
    // The socket this regulation drives; nullptr when DosenNr is 0 or beyond 16.
    cHydoAktor *Aktor() const;

    QString Aus_Text() const;
    QString Hoch_Text() const;
    QString runter_Text() const;
    QString SoTag_Text() const;
    QString SoNacht_Text() const;

    // Database-backed: the setters store the value here, then write it to the row.
    float SW_UntereWarnung() const { return m_lowerWarning; }
    float SW_ObereWarnung() const { return m_upperWarning; }
    QString beschreibung() const { return m_beschreibung; }
    void set_SW_UntereWarnung(float value);
    void set_SW_ObereWarnung(float value);
    void set_beschreibung(const QString &text);
    // Takes up warning limits and description stored by another program, without storing.
    void applyStoredLimits(double lowerWarning, double upperWarning, const QString &beschreibung)
    {
        m_lowerWarning = static_cast<float>(lowerWarning);
        m_upperWarning = static_cast<float>(upperWarning);
        m_beschreibung = beschreibung;
    }

    // Hysteresis, hold time and repeat interval of this regulation's notifications; stored in
    // the database like the warning limits.
    AlarmQuality alarmQuality() const { return m_gate.quality(); }
    void set_alarmQuality(const AlarmQuality &quality);
    // Reads the stored alarm quality again (changed by another program); database errors throw.
    void loadAlarmQuality();
    // Sets it without storing: it comes from the database.
    void applyAlarmQuality(const AlarmQuality &quality) { m_gate.setQuality(quality); }

    // Compares the sensor's current value with the four limits and reports every new
    // crossing and every return once, through the controller's notifier. Returns the number
    // of notifications sent. The alarm quality may hold a change back: see AlarmGate.
    int process_warning_error();
    // Builds and sends one notification; returns its status text. `kind` and `relation` are
    // German keys ("Warnung", "unterschreitet"), translated here like the rest of the text.
    QString out_event(const QString &kind, const QString &relation, const QString &limitText);
    // Status texts of the notifications of the last process_warning_error that failed.
    QStringList lastNotifyProblems;

    // Limit states: reported and not yet cleared.
    bool UntererAlarmAktiv = false;
    bool UntereWarnungAktiv = false;
    bool ObererAlarmAktiv = false;
    bool ObereWarnungAktiv = false;

private:
    enum class Column { LowerWarning, UpperWarning, Description, Quality };
    // Writes one database-backed value to this regulation's row (nothing without a database).
    void persist(Column column);
    QString image() const;
    void setImage(const QString &image);

    cTarvelon *m_parent = nullptr;
    Database *m_db = nullptr;
    int m_sensor = 0;
    int m_regulation = 0;
    int m_base = 0;
    float m_lowerWarning = 0;
    float m_upperWarning = 0;
    QString m_beschreibung;
    AlarmGate m_gate;
};
