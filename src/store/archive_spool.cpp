#include "store/archive_spool.h"

#include "store/private_file.h"
#include "store/strings.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const QByteArray kHeader = QByteArrayLiteral("ostracom archive spool ");
const QByteArray kVersion = QByteArrayLiteral("2");
const QByteArray kFrameMark = QByteArrayLiteral("#\t");
// Records replayed in the first transaction of a store; each one that goes through lets the
// next grow, up to the last. A database that still refuses costs one small attempt, not the
// backlog.
constexpr size_t kFirstReplay = 64;
constexpr size_t kLastReplay = 8192;

// One record a line: DATUM, WERT, TARVELONID, ASID, separated by tabs. WERT is written with
// enough digits to read back the same double.
QByteArray recordLine(const ArchiveRecord &r)
{
    return (r.datum + QLatin1Char('\t') + QString::number(r.wert, 'g', 17) + QLatin1Char('\t') +
            QString::number(r.tarvelonId) + QLatin1Char('\t') + QString::number(r.asid) +
            QLatin1Char('\n'))
        .toUtf8();
}

bool parseLine(const QByteArray &line, ArchiveRecord *r)
{
    const QList<QByteArray> f = (line.endsWith('\n') ? line.chopped(1) : line).split('\t');
    if (f.size() != 4)
        return false;
    bool okW = false, okI = false, okA = false;
    r->datum = QString::fromLatin1(f[0]);
    r->wert = f[1].toDouble(&okW);
    r->tarvelonId = f[2].toInt(&okI);
    r->asid = f[3].toInt(&okA);
    return Database::isDatumText(r->datum) && okW && okI && okA;
}

QByteArray checksum(const QByteArray &lines)
{
    return QCryptographicHash::hash(lines, QCryptographicHash::Sha256).left(8).toHex();
}

// A field of the rejects file or the spool header on one line: backslash, tab, newline and
// carriage return are written as \\, \t, \n and \r.
QString escaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\'))
            out += QLatin1String("\\\\");
        else if (c == QLatin1Char('\t'))
            out += QLatin1String("\\t");
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            out += QLatin1String("\\r");
        else
            out += c;
    }
    return out;
}

QString unescaped(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar e = text.at(++i);
        out += e == QLatin1Char('t')   ? QChar('\t')
               : e == QLatin1Char('n') ? QChar('\n')
               : e == QLatin1Char('r') ? QChar('\r')
                                       : e;
    }
    return out;
}

using private_file::problem;

// "cannot WHAT PATH: the system's reason", as the data folder's problems are told.
Error fileError(const char *what, const QString &path, int error)
{
    Error e(ErrorCode::FileFailed, path, QString::fromLocal8Bit(std::strerror(error)));
    e.what = QStringLiteral("cannot ") + QLatin1String(what);
    return e;
}

// The data folder's whole-file replacement.
Error replaceFile(const QString &path, const QByteArray &data)
{
    const private_file::Failure f = private_file::replace(path, data);
    if (!f)
        return {};
    return f.folderSync ? fileError("sync folder", QFileInfo(path).absolutePath(), f.error)
                        : fileError("write", path, f.error);
}

qint64 mtimeNs(const struct stat &s)
{
    return static_cast<qint64>(s.st_mtim.tv_sec) * 1000000000 + s.st_mtim.tv_nsec;
}

bool sameDatabase(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    if (a.startsWith(QLatin1String("postgresql://")) ||
        b.startsWith(QLatin1String("postgresql://")))
        return false;
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

} // namespace

ArchiveSpool::ArchiveSpool(Database &db, const QString &dataDir)
    : m_db(db), m_path(QDir(dataDir).filePath(QString::fromLatin1(kFileName))),
      m_rejectsPath(QDir(dataDir).filePath(QString::fromLatin1(kRejectsFileName))),
      m_database(databaseName(db.location()))
{
}

QString ArchiveSpool::databaseName(const QString &location)
{
    if (!location.startsWith(QLatin1String("postgresql://"), Qt::CaseInsensitive))
        return QFileInfo(location).absoluteFilePath();
    const QUrl url(location);
    // A socket folder given as an option stands in for the host.
    const QString socket = QUrlQuery(url).queryItemValue(QStringLiteral("host"));
    const QString user = url.userName();
    return QStringLiteral("postgresql://") +
           (user.isEmpty() ? QString() : user + QLatin1Char('@')) +
           (socket.isEmpty() ? url.host() : socket) + QLatin1Char(':') +
           QString::number(url.port(5432)) + url.path();
}

