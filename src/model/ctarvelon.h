#pragma once

#include "link/error.h"
#include "model/aktor.h"
#include "model/controller_fields.h"
#include "model/image_field.h"
#include "model/intervall.h"
#include "model/outcome.h"
#include "model/regelung.h"
#include "model/sensor.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <utility>

class ArchiveSpool;
class Clock;
class Database;
class Notifier;
class Interaction;
class Progress;
class cHydoConnect;
struct ProtocolContext;

// One Tarvelon controller on the PC: its program image, calibration images, version data
// and last downloaded measurements, every field as a typed property, and the sub-objects
// for sensors, sockets, regulations, interval controls and flow simulation, which read and
// write their own fields in place.
//
// The object is used by one thread at a time: the link worker while an operation runs, the
// UI thread otherwise.
class cTarvelon
{
public:
    static constexpr int kProgramBytes = 2815;
    static constexpr int kCalibrationBytes = 336;
    static constexpr int kSensors = 8;
    static constexpr int kSockets = 16;
    static constexpr int kRegulationsPerSensor = 4;
    static constexpr int kIntervalControls = 32;
    static constexpr int kFlowEntries = 16;

    cTarvelon(Clock &clock, Progress &progress, Interaction &interaction);
    ~cTarvelon();
    cTarvelon(const cTarvelon &) = delete;
    cTarvelon &operator=(const cTarvelon &) = delete;

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
    // A new controller writes nothing to the database (calibration, regulation rows) until
    // its first programming was agreed and written: then adoptNew stores them.
    Error adoptNew();

    // ---- version data
    float aq_Version() const;
    int aq_SubRelease() const;
    // A version number in the locale's form with two decimals ("2.20", "2,20").
    static QString versionNumberText(float version);

    // ---- event data (stored measurement records of the last download)
    int Event_Count() const;
    int Event_Sensor_nr(int i) const;
    int Event_RegelStatus(int i) const;
    // The stored word divided by the scale factor, in double precision so that 712 is
    // archived as 7.12 and not as the nearest single.
    double Event_Wert(int i) const;
    QDateTime Event_Datum(int i) const;

    // ---- sub-objects, created on first use; indices outside the arrays throw
    cHydoSensor &Sensor(int i);
    cHydoAktor &Aktor(int i);
    cHydoRegelung &Regelung(int sensor, int regulation);
    cHydoIntervallSteuerung &IntervallSteuerung(int i);
    // Entry n (1..16) filled from its record, or nullptr for other n.
    cHydoStroemungsSimulation *aq_StroemungsSimulation(int n);

    // First of sensors 1..8 with the given display type, or nullptr (found untouched).
    cHydoSensor *First_sensor_of_type(int type, bool &found);
    int SensorAnzahl();

    // ---- display helpers
    QString MesswertEinheit(int type) const;
    QString formatierte_MesswertEinheit(int type) const;
    double HorizontaleKompression(int type) const;
    double LineareKompression(int type) const;

    // ---- link
    QString comport() const
    {
        return m_address;
    }
    bool serialLink() const
    {
        return m_serial;
    }

    bool programming_is_dirty() const
    {
        return m_program != m_programAsRead;
    }
    bool kalib_is_dirty();

    // ---- transfers; each returns its error, ok on success. Connecting asks whether to take
    // over the controller's clock; declining it stops there.
    Outcome connect(bool serial, const QString &address, const QString &setting, Database *db,
                    cHydoConnect *link);
    Error get_Version();
    Outcome get_Program();
    Error get_Kalib();
    Error put_Program();
    Error put_Kalib();
    Error check_programing(bool withoutAsking);
    Error check_kalib(bool withoutAsking);
    // Binds the sub-objects once program and calibration are read; loads each sensor's
    // newest archived value and each regulation's database row.
    Error init_instances();
    Error get_Meta_Data(const QString &command, const QString &startMarker,
                        const QString &endMarker, const QString &checksumMarker, QString &result,
                        int expectedLength, const QString &progressText, bool silent);
    Error put_Meta_Data(const QString &command, const QString &readyMarker,
                        const QString &checksumMarker, const QString &data, bool quiet);
    // Downloads the stored measurement records ("DO"), archives them, acknowledges them
    // ("DL") once they are safe, and sets each sensor's current value and its time.
    Error get_comp();
    // What the last get_comp did with the records, beyond its error.
    struct DownloadReport {
        int received = 0;          // whole records in the answer
        int archived = 0;          // rows added to the archive (records already there not counted)
        int spooled = 0;           // records waiting in the spool file
        int rejected = 0;          // records kept in the rejects file instead of the archive
        bool acknowledged = false; // "DL" sent: the controller may forget them
        bool databaseBusy = false; // the database was locked by another program
        QString spoolProblem;      // the spool file could not be read or written
    };
    const DownloadReport &lastDownload() const
    {
        return m_lastDownload;
    }
    // The controller's clock reading of record i as DATUM text, as it stands (also inside
    // the hour skipped when summer time starts).
    QString Event_DatumText(int i) const;
    // Why record i cannot be archived (fields that are no hex digits, a time or date out of
    // range), or an empty text when it can.
    QString Event_Problem(int i) const;
    // Record i as received.
    QString Event_RecordText(int i) const;

