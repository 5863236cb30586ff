#include "service/measurement_download.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"

#include "store/archive_spool.h"
#include "store/database.h"
#include "store/strings.h"

#include <vector>

namespace
{
// A "DO" payload: a 4-digit record count, then 24 digits per record.
constexpr int kCountChars = 4;
constexpr int kRecordChars = 24;
} // namespace

struct MeasurementDownload::ReceivedRecords {
    std::vector<ArchiveRecord> records;
    std::vector<ArchiveSpool::Reject> rejects;
};

Error MeasurementDownload::get_comp()
{
    m_report = Report{};
    const int id = m_controller.aq_id();
    // Records the database could not take last time go in first, whatever this controller
    // answers now.
    flushSpool();

    QString payload;
    Error error =
        m_controller.get_Meta_Data(QStringLiteral("DO"), QStringLiteral("Stored Data"),
                                   QStringLiteral("End Data"), QStringLiteral("CheckSum"), payload,
                                   0, ms("Datenabfrage Tarvelon ID#") + QString::number(id), false);
    if (!error.ok())
        return error;
    m_controller.setEventData(payload);
    const int announced = m_controller.Event_Count();
    if (announced < 1)
        return {};

    // Only complete records are taken; a count that promises more is reported.
    const int complete =
        std::min(announced, static_cast<int>(std::max<qsizetype>(0, payload.size() - kCountChars) /
                                             kRecordChars));
    m_report.received = complete;
    const ReceivedRecords received = readRecords(id, complete);

    // Archive first, acknowledge after: the controller forgets its records on "DL", so they
    // must be safe in the archive, the spool file or the rejects file before it is sent.
    const Stored stored = archiveRecords(received);
    // Records announced but not received stay on the controller: after "DL" it would forget
    // them too. The next download brings them again with those received now, which the
    // archive then skips.
    Error ack;
    if (stored.safe && complete == announced) {
        QString snapshot;
        ack = m_controller.get_Meta_Data(QStringLiteral("DL"), QStringLiteral("SnapshotNr Data"),
                                         QStringLiteral("End Data"), QStringLiteral("CheckSum"),
                                         snapshot, 0, QString(), true);
        // Unacknowledged records (no answer, a bad one, a program that is closing) come again
        // next time and are skipped as archived; the user still learns that they stay.
        m_report.acknowledged = ack.ok();
    }

    if (!stored.error.ok())
        error = stored.error;
    else if (!ack.ok())
        error = Error::because(ErrorCode::NotAcknowledged, ack);
    updateSensorValues(complete);
    if (complete < announced && error.ok())
        error = Error(ErrorCode::IncompleteRecords, QString::number(complete),
                      QString::number(announced));
    if (!received.rejects.empty() && error.ok())
        error = Error(ErrorCode::RecordsRejected, QString::number(received.rejects.size()),
                      m_archive ? m_archive->rejectsPath() : QString());
    return error;
}

void MeasurementDownload::flushSpool()
{
    if (!m_archive || m_archive->pending() <= 0)
        return;
    const ArchiveSpool::Result flushed = m_archive->flush();
    m_report.archived += flushed.written;
    m_report.spooled = flushed.spooled;
    m_report.databaseBusy = flushed.busy;
    m_report.spoolProblem = flushed.spoolProblem;
}

MeasurementDownload::ReceivedRecords MeasurementDownload::readRecords(int id, int complete) const
{
    const cTarvelon &t = m_controller;
    ReceivedRecords received;
    received.records.reserve(static_cast<size_t>(complete));
    for (int i = 1; i <= complete; ++i) {
        const QString problem = t.Event_Problem(i);
        if (problem.isEmpty())
            received.records.push_back(
                ArchiveRecord{t.Event_DatumText(i), t.Event_Wert(i), id, t.Event_Sensor_nr(i)});
        else
            received.rejects.push_back(ArchiveSpool::Reject{id, t.Event_RecordText(i), problem});
    }
    return received;
}

MeasurementDownload::Stored MeasurementDownload::archiveRecords(const ReceivedRecords &received)
{
    Report &report = m_report;
    if (m_archive) {
        const ArchiveSpool::Result stored = m_archive->store(received.records);
        report.archived += stored.written;
        report.spooled = stored.spooled;
        report.databaseBusy = stored.busy;
        if (!stored.spoolProblem.isEmpty())
            report.spoolProblem = stored.spoolProblem;
        Stored result{stored.safe, stored.error};
        // The rejects are kept whatever the database did. When both fail the user must hear
        // of both (a full disk refuses them together), so the two texts go out as one.
        if (const Error rejectError = m_archive->keepRejects(received.rejects); !rejectError.ok()) {
            result.safe = false;
            result.error = result.error.ok() ? rejectError
                                             : Error(ErrorCode::Other, errorText(result.error) +
                                                                           QStringLiteral("; ") +
                                                                           errorText(rejectError));
        } else {
            report.rejected = static_cast<int>(received.rejects.size());
        }
        return result;
    }
    Database *db = m_controller.database();
    if (!db)
        return {false, {}};
    try {
        report.archived += db->appendArchive(received.records, Database::SkipExisting::Yes);
    } catch (const StoreError &e) {
        report.databaseBusy = e.kind() == StoreError::Kind::Busy;
        return {false, e.error()};
    }
    // Without a data directory there is nowhere to keep unreadable records.
    return {received.rejects.empty(), {}};
}

void MeasurementDownload::updateSensorValues(int complete)
{
    cTarvelon &t = m_controller;
    for (int i = 1; i <= complete; ++i) {
        const int n = t.Event_Sensor_nr(i);
        if (n < 1 || n > cTarvelon::kSensors || !t.Event_Problem(i).isEmpty())
            continue; // archived as reported, but there is no such sensor to update
        t.Sensor(n).setDatum(t.Event_Datum(i));
        t.Sensor(n).set_CurVal(static_cast<float>(t.Event_Wert(i)));
    }
}