QString ArchiveSpool::problemText(Problem problem, const QStringList &details)
{
    const auto at = [&](int i) { return details.value(i); };
    switch (problem) {
    case Problem::None:
        return {};
    case Problem::Unreadable:
        return QStringLiteral("cannot read %1: %2; it is kept as it is").arg(at(0), at(1));
    case Problem::Damaged:
        return QStringLiteral("%1 is damaged (%2); ").arg(at(0), at(2)) +
               (at(1).isEmpty() ? QStringLiteral("it could not be set aside and is kept")
                                : QStringLiteral("it was kept as %1").arg(at(1)));
    case Problem::WriteFailed:
        return at(1);
    case Problem::ForeignDatabase:
        return ms("Der Zwischenspeicher ") + at(0) + ms(" gehört zur Datenbank ") + at(1) +
               ms(", nicht zu ") + at(2) + ms(". Starten Sie mit --db ") + at(1) +
               ms(" oder verschieben Sie die Datei. Bis dahin behält der Tarvelon Messwerte, "
                  "die die Datenbank nicht annimmt.");
    }
    return details.join(QLatin1Char(' '));
}

void ArchiveSpool::note(Result &result, Problem problem, const QStringList &details) const
{
    if (result.problem == Problem::None) {
        result.problem = problem;
        result.problemDetails = details;
    }
    const QString text = problemText(problem, details);
    result.spoolProblem +=
        (result.spoolProblem.isEmpty() ? QString() : QStringLiteral("; ")) + text;
}

// ---------------------------------------------------------------------------------------
// Reading

void ArchiveSpool::forgetFile() const
{
    m_cache = Cache{};
    m_cache.loaded = true;
}

// Takes the file's identity as it is now, so the cache is trusted until something else
// changes it.
bool ArchiveSpool::rememberFile() const
{
    struct stat s {
    };
    if (::lstat(QFile::encodeName(m_path).constData(), &s) != 0) {
        m_cache.exists = false;
        return errno == ENOENT;
    }
    m_cache.exists = true;
    m_cache.dev = s.st_dev;
    m_cache.ino = s.st_ino;
    m_cache.size = s.st_size;
    m_cache.mtimeNs = mtimeNs(s);
    return true;
}

void ArchiveSpool::load() const
{
    struct stat s {
    };
    const bool exists = ::lstat(QFile::encodeName(m_path).constData(), &s) == 0;
    if (m_cache.loaded && (m_cache.state == State::Fine || m_cache.state == State::Foreign)) {
        if (!exists && !m_cache.exists)
            return; // nothing on disk; records set aside from a damaged file may be waiting
        if (exists && m_cache.exists && s.st_dev == m_cache.dev && s.st_ino == m_cache.ino &&
            s.st_size == m_cache.size && mtimeNs(s) == m_cache.mtimeNs)
            return;
    }
    forgetFile();
    if (!exists)
        return;
    QByteArray data;
    struct stat read {
    };
    if (const int error = private_file::read(m_path, &data, -1, &read)) {
        m_cache.state = State::Unreadable;
        m_cache.reason = error == ELOOP    ? QStringLiteral("it is a symbolic link")
                         : error == EINVAL ? QStringLiteral("it is not a plain file")
                                           : QString::fromLocal8Bit(std::strerror(error));
        m_cache.loaded = false; // looked at again next time
        return;
    }
    m_cache.exists = true;
    m_cache.dev = read.st_dev;
    m_cache.ino = read.st_ino;
    m_cache.size = read.st_size;
    m_cache.mtimeNs = mtimeNs(read);
    readFile(data);
}

void ArchiveSpool::readFile(const QByteArray &data) const
{
    Cache &c = m_cache;
    Contents read = readContents(data);
    if (!read.known) {
        c.state = State::Unreadable;
        c.reason = read.problem;
        c.loaded = false;
        return;
    }
    c.form = read.form;
    c.database = read.database;
    c.goodEnd = read.goodEnd;
    c.lines = std::move(read.lines);
    c.keys = QSet<QByteArray>(c.lines.begin(), c.lines.end());
    if (c.form == Form::Journal && !sameDatabase(c.database, m_database)) {
        c.state = State::Foreign;
    } else if (!read.problem.isEmpty()) {
        c.state = State::Damaged;
        c.reason = read.problem;
    }
}