    // Where archived records go (with the spool for times the database cannot take them)
    // and where limit crossings are reported. Both may be null: nothing is archived or sent.
    void setArchive(ArchiveSpool *archive)
    {
        m_archive = archive;
    }
    void setNotifier(Notifier *notifier)
    {
        m_notifier = notifier;
    }
    Notifier *notifier() const
    {
        return m_notifier;
    }

    // Forwards the link's per-character progress to the progress display.
    void PutBufferProgress(int index, int total);

    Database *database() const
    {
        return m_db;
    }
    Clock &clock() const
    {
        return m_clock;
    }
    Progress &progress() const
    {
        return m_progress;
    }
    Interaction &interaction() const
    {
        return m_interaction;
    }

    // ---- regulation rows edited away from the link worker
    // The programming dialog edits this object on the UI thread, which must not use the
    // worker's database connection. While held, changed warning limits and descriptions are
    // only noted; writeHeldRegulations, run on the worker, ends the hold and stores them.
    void holdRegulationWrites()
    {
        m_holdRegulationWrites = true;
    }
    bool regulationWritesHeld() const
    {
        return m_holdRegulationWrites;
    }
    void noteRegulationWrite(int sensor, int regulation)
    {
        m_heldRegulations.insert({sensor, regulation});
    }
    // Returns the database's complaint (code Other) when a row could not be stored; the
    // rows not stored stay noted for the next call.
    Error writeHeldRegulations();

    // Takes up warning limits, descriptions and alarm qualities another program stored
    // meanwhile. Database errors throw; nothing is read while the dialog holds the
    // regulations, and a regulation whose edit is not yet stored keeps it.
    void refreshRegulations();

    // ---- by-name access to controller and regulation fields (ostracom-cli)
    static QStringList fieldNames();
    std::optional<QString> fieldText(const QString &name);
    // "aq_hd_ph=7.25", "Regelung(2,1).RW_ObererAlarm=27.5", "Regelung(2,1).SW_ObereWarnung=26.8".
    // Checks first and changes nothing when the name or the value does not fit.
    bool setFieldByName(const QString &name, const QString &value, QString *error);

private:
    // The records of one download: those to archive, and those kept aside as unreadable.
    struct ReceivedRecords;
    void flushSpool();
    ReceivedRecords readRecords(int id, int complete) const;
    // Archives the records and keeps the rejects; true when all are safe on this side.
    bool archiveRecords(const ReceivedRecords &received, QString *storeProblem);
    void updateSensorValues(int complete);

    Clock &m_clock;
    Progress &m_progress;
    Interaction &m_interaction;

    QString m_program;
    QString m_programAsRead;
    QString m_kalibController;
    QString m_kalibDatabase;
    QString m_versionData;
    QString m_eventData;

    bool m_serial = false;
    QString m_address;
    QString m_setting;

    std::function<bool(int)> m_idInUse;
    Database *m_db = nullptr;
    cHydoConnect *m_link = nullptr;
    ArchiveSpool *m_archive = nullptr;
    Notifier *m_notifier = nullptr;
    DownloadReport m_lastDownload;
    // Set while a new controller waits for its first programming: nothing of it is stored.
    bool m_adoptionPending = false;
    bool m_holdRegulationWrites = false;
    std::set<std::pair<int, int>> m_heldRegulations; // (sensor, regulation)

    std::array<std::unique_ptr<cHydoSensor>, kSensors + 1> m_sensors;
    std::array<std::unique_ptr<cHydoAktor>, kSockets + 1> m_sockets;
    std::array<std::array<std::unique_ptr<cHydoRegelung>, kRegulationsPerSensor + 1>, kSensors + 1>
        m_regulations;
    std::array<std::unique_ptr<cHydoIntervallSteuerung>, kIntervalControls + 1> m_intervals;
    std::array<std::unique_ptr<cHydoStroemungsSimulation>, kFlowEntries + 1> m_flow;
};
