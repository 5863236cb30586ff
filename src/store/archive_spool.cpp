#include "store/archive_spool.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// One record a line: DATUM, WERT, TARVELONID, ASID, separated by tabs. WERT is written with
// enough digits to read back the same double.
QByteArray recordLine(const ArchiveRecord &r)
{
    return (r.datum + QLatin1Char('\t') + QString::number(r.wert, 'g', 17) + QLatin1Char('\t') +
            QString::number(r.tarvelonId) + QLatin1Char('\t') + QString::number(r.asid) +
            QLatin1Char('\n'))
        .toUtf8();
}

bool parseLine(const QString &line, ArchiveRecord *r)
{
    const QStringList f = line.split(QLatin1Char('\t'));
    if (f.size() != 4)
        return false;
    bool okW = false, okI = false, okA = false;
    r->datum = f[0];
    r->wert = f[1].toDouble(&okW);
    r->tarvelonId = f[2].toInt(&okI);
    r->asid = f[3].toInt(&okA);
    return Database::isDatumText(r->datum) && okW && okI && okA;
}

QString systemError(const QString &what, const QString &path, int error)
{
    return QStringLiteral("cannot %1 %2: %3")
        .arg(what, path, QString::fromLocal8Bit(std::strerror(error)));
}

bool syncDirectoryOf(const QString &path, QString *error)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        *error = systemError(QStringLiteral("sync folder"), QString::fromLocal8Bit(dir), errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

// Replaces the file at `path` with `data`, whole or not at all: the data goes to a new file
// that is synced to disk and then renamed over the old one. A full disk or a crash leaves
// either the old file or the new one, never a torn line.
bool replaceFile(const QString &path, const QByteArray &data, QString *error)
{
    const QString temp = path + QStringLiteral(".new");
    const QByteArray tempName = QFile::encodeName(temp);
    const int fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = systemError(QStringLiteral("write"), temp, errno);
        return false;
    }
    qsizetype done = 0;
    int failure = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failure = n < 0 ? errno : ENOSPC;
            break;
        }
        done += n;
    }
    if (failure == 0 && ::fsync(fd) != 0)
        failure = errno;
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::rename(tempName.constData(), QFile::encodeName(path).constData()) != 0)
        failure = errno;
    if (failure != 0) {
        ::unlink(tempName.constData());
        *error = systemError(QStringLiteral("write"), path, failure);
        return false;
    }
    return syncDirectoryOf(path, error);
}

} // namespace

ArchiveSpool::ArchiveSpool(Database &db, const QString &dataDir)
    : m_db(db), m_path(QDir(dataDir).filePath(QString::fromLatin1(kFileName))),
      m_rejectsPath(QDir(dataDir).filePath(QString::fromLatin1(kRejectsFileName)))
{
}

std::vector<ArchiveRecord> ArchiveSpool::readSpool(QString *problem, SpoolState *state) const
{
    std::vector<ArchiveRecord> out;
    *state = SpoolState::Fine;
    QFile f(m_path);
    if (!f.exists())
        return out;
    if (!f.open(QIODevice::ReadOnly)) {
        *state = SpoolState::Unreadable;
        *problem = QStringLiteral("cannot read %1: %2; it is kept as it is")
                       .arg(m_path, f.errorString());
        return out;
    }
    const QByteArray data = f.readAll();
    int bad = 0;
    for (const QByteArray &line : data.split('\n')) {
        if (line.isEmpty())
            continue;
        ArchiveRecord r;
        if (parseLine(QString::fromUtf8(line), &r))
            out.push_back(r);
        else
            ++bad;
    }
    // Spool files are replaced whole, so a damaged line was not written by this program
    // (or the disk lost it): the whole file is set aside untouched by store().
    if (bad > 0 || (!data.isEmpty() && !data.endsWith('\n'))) {
        *state = SpoolState::Damaged;
        *problem = QStringLiteral("%1 has %2 unreadable line(s)").arg(m_path).arg(std::max(bad, 1));
    }
    return out;
}