namespace
{

// Each line once, in the order first met.
struct UniqueLines {
    std::vector<QByteArray> &lines;
    QSet<QByteArray> seen;
    void keep(const QByteArray &line)
    {
        if (!seen.contains(line)) {
            seen.insert(line);
            lines.push_back(line);
        }
    }
};

// The older form: record lines alone, the file replaced whole at every write, so a line that
// does not read was not written by this program.
void readOldForm(const QByteArray &data, std::vector<QByteArray> &kept, QString *problem)
{
    UniqueLines unique{kept, {}};
    int bad = 0;
    const QList<QByteArray> lines = data.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        // A last line without its line end was cut, perhaps within a field.
        ArchiveRecord r;
        if (i + 1 < lines.size() && parseLine(lines[i], &r))
            unique.keep(lines[i] + '\n');
        else
            ++bad;
    }
    if (bad > 0 || (!data.isEmpty() && !data.endsWith('\n')))
        *problem = QStringLiteral("%1 unreadable line(s)").arg(std::max(bad, 1));
}

// A frame's record lines when its checksum and every line are sound; nothing otherwise.
std::optional<std::vector<QByteArray>> frameLines(const QByteArray &body, const QByteArray &sum)
{
    if (checksum(body) != sum)
        return std::nullopt;
    std::vector<QByteArray> lines;
    for (qsizetype at = 0; at < body.size();) {
        const qsizetype nl = body.indexOf('\n', at);
        const QByteArray line = body.mid(at, nl + 1 - at);
        ArchiveRecord r;
        if (!parseLine(line, &r))
            return std::nullopt;
        lines.push_back(line);
        at = nl + 1;
    }
    return lines;
}

} // namespace

ArchiveSpool::Contents ArchiveSpool::readContents(const QByteArray &data)
{
    Contents c;
    if (!data.startsWith(kHeader)) {
        c.form = Form::Old;
        readOldForm(data, c.lines, &c.problem);
        return c;
    }
    UniqueLines unique{c.lines, {}};
    qsizetype pos = data.indexOf('\n');
    const QList<QByteArray> head = data.left(pos).mid(kHeader.size()).split('\t');
    if (pos < 0 || head.size() != 2 || head[0] != kVersion) {
        // A newer program's spool, or a header cut short: never replaced, never replayed.
        c.known = false;
        c.problem = QStringLiteral("it is of a form this program does not know");
        return c;
    }
    c.form = Form::Journal;
    c.database = unescaped(QString::fromUtf8(head[1]));
    ++pos;
    c.goodEnd = pos;
    int badFrames = 0;
    while (pos < data.size()) {
        const qsizetype eol = data.indexOf('\n', pos);
        if (eol < 0)
            break; // torn tail
        const QByteArray mark = data.mid(pos, eol - pos);
        const QList<QByteArray> f = mark.split('\t');
        bool ok = false;
        const qlonglong count = f.size() == 3 && f[0] == "#" ? f[1].toLongLong(&ok) : -1;
        if (!ok || count < 0) {
            ++badFrames; // a stray line: on to the next frame
            pos = eol + 1;
            continue;
        }
        qsizetype end = eol + 1;
        qlonglong got = 0;
        while (got < count) {
            const qsizetype next = data.indexOf('\n', end);
            if (next < 0)
                break;
            end = next + 1;
            ++got;
        }
        if (got < count) {
            if (data.indexOf("\n#\t", eol) < 0)
                break; // the last append never finished: torn tail
            // A frame follows, so this is no unfinished append but a damaged mark.
            ++badFrames;
            pos = eol + 1;
            continue;
        }
        const auto lines = frameLines(data.mid(eol + 1, end - eol - 1), f[2]);
        if (!lines) {
            // Whole but wrong: not what this program wrote. Its records are not trusted, and
            // the search for the next frame starts right after its mark.
            ++badFrames;
            pos = eol + 1;
            continue;
        }
        for (const QByteArray &l : *lines)
            unique.keep(l);
        pos = end;
        if (badFrames == 0)
            c.goodEnd = end;
    }
    if (badFrames > 0)
        c.problem = QStringLiteral("%1 unreadable part(s)").arg(badFrames);
    return c;
}

int ArchiveSpool::pending() const
{
    QMutexLocker lock(&m_mutex);
    load();
    if (m_cache.state == State::Unreadable)
        return 0;
    return static_cast<int>(m_cache.lines.size() - m_cache.replayed);
}

// ---------------------------------------------------------------------------------------
// Writing

