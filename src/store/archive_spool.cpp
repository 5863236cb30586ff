#include "store/archive_spool.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include <unistd.h>

namespace
{

// One record a line: DATUM, WERT, TARVELONID, ASID, separated by tabs. WERT is written with
// enough digits to read back the same double.
QString recordLine(const ArchiveRecord &r)
{
    return Database::datumText(r.datum) + QLatin1Char('\t') + QString::number(r.wert, 'g', 17) +
           QLatin1Char('\t') + QString::number(r.tarvelonId) + QLatin1Char('\t') +
           QString::number(r.asid) + QLatin1Char('\n');
}

bool parseLine(const QString &line, ArchiveRecord *r)
{
    const QStringList f = line.split(QLatin1Char('\t'));
    if (f.size() != 4)
        return false;
    bool okW = false, okI = false, okA = false;
    r->datum = Database::datumFromText(f[0]);
    r->wert = f[1].toDouble(&okW);
    r->tarvelonId = f[2].toInt(&okI);
    r->asid = f[3].toInt(&okA);
    return r->datum.isValid() && okW && okI && okA;
}

} // namespace

ArchiveSpool::ArchiveSpool(Database &db, const QString &dataDir)
    : m_db(db), m_path(QDir(dataDir).filePath(QString::fromLatin1(kFileName)))
{
}

std::vector<ArchiveRecord> ArchiveSpool::readSpool(QString *error) const
{
    std::vector<ArchiveRecord> out;
    QFile f(m_path);
    if (!f.exists())
        return out;
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1: %2").arg(m_path, f.errorString());
        return out;
    }
    QTextStream in(&f);
    while (!in.atEnd()) {
        ArchiveRecord r;
        // A line cut short by a crash while appending is the only kind that can be damaged;
        // its record was never acknowledged to the controller, which sends it again.
        if (parseLine(in.readLine(), &r))
            out.push_back(r);
    }
    return out;
}

bool ArchiveSpool::appendToSpool(const std::vector<ArchiveRecord> &records, QString *error)
{
    if (records.empty())
        return true;
    QFile f(m_path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_path, f.errorString());
        return false;
    }
    const qint64 sizeBefore = f.size();
    QByteArray data;
    for (const ArchiveRecord &r : records)
        data += recordLine(r).toUtf8();
    if (f.write(data) != data.size() || !f.flush() || ::fsync(f.handle()) != 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_path, f.errorString());
        // Leave no half record behind that would hide the next one's line start.
        f.resize(sizeBefore);
        return false;
    }
    return true;
}

ArchiveSpool::Result ArchiveSpool::store(const std::vector<ArchiveRecord> &records)
{
    QMutexLocker lock(&m_mutex);
    Result result;
    QString spoolError;
    std::vector<ArchiveRecord> all = readSpool(&spoolError);
    const size_t spooledBefore = all.size();
    all.insert(all.end(), records.begin(), records.end());
    if (all.empty())
        return result;
    try {
        m_db.appendArchive(all, Database::SkipExisting::Yes);
        result.written = static_cast<int>(all.size());
        if (spooledBefore > 0 && !QFile::remove(m_path) && QFile::exists(m_path)) {
            // Harmless: the rows are in the archive, and replaying them skips every one.
            result.error = QStringLiteral("cannot remove %1").arg(m_path);
        }
        return result;
    } catch (const StoreError &e) {
        result.error = e.message();
    }
    // The database refused: keep the new records with the spooled ones.
    QString writeError;
    if (appendToSpool(records, &writeError)) {
        result.spooled = static_cast<int>(all.size());
    } else {
        result.safe = false;
        result.spooled = static_cast<int>(spooledBefore);
        result.error += QStringLiteral("; ") + writeError;
    }
    if (!spoolError.isEmpty())
        result.error += QStringLiteral("; ") + spoolError;
    return result;
}

int ArchiveSpool::pending() const
{
    QMutexLocker lock(&m_mutex);
    QString error;
    return static_cast<int>(readSpool(&error).size());
}
