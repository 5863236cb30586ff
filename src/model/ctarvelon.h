#pragma once

#include "link/error.h"
#include "model/aktor.h"
#include "model/controller_images.h"
#include "model/intervall.h"
#include "model/outcome.h"
#include "model/regelung.h"
#include "model/sensor.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <functional>
#include <memory>
#include <set>
#include <utility>

class Clock;
class Database;
class Notifier;
class Interaction;
class Progress;
class cHydoConnect;
struct ProtocolContext;

// One Tarvelon controller on the PC: its images and their fields (ControllerImages), the
// sub-objects for sensors, sockets, regulations, interval controls and flow simulation,
// which read and write their own fields in place, and the transfers that bring the images
// from the device and back over its link.
//
// The object is used by one thread at a time: the link worker while an operation runs, the
// UI thread otherwise.
class cTarvelon : public ControllerImages
{
public:
    cTarvelon(Clock &clock, Progress &progress, Interaction &interaction);
    ~cTarvelon();
    cTarvelon(const cTarvelon &) = delete;
    cTarvelon &operator=(const cTarvelon &) = delete;

    // A new controller writes nothing to the database (calibration, regulation rows) until
    // its first programming was agreed and written: then adoptNew stores them.
    Error adoptNew();

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
    QString comport() const { return m_address; }
    bool serialLink() const { return m_serial; }

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
    // Where limit crossings are reported. May be null: nothing is sent.
    void setNotifier(Notifier *notifier) { m_notifier = notifier; }
    Notifier *notifier() const { return m_notifier; }

    // Forwards the link's per-character progress to the progress display.
    void PutBufferProgress(int index, int total);

    Database *database() const { return m_db; }
    Clock &clock() const { return m_clock; }
    Progress &progress() const { return m_progress; }
    Interaction &interaction() const { return m_interaction; }

    // ---- regulation rows edited away from the link worker
    // The programming dialog edits this object on the UI thread, which must not use the
    // worker's database connection. While held, changed warning limits and descriptions are
    // only noted; writeHeldRegulations, run on the worker, ends the hold and stores them.
    void holdRegulationWrites() { m_holdRegulationWrites = true; }
    bool regulationWritesHeld() const { return m_holdRegulationWrites; }
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

private:
    Progress &m_progress;
    Interaction &m_interaction;

    bool m_serial = false;
    QString m_address;
    QString m_setting;

    Database *m_db = nullptr;
    cHydoConnect *m_link = nullptr;
    Notifier *m_notifier = nullptr;
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