int ArchiveSpool::writeSpool(const std::vector<ArchiveRecord> &records, QString *error)
{
    // A controller that was not acknowledged sends the same records again; the spool keeps
    // each once, so it grows with new records only.
    QSet<QByteArray> seen;
    QByteArray data;
    for (const ArchiveRecord &r : records) {
        const QByteArray line = recordLine(r);
        if (!seen.contains(line)) {
            seen.insert(line);
            data += line;
        }
    }
    return replaceFile(m_path, data, error) ? static_cast<int>(seen.size()) : -1;
}

ArchiveSpool::Result ArchiveSpool::store(const std::vector<ArchiveRecord> &records)
{
    QMutexLocker lock(&m_mutex);
    Result result;
    SpoolState state = SpoolState::Fine;
    std::vector<ArchiveRecord> all = readSpool(&result.spoolProblem, &state);
    if (state == SpoolState::Damaged) {
        // Set the damaged file aside, so that its readable records can be archived or
        // spooled anew without losing what could not be read.
        const QString aside =
            m_path + QStringLiteral(".damaged-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
        if (QFile::rename(m_path, aside)) {
            result.spoolProblem += QStringLiteral("; it was kept as %1").arg(aside);
            QString syncError;
            if (!syncDirectoryOf(aside, &syncError))
                result.spoolProblem += QStringLiteral("; ") + syncError;
            state = SpoolState::Fine;
        } else {
            result.spoolProblem += QStringLiteral("; it could not be set aside and is kept");
            state = SpoolState::Unreadable;
            all.clear();
        }
    }
    const bool readable = state == SpoolState::Fine;
    const size_t spooledBefore = all.size();
    all.insert(all.end(), records.begin(), records.end());
    if (all.empty())
        return result;
    try {
        result.written = m_db.appendArchive(all, Database::SkipExisting::Yes);
        if (spooledBefore > 0 && readable && ::unlink(QFile::encodeName(m_path).constData()) != 0 &&
            errno != ENOENT) {
            // Harmless: the rows are in the archive, and replaying them skips every one.
            result.error = systemError(QStringLiteral("remove"), m_path, errno);
        }
        return result;
    } catch (const StoreError &e) {
        result.error = e.message();
        result.busy = e.kind() == StoreError::Kind::Busy;
    }
    // The database refused: keep the new records with the spooled ones. A spool that could
    // not be read is never replaced, since that would lose what it holds.
    QString writeError;
    const int spooled = readable ? writeSpool(all, &writeError) : -1;
    if (spooled >= 0) {
        result.spooled = spooled;
    } else {
        result.safe = records.empty();
        result.spooled = static_cast<int>(spooledBefore);
        if (!writeError.isEmpty())
            result.spoolProblem +=
                (result.spoolProblem.isEmpty() ? QString() : QStringLiteral("; ")) + writeError;
    }
    return result;
}

int ArchiveSpool::pending() const
{
    QMutexLocker lock(&m_mutex);
    QString problem;
    SpoolState state = SpoolState::Fine;
    return static_cast<int>(readSpool(&problem, &state).size());
}

bool ArchiveSpool::keepRejects(const std::vector<Reject> &rejects, QString *error)
{
    if (rejects.empty())
        return true;
    QMutexLocker lock(&m_mutex);
    QByteArray data;
    QFile existing(m_rejectsPath);
    if (existing.exists()) {
        if (!existing.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(m_rejectsPath, existing.errorString());
            return false;
        }
        data = existing.readAll();
        if (!data.isEmpty() && !data.endsWith('\n'))
            data += '\n';
    }
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    for (const Reject &r : rejects) {
        QString reason = r.reason;
        reason.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        data += (now + QLatin1Char('\t') + QString::number(r.tarvelonId) + QLatin1Char('\t') +
                 r.record + QLatin1Char('\t') + reason + QLatin1Char('\n'))
                    .toUtf8();
    }
    return replaceFile(m_rejectsPath, data, error);
}
