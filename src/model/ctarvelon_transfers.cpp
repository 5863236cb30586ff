// Bringing a controller's identity, firmware version, program and calibration to the PC, and
// writing program and calibration back.

#include "link/protocol.h"
#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "model/interaction.h"
#include "store/database.h"
#include "store/strings.h"

#include <QLocale>

namespace
{

// Oldest firmware the program works with: 2.19 R24.
constexpr float kMinimumVersion = 2.19f;
constexpr int kMinimumSubRelease = 24;

constexpr int kProgramChars = 5630;
constexpr int kCalibrationChars = 672;

} // namespace

Error cTarvelon::get_Meta_Data(const QString &command, const QString &startMarker,
                               const QString &endMarker, const QString &checksumMarker,
                               QString &result, int expectedLength, const QString &progressText,
                               bool silent)
{
    if (!m_link)
        return Error(ErrorCode::NoLinkSend);
    ProtocolContext ctx{*m_link, m_clock, m_progress, LinkParams{m_serial, m_address, m_setting}};
    return ::get_Meta_Data(ctx, command, startMarker, endMarker, checksumMarker, result,
                           expectedLength, progressText, silent);
}

Error cTarvelon::put_Meta_Data(const QString &command, const QString &readyMarker,
                               const QString &checksumMarker, const QString &data, bool quiet)
{
    if (!m_link)
        return Error(ErrorCode::NoLinkSend);
    ProtocolContext ctx{*m_link, m_clock, m_progress, LinkParams{m_serial, m_address, m_setting}};
    // The link is shared by all controllers: take its progress events only for this write.
    m_link->PutBufferProgress = [this](int index, int total) { PutBufferProgress(index, total); };
    const Error error = ::put_Meta_Data(ctx, command, readyMarker, checksumMarker, data, quiet);
    m_link->PutBufferProgress = nullptr;
    return error;
}

void cTarvelon::PutBufferProgress(int index, int total)
{
    m_progress.DisplayProgress(ms("Datenübertragung zum Tarvelon"), index, total);
}

Outcome cTarvelon::connect(bool serial, const QString &address, const QString &setting,
                           Database *db, cHydoConnect *link)
{
    m_db = db;
    m_link = link;
    m_serial = serial;
    m_address = address;
    m_setting = setting;
    if (m_db)
        setIdInUse([db](int id) { return db->controllerIdInUse(id); });
    if (!m_link)
        return Error(ErrorCode::NoLinkSend);

    Outcome outcome = m_link->connect(serial, address, setting);
    if (outcome.ok())
        outcome = get_Version();
    if (outcome.ok()) {
        const float version = aq_Version();
        const int sub = aq_SubRelease();
        const bool accepted =
            version > kMinimumVersion || (version == kMinimumVersion && sub >= kMinimumSubRelease);
        if (!accepted) {
            outcome =
                Error(ErrorCode::FirmwareTooOld,
                      versionNumberText(kMinimumVersion) + QStringLiteral(" R") +
                          QString::number(kMinimumSubRelease),
                      versionNumberText(version) + QStringLiteral(" R") + QString::number(sub));
        } else {
            outcome = get_Program();
            if (outcome.ok())
                outcome = get_Kalib();
            if (outcome.ok())
                outcome = init_instances();
        }
    }
    m_link->disconnect();
    return outcome;
}

Error cTarvelon::get_Version()
{
    QString payload;
    const Error error = get_Meta_Data(QStringLiteral("DX"), QStringLiteral("Version Data"),
                                      QStringLiteral("End Data"), QStringLiteral("CheckSum"),
                                      payload, 0, QString(), true);
    if (error.ok())
        m_versionData = payload;
    return error;
}

Outcome cTarvelon::get_Program()
{
    QString payload;
    const Error error =
        get_Meta_Data(QStringLiteral("DN"), QStringLiteral("Data RAM"), QStringLiteral("End RAM"),
                      QStringLiteral("CheckSum"), payload, kProgramChars,
                      ms("Tarvelon Programmierung wird geladen"), false);
    if (!error.ok())
        return error;
    const auto answer = m_interaction.ask(
        Interaction::Question::ClockTakeover, ms("Tarvelon Uhrzeit auf PC übernehmen ?"),
        ms("Notwendige Aktion zum Fortfahren"), Interaction::Buttons::OkCancel);
    if (answer != Interaction::Answer::Ok)
        return Declined::ClockTakeover;
    set_HydoProgramString(payload);
    m_programAsRead = payload;
    return {};
}