Error ArchiveSpool::appendFrame(const QByteArray &frame)
{
    Cache &c = m_cache;
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat s {
    };
    int failure = fd < 0 ? errno : ::fstat(fd, &s) != 0 ? errno : 0;
    if (failure == 0 && (s.st_dev != c.dev || s.st_ino != c.ino))
        failure = ESTALE; // replaced behind this program's back since it was read
    const bool ours = failure == 0;
    // An append that never finished is cut off first, so that the new frame follows the
    // last whole one.
    if (ours && s.st_size != c.goodEnd && ::ftruncate(fd, c.goodEnd) != 0)
        failure = errno;
    if (failure == 0)
        failure = private_file::writeAt(fd, frame, c.goodEnd);
    if (failure == 0 && ::fdatasync(fd) != 0)
        failure = errno;
    if (failure != 0 && ours) {
        // Whatever part of the frame made it is an incomplete frame, which reads as nothing;
        // cutting it off keeps the file as it was.
        if (::ftruncate(fd, c.goodEnd) == 0)
            ::fdatasync(fd);
    }
    if (fd >= 0)
        ::close(fd);
    if (failure != 0) {
        c.loaded = false;
        return fileError("write", m_path, failure);
    }
    c.goodEnd += frame.size();
    rememberFile();
    return {};
}

// A new spool file holding what waits and the fresh lines, in place of the old one.
Error ArchiveSpool::rewrite(const std::vector<QByteArray> &fresh)
{
    Cache &c = m_cache;
    std::vector<QByteArray> lines(c.lines.begin() + static_cast<std::ptrdiff_t>(c.replayed),
                                  c.lines.end());
    lines.insert(lines.end(), fresh.begin(), fresh.end());
    const QByteArray data = journalText(m_database, lines);
    if (Error failed = replaceFile(m_path, data); !failed.ok())
        return failed;
    c.lines = std::move(lines);
    c.keys = QSet<QByteArray>(c.lines.begin(), c.lines.end());
    c.replayed = 0;
    c.form = Form::Journal;
    c.database = m_database;
    c.goodEnd = data.size();
    c.state = State::Fine;
    if (!rememberFile())
        c.loaded = false;
    return {};
}

Error ArchiveSpool::spoolLines(const std::vector<QByteArray> &fresh)
{
    Cache &c = m_cache;
    if (c.form == Form::Journal && c.exists) {
        if (fresh.empty())
            return {};
        if (Error failed = appendFrame(frameText(fresh)); !failed.ok())
            return failed;
        for (const QByteArray &l : fresh) {
            c.keys.insert(l);
            c.lines.push_back(l);
        }
        return {};
    }
    // No file yet, one of the older form, or records saved from a damaged one: written
    // anew once, appended to from then on.
    if (fresh.empty() && (c.exists || c.replayed == c.lines.size()))
        return {};
    return rewrite(fresh);
}

ArchiveSpool::Result ArchiveSpool::store(const std::vector<ArchiveRecord> &records)
{
    QMutexLocker lock(&m_mutex);
    Result result;
    Cache &c = m_cache;
    load();
    if (c.state == State::Unreadable)
        note(result, Problem::Unreadable, {m_path, c.reason});
    if (c.state == State::Foreign)
        note(result, Problem::ForeignDatabase, {m_path, c.database, m_database});
    if (c.state == State::Damaged)
        setDamagedAside(result);
    const bool usable = c.state == State::Fine;
    const bool refused = usable && !replayBacklog(result);

    if (!records.empty() && !refused) {
        try {
            result.written += m_db.appendArchive(records, Database::SkipExisting::Yes);
            result.spooled = usable ? static_cast<int>(c.lines.size() - c.replayed) : 0;
            return result;
        } catch (const StoreError &e) {
            result.error = e.error();
            result.busy = e.kind() == StoreError::Kind::Busy;
        }
    }

    // The database refused: the new records follow the spooled ones. A spool that could not
    // be read is never replaced, since that would lose what it holds; nor is a spool of
    // another database written to, which would mix two archives in one file. Then the
    // records are not safe and the controller keeps them until the database takes them.
    if (usable)
        spoolRecords(records, result);
    else
        result.safe = records.empty();
    result.spooled = usable ? static_cast<int>(c.lines.size() - c.replayed) : 0;
    return result;
}

// Sets the damaged file aside, so that its readable records can be archived or spooled anew
// without losing what could not be read.
void ArchiveSpool::setDamagedAside(Result &result)
{
    Cache &c = m_cache;
    const QString aside =
        m_path + QStringLiteral(".damaged-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    if (!QFile::rename(m_path, aside)) {
        note(result, Problem::Damaged, {m_path, QString(), c.reason});
        forgetFile();
        c.state = State::Unreadable;
        c.loaded = false;
        return;
    }
    note(result, Problem::Damaged, {m_path, aside, c.reason});
    const QString folder = QFileInfo(aside).absolutePath();
    if (const int e = private_file::syncFolder(folder))
        result.spoolProblem +=
            QStringLiteral("; ") + problem(QStringLiteral("sync folder"), folder, e);
    // What could be read waits in memory until it is archived or spooled anew.
    c.state = State::Fine;
    c.form = Form::None;
    c.exists = false;
    c.goodEnd = 0;
}

