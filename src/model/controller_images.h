#pragma once

#include "model/controller_fields.h"
#include "model/image_field.h"

#include <QDateTime>
#include <QString>

#include <functional>

class Clock;

// What a controller holds, as the PC keeps it: the program image, the calibration images
// (the controller's and the one last stored in the database), the version data and the
// measurement records of the last download, each a hex text as the device sends it, with
// every field of them as a typed property. Nothing here talks to the device or the database.
class ControllerImages
{
public:
    static constexpr int kProgramBytes = 2815;
    static constexpr int kCalibrationBytes = 336;
    static constexpr int kSensors = 8;
    static constexpr int kSockets = 16;
    static constexpr int kRegulationsPerSensor = 4;
    static constexpr int kIntervalControls = 32;
    static constexpr int kFlowEntries = 16;

    explicit ControllerImages(Clock &clock) : m_clock(clock) {}

    // ---- images
    QString HydoProgramString() const { return m_program; }
    // Raises ProgrammingStatusChange.
    void set_HydoProgramString(const QString &image);
    QString programAsRead() const { return m_programAsRead; }
    void setProgramAsRead(const QString &image) { m_programAsRead = image; }
    QString kalibController() const { return m_kalibController; }
    void setKalibController(const QString &image) { m_kalibController = image; }
    void setKalibDatabase(const QString &image) { m_kalibDatabase = image; }
    void setVersionData(const QString &data) { m_versionData = data; }
    QString eventData() const { return m_eventData; }
    void setEventData(const QString &data) { m_eventData = data; }

    // Raised on every change of the program image.
    std::function<void()> ProgrammingStatusChange;

    bool programming_is_dirty() const { return m_program != m_programAsRead; }
    // The controller's calibration differs from the database's in a sensor's slope or offset.
    bool kalib_is_dirty() const;

    // ---- controller fields of the program image
#define OSTRACOM_TARVELON_ACCESSORS(name, pos, kind, scale)                                        \
    FieldValue<FieldKind::kind> name() const                                                       \
    {                                                                                              \
        return readField<FieldKind::kind>(m_program, pos, scale);                                  \
    }                                                                                              \
    void set_##name(const FieldValue<FieldKind::kind> &v)                                          \
    {                                                                                              \
        set_HydoProgramString(writeField<FieldKind::kind>(m_program, pos, scale, v));              \
    }
    OSTRACOM_TARVELON_FIELDS(OSTRACOM_TARVELON_ACCESSORS)
#undef OSTRACOM_TARVELON_ACCESSORS

    // Controller clock: time at byte 1, date at byte 5.
    QDateTime aq_Datum_Uhrzeit() const;
    void set_aq_Datum_Uhrzeit(const QDateTime &when);

    // Controller identifier. A controller without one (word 0) gets a new identifier here,
    // 0..31999, that is not in use yet (see setIdInUse); is_new is then set.
    int aq_id();
    void set_aq_id(int id);
    // Without assigning, for display and tests.
    int aq_id_raw() const;
    // Tells aq_id which identifiers are taken already (in the database).
    void setIdInUse(std::function<bool(int)> inUse)
    {
        m_idInUse = std::move(inUse);
    }
    bool is_new = false;

    // Display type of sensor n (1..8): the calibration record's type code, remapped by the
    // program's display settings for oxygen, redox and conductivity.
    int sensorType(int n) const;

    // ---- version data
    float aq_Version() const;
    int aq_SubRelease() const;
    // A version number in the locale's form with two decimals ("2.20", "2,20").
    static QString versionNumberText(float version);

    // ---- event data (stored measurement records of the last download)
    int Event_Count() const;
    int Event_Sensor_nr(int i) const;
    int Event_RegelStatus(int i) const;
    // The stored word divided by the scale factor of its sensor's type, in double precision
    // so that 712 is archived as 7.12 and not as the nearest single.
    double Event_Wert(int i) const;
    QDateTime Event_Datum(int i) const;
    // The controller's clock reading of record i as DATUM text, as it stands (also inside
    // the hour skipped when summer time starts).
    QString Event_DatumText(int i) const;
    // Why record i cannot be archived (fields that are no hex digits, a time or date out of
    // range), or an empty text when it can.
    QString Event_Problem(int i) const;
    // Record i as received.
    QString Event_RecordText(int i) const;

protected:
    Clock &m_clock;
    QString m_program;
    QString m_programAsRead;
    QString m_kalibController;
    QString m_kalibDatabase;
    QString m_versionData;
    QString m_eventData;

private:
    std::function<bool(int)> m_idInUse;
};