Error cTarvelon::get_Kalib()
{
    QString payload;
    const Error error =
        get_Meta_Data(QStringLiteral("DK"), QStringLiteral("Kalib RAM"), QStringLiteral("End RAM"),
                      QStringLiteral("CheckSum"), payload, kCalibrationChars,
                      ms("Tarvelon Kalibrierdaten werden geladen"), false);
    // A failed read leaves nothing to compare: storing or settling an empty calibration would
    // later write it over the controller's real one.
    if (!error.ok())
        return error;
    m_kalibController = payload;
    const int id = aq_id();
    // A new controller is stored only once the user agreed to program it (adoptNew).
    m_adoptionPending = is_new;
    if (m_db && !m_adoptionPending) {
        if (const auto stored = m_db->calibration(id)) {
            m_kalibDatabase = *stored;
        } else {
            m_db->saveCalibration(id, m_kalibController);
            m_kalibDatabase = m_kalibController;
        }
    } else {
        m_kalibDatabase = m_kalibController;
    }
    check_kalib(false);
    return {};
}

Error cTarvelon::put_Program()
{
    return put_Meta_Data(QStringLiteral("DB"), QStringLiteral("Receive Start"),
                         QStringLiteral("CheckSum"), m_program, false);
}

Error cTarvelon::put_Kalib()
{
    return put_Meta_Data(QStringLiteral("DI"), QStringLiteral("Receive Start"),
                         QStringLiteral("CheckSum"), m_kalibController, false);
}

Error cTarvelon::check_programing(bool withoutAsking)
{
    if (!programming_is_dirty())
        return {};
    if (!withoutAsking) {
        const auto answer = m_interaction.ask(
            Interaction::Question::StartProgramming, ms("Tarvelon Programmierung starten ?"),
            ms("Tarvelon Programmierung"), Interaction::Buttons::YesNo);
        if (answer != Interaction::Answer::Yes)
            return {};
    }
    const Error error = put_Program();
    if (error.ok()) {
        // The controller now holds this program: it is what later edits are measured against.
        m_programAsRead = m_program;
        m_interaction.tell(ms("Tarvelon Programmierung erfolgreich !"),
                           QStringLiteral("Tarvelon Programmierung"),
                           Interaction::Icon::Information);
    } else {
        m_interaction.tell(ms("Fehler bei der Tarvelon Programmierung: ") + errorText(error),
                           ms("Tarvelon Programmierung"), Interaction::Icon::Warning);
    }
    return error;
}

Error cTarvelon::check_kalib(bool withoutAsking)
{
    if (!kalib_is_dirty())
        return {};
    Interaction::Answer answer = Interaction::Answer::Ok;
    if (!withoutAsking) {
        answer = m_interaction.ask(
            Interaction::Question::CalibrationDiffers,
            ms("Geänderte Kalibrierdaten auf dem Tarvelon entdeckt !\r\r"
               "Wählen Sie OK um die zuletzt gesicherten Kalibirerdaten zum Tarvelon zu "
               "übertragen,\r"
               "oder wählen sie ABBRECHEN um die geänderten Kalibrierdaten vom Tarvelon zu "
               "übernehmen."),
            ms("Tarvelon Kalibrierdaten"), Interaction::Buttons::OkCancel);
    }
    if (answer == Interaction::Answer::Ok) {
        // The database wins: its copy goes to the controller.
        m_kalibController = m_kalibDatabase;
        const Error error = put_Kalib();
        if (error.ok()) {
            m_interaction.tell(ms("Tarvelon Kalibrierdaten erfolgreich übertragen!"),
                               QStringLiteral("Tarvelon Kalibrierdaten"),
                               Interaction::Icon::Information);
        } else {
            m_interaction.tell(ms("Fehler beim Übertragen der Kalibrierdaten: ") + errorText(error),
                               ms("Tarvelon Kalibrierdaten"), Interaction::Icon::Warning);
        }
        return error;
    }
    // The controller wins: its copy is stored, nothing is sent.
    m_kalibDatabase = m_kalibController;
    if (m_db && !m_adoptionPending)
        m_db->saveCalibration(aq_id(), m_kalibController);
    return {};
}