// The backlog first, in transactions that grow while the database takes them: records of a
// transaction that went through are known to be archived even when a later one is refused
// (a crash before the file is compacted only means they are skipped next time). False when
// the database refused.
bool ArchiveSpool::replayBacklog(Result &result)
{
    Cache &c = m_cache;
    size_t chunk = kFirstReplay;
    while (c.replayed < c.lines.size()) {
        const size_t n = std::min(chunk, c.lines.size() - c.replayed);
        std::vector<ArchiveRecord> batch(n);
        for (size_t i = 0; i < n; ++i)
            parseLine(c.lines[c.replayed + i], &batch[i]);
        try {
            result.written += m_db.appendArchive(batch, Database::SkipExisting::Yes);
        } catch (const StoreError &e) {
            result.error = e.error();
            result.busy = e.kind() == StoreError::Kind::Busy;
            return false;
        }
        c.replayed += n;
        chunk = std::min(chunk * 4, kLastReplay);
    }
    if (!c.lines.empty()) {
        // All of it is archived: the file goes.
        if (c.exists && ::unlink(QFile::encodeName(m_path).constData()) != 0 && errno != ENOENT) {
            // Harmless: the rows are in the archive, and replaying them skips every one.
            result.error = fileError("remove", m_path, errno);
            c.loaded = false;
        } else {
            forgetFile();
        }
    }
    return true;
}

// The records the database did not take, after those already waiting, each once.
void ArchiveSpool::spoolRecords(const std::vector<ArchiveRecord> &records, Result &result)
{
    std::vector<QByteArray> fresh;
    QSet<QByteArray> seen;
    for (const ArchiveRecord &r : records) {
        const QByteArray line = recordLine(r);
        if (!m_cache.keys.contains(line) && !seen.contains(line)) {
            seen.insert(line);
            fresh.push_back(line);
        }
    }
    if (const Error failed = spoolLines(fresh); !failed.ok()) {
        result.safe = records.empty();
        // The spool tells its problems in its own report, this one as the others.
        note(result, Problem::WriteFailed,
             {m_path, failed.what + QLatin1Char(' ') + failed.detail + QStringLiteral(": ") +
                          failed.extra});
    }
}

// ---------------------------------------------------------------------------------------
// Rejects

// The rejects file holds one reject a line, whatever the record holds: the time it was kept,
// the controller, the record as received and the reason, separated by tabs; a backslash,
// tab, newline or carriage return inside a field is written as \\, \t, \n or \r.
Error ArchiveSpool::keepRejects(const std::vector<Reject> &rejects)
{
    if (rejects.empty())
        return {};
    QMutexLocker lock(&m_mutex);
    QByteArray data;
    if (const int e = private_file::read(m_rejectsPath, &data); e != 0 && e != ENOENT)
        return fileError("read", m_rejectsPath, e);
    if (!data.isEmpty() && !data.endsWith('\n'))
        data += '\n';
    const QString now =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    for (const Reject &r : rejects)
        data += rejectLine(now, r);
    return replaceFile(m_rejectsPath, data);
}

QStringList ArchiveSpool::rejectFields(const QString &line)
{
    QStringList fields = line.split(QLatin1Char('\t'));
    for (QString &f : fields)
        f = unescaped(f);
    return fields;
}

QByteArray ArchiveSpool::rejectLine(const QString &time, const Reject &reject)
{
    return (escaped(time) + QLatin1Char('\t') + QString::number(reject.tarvelonId) +
            QLatin1Char('\t') + escaped(reject.record) + QLatin1Char('\t') +
            escaped(reject.reason) + QLatin1Char('\n'))
        .toUtf8();
}

QByteArray ArchiveSpool::frameText(const std::vector<QByteArray> &lines)
{
    QByteArray body;
    for (const QByteArray &l : lines)
        body += l;
    return kFrameMark + QByteArray::number(static_cast<qulonglong>(lines.size())) + '\t' +
           checksum(body) + '\n' + body;
}

QByteArray ArchiveSpool::journalText(const QString &database, const std::vector<QByteArray> &lines)
{
    return kHeader + kVersion + '\t' + escaped(database).toUtf8() + '\n' + frameText(lines);
}
