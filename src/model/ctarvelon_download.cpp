// The measurement download of one controller.

#include "model/ctarvelon.h"

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

QString cTarvelon::get_comp()
{
    m_lastArchived = 0;
    m_lastSpooled = 0;
    const int id = aq_id();

    // Records the database could not take last time go in first, whatever this controller
    // answers now.
    if (m_archive && m_archive->pending() > 0) {
        const ArchiveSpool::Result flushed = m_archive->flush();
        m_lastArchived += flushed.written;
    }

    QString payload;
    QString error = get_Meta_Data(QStringLiteral("DO"), QStringLiteral("Stored Data"),
                                  QStringLiteral("End Data"), QStringLiteral("CheckSum"), payload,
                                  0, ms("Datenabfrage Tarvelon ID#") + QString::number(id), false);
    if (!error.isEmpty())
        return error;
    m_eventData = payload;
    const int announced = Event_Count();
    if (announced < 1)
        return QString();

    // Only complete records are taken; a count that promises more is reported.
    const int complete =
        std::min(announced, static_cast<int>(std::max<qsizetype>(0, payload.size() - kCountChars) /
                                             kRecordChars));
    std::vector<ArchiveRecord> records;
    records.reserve(static_cast<size_t>(complete));
    for (int i = 1; i <= complete; ++i)
        records.push_back(ArchiveRecord{Event_Datum(i), Event_Wert(i), id, Event_Sensor_nr(i)});

    // Archive first, acknowledge after: the controller forgets its records on "DL", so they
    // must be safe in the archive (or the spool file) before it is sent.
    bool safe = true;
    if (m_archive) {
        const ArchiveSpool::Result stored = m_archive->store(records);
        m_lastArchived += stored.written;
        m_lastSpooled = stored.spooled;
        safe = stored.safe;
        if (!stored.error.isEmpty())
            error = stored.error;
    } else if (m_db) {
        try {
            m_db->appendArchive(records, Database::SkipExisting::Yes);
            m_lastArchived += complete;
        } catch (const StoreError &e) {
            error = e.message();
            safe = false;
        }
    }
    if (safe) {
        QString snapshot;
        get_Meta_Data(QStringLiteral("DL"), QStringLiteral("SnapshotNr Data"),
                      QStringLiteral("End Data"), QStringLiteral("CheckSum"), snapshot, 0,
                      QString(), true);
    }

    for (int i = 1; i <= complete; ++i) {
        const int n = Event_Sensor_nr(i);
        if (n < 1 || n > kSensors)
            continue; // archived as reported, but there is no such sensor to update
        Sensor(n).setDatum(Event_Datum(i));
        Sensor(n).set_CurVal(static_cast<float>(Event_Wert(i)));
    }

    if (complete < announced && error.isEmpty()) {
        error = ms("Unvollständige Messwerte vom Tarvelon: ") + QString::number(complete) +
                QStringLiteral(" / ") + QString::number(announced);
    }
    return error;
}