Error cTarvelon::init_instances()
{
    const int id = aq_id();
    for (int i = 1; i <= kSockets; ++i)
        Aktor(i).init(this, i);
    for (int i = 1; i <= kSensors; ++i) {
        cHydoSensor &sensor = Sensor(i);
        sensor.init(this, i);
        // The newest archived value, when there is one. Otherwise the sensor keeps the value
        // the controller reported: a 0 would set off false alarms at the first check.
        const auto newest = m_db ? m_db->newestArchived(id, i) : std::nullopt;
        if (newest) {
            sensor.set_CurVal(static_cast<float>(newest->wert));
            sensor.setDatum(newest->datum);
        } else {
            sensor.setDatum(QDateTime::currentDateTime());
        }
    }
    // Regulations of a controller not yet adopted keep their rows in memory only.
    for (int i = 1; i <= kSensors; ++i)
        for (int j = 1; j <= kRegulationsPerSensor; ++j)
            Regelung(i, j).init(m_adoptionPending ? nullptr : m_db, this, i, j);
    for (int i = 1; i <= kIntervalControls; ++i)
        IntervallSteuerung(i).init(this, i);
    for (int i = 1; i <= kFlowEntries; ++i)
        aq_StroemungsSimulation(i);
    return {};
}

Error cTarvelon::adoptNew()
{
    if (!m_adoptionPending)
        return {};
    m_adoptionPending = false;
    if (m_db) {
        m_db->saveCalibration(aq_id(), m_kalibController);
        m_kalibDatabase = m_kalibController;
    }
    return init_instances();
}

Error cTarvelon::writeHeldRegulations()
{
    m_holdRegulationWrites = false;
    if (!m_db) {
        m_heldRegulations.clear();
        return {};
    }
    const int id = aq_id();
    while (!m_heldRegulations.empty()) {
        const auto [sensor, number] = *m_heldRegulations.begin();
        cHydoRegelung &r = Regelung(sensor, number);
        try {
            m_db->saveRegulationRow(id, sensor, number, r.SW_UntereWarnung(), r.SW_ObereWarnung(),
                                    r.beschreibung());
            // A regulation that keeps the plain behaviour needs no row of its own.
            if (!r.alarmQuality().isPlain() || m_db->alarmQuality(id, sensor, number))
                m_db->saveAlarmQuality(id, sensor, number, r.alarmQuality());
        } catch (const StoreError &e) {
            return e.error();
        }
        m_heldRegulations.erase(m_heldRegulations.begin());
    }
    return {};
}

void cTarvelon::refreshRegulations()
{
    if (!m_db || m_adoptionPending || m_holdRegulationWrites)
        return;
    const int id = aq_id();
    const auto inRange = [](int s, int r) {
        return s >= 1 && s <= kSensors && r >= 1 && r <= kRegulationsPerSensor;
    };
    std::array<std::array<AlarmQuality, kRegulationsPerSensor + 1>, kSensors + 1> stored{};
    for (const Database::AlarmQualityRow &row : m_db->alarmQualities(id))
        if (inRange(row.sensor, row.regulation))
            stored[size_t(row.sensor)][size_t(row.regulation)] = row.quality;
    std::array<std::array<std::optional<RegulationRow>, kRegulationsPerSensor + 1>, kSensors + 1>
        limits{};
    for (const Database::KeyedRegulationRow &row : m_db->regulationRows(id))
        if (inRange(row.sensor, row.regulation))
            limits[size_t(row.sensor)][size_t(row.regulation)] = row.row;
    for (int s = 1; s <= kSensors; ++s)
        for (int r = 1; r <= kRegulationsPerSensor; ++r) {
            // An edit that could not be stored yet is newer than the row.
            if (m_heldRegulations.count({s, r}))
                continue;
            cHydoRegelung &regulation = Regelung(s, r);
            regulation.applyAlarmQuality(stored[size_t(s)][size_t(r)]);
            if (const auto &row = limits[size_t(s)][size_t(r)])
                regulation.applyStoredLimits(row->lowerWarning, row->upperWarning,
                                             row->beschreibung);
        }
}
