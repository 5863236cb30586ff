#include "sim_process.h"

#include "link/clock.h"
#include "link/encodings.h"
#include "link/hydo_connect.h"
#include "link/progress.h"
#include "support/sanitizer_report.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <csignal>

namespace
{

// The read commands with their markers, the payload length the program expects and
// whether it reads them without progress, as the program does.
struct ReadCommand {
    const char *command;
    const char *start;
    const char *end;
    int expectedLength;
    bool silent;
};
const ReadCommand kReadCommands[] = {
    {"DX", "Version Data", "End Data", 0, true},    {"DN", "Data RAM", "End RAM", 5630, false},
    {"DK", "Kalib RAM", "End RAM", 672, false},     {"DO", "Stored Data", "End Data", 0, false},
    {"DL", "SnapshotNr Data", "End Data", 0, true},
};

} // namespace

void ensureCoreApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "ostracom_integration_tests";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

SimProcess::SimProcess(Emulator emulator)
    : m_emulator(emulator), m_dir(std::make_unique<QTemporaryDir>())
{
    ensureCoreApplication();
}

SimProcess::~SimProcess()
{
    // SIGTERM first, so the emulator removes what it created (a --pty-link symlink).
    if (isRunning() && !stop()) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
    // A sanitizer report of the emulator fails the test, even one whose test never looks at
    // the emulator's exit or its log (a leak is only reported as it exits).
    for (int start = 1; start <= m_starts; ++start) {
        QFile file(m_dir->filePath(QStringLiteral("sim-%1.log").arg(start)));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        expectNoSanitizerReport(m_emulator == Emulator::Telvara ? "telvara-sim" : "tarvelon-sim",
                                file.readAll());
    }
}

bool SimProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

QString SimProcess::scratchPath(const QString &name) const
{
    return m_dir->filePath(name);
}

bool SimProcess::start(const QStringList &arguments, QString *error, const QStringList &environment)
{
    if (isRunning()) {
        *error = QStringLiteral("the emulator is already running");
        return false;
    }
    m_port = 0;
    m_pty.clear();
    const bool telvara = m_emulator == Emulator::Telvara;
    QStringList args = arguments;
    if (telvara)
        args = QStringList{QStringLiteral("--state"), statePath()} + args;
    const bool tcp = !telvara && !args.contains(QStringLiteral("--no-tcp"));
    const bool pty = telvara || args.contains(QStringLiteral("--pty")) ||
                     args.contains(QStringLiteral("--pty-link"));
    if (tcp && !args.contains(QStringLiteral("--port")))
        args << QStringLiteral("--port") << QStringLiteral("0");

    // The log goes to a file: a pipe nobody reads would fill up and stall the emulator.
    m_logPath = m_dir->filePath(QStringLiteral("sim-%1.log").arg(++m_starts));
    m_process.setStandardErrorFile(m_logPath);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    m_process.setProcessEnvironment(env);
    const QString program = QString::fromUtf8(telvara ? TELVARA_SIM_PATH : TARVELON_SIM_PATH);
    m_process.start(program, args);
    if (!m_process.waitForStarted(kStartTimeoutMs)) {
        *error = QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString());
        return false;
    }

    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    const bool serial = args.contains(QStringLiteral("--serial"));
    bool serialReady = false;
    while ((tcp && m_port == 0) || (pty && m_pty.isEmpty()) || (serial && !serialReady)) {
        const qint64 left = kStartTimeoutMs - timer.elapsed();
        if (left <= 0 || !isRunning()) {
            *error = QStringLiteral("the emulator did not report ready within %1 ms; "
                                    "stdout: %2; log: %3")
                         .arg(kStartTimeoutMs)
                         .arg(QString::fromLocal8Bit(out), log());
            m_process.kill();
            m_process.waitForFinished(2000);
            return false;
        }
        m_process.waitForReadyRead(int(left));
        out += m_process.readAllStandardOutput();
        for (const QByteArray &raw : out.split('\n')) {
            const QString line = QString::fromLocal8Bit(raw).trimmed();
            if (line.startsWith(QLatin1String("listening on ")))
                m_port = quint16(line.section(QLatin1Char(':'), -1).toUInt());
            else if (line.startsWith(QLatin1String("pty ")))
                m_pty = line.mid(4);
            else if (line.startsWith(QLatin1String("serial ")))
                serialReady = true;
        }
    }
    return true;
}

bool stopEmulator(QProcess &process, int timeoutMs)
{
    if (process.state() == QProcess::NotRunning)
        return false;
    ::kill(pid_t(process.processId()), SIGTERM);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(2000);
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool SimProcess::stop()
{
    return stopEmulator(m_process, kStartTimeoutMs);
}

LinkParams SimProcess::tcpLink() const
{
    LinkParams p;
    p.serial = false;
    p.address = QStringLiteral("127.0.0.1");
    p.setting = QString::number(m_port);
    return p;
}

LinkParams SimProcess::ptyLink() const
{
    LinkParams p;
    p.serial = true;
    p.address = m_pty;
    p.setting = QStringLiteral("9600,n,8,1");
    return p;
}

QString SimProcess::log() const
{
    QFile file(m_logPath);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readAll());
}

QByteArray SimProcess::savedExternalMemory() const
{
    QFile f(statePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    return QByteArray::fromHex(o.value(QStringLiteral("external")).toString().toLatin1());
}

SimRead readFromController(const LinkParams &link, const QString &command)
{
    ensureCoreApplication();
    SimRead r;
    const auto m = std::find_if(std::begin(kReadCommands), std::end(kReadCommands),
                                [&](const ReadCommand &c) { return command == c.command; });
    if (m == std::end(kReadCommands)) {
        r.error = Error(ErrorCode::Other, QStringLiteral("no read command: %1").arg(command));
        return r;
    }
    RealClock clock;
    NoProgress progress;
    const auto connection = cHydoConnect::createDefault(clock);
    ProtocolContext ctx{*connection, clock, progress, link};
    QElapsedTimer timer;
    timer.start();
    r.error =
        get_Meta_Data(ctx, command, QString::fromLatin1(m->start), QString::fromLatin1(m->end),
                      QStringLiteral("CheckSum"), r.payload, m->expectedLength,
                      m->silent ? QString() : QStringLiteral("test"), m->silent);
    r.elapsedMs = timer.elapsed();
    return r;
}

Error writeToController(const LinkParams &link, const QString &command, const QString &data)
{
    ensureCoreApplication();
    RealClock clock;
    NoProgress progress;
    const auto connection = cHydoConnect::createDefault(clock);
    ProtocolContext ctx{*connection, clock, progress, link};
    return put_Meta_Data(ctx, command, QStringLiteral("Receive Start"), QStringLiteral("CheckSum"),
                         data, true);
}

bool decodeRecords(const QString &payload, QList<SimRecord> *records)
{
    records->clear();
    if (payload.size() < 4)
        return false;
    const int count = HexWordGet(payload, 0);
    if (count < 0 || payload.size() != 4 + count * 24)
        return false;
    for (int i = 0; i < count; ++i) {
        const int r = 2 + i * 12;
        SimRecord rec;
        rec.sensor = HexByteGet(payload, r);
        rec.status = HexByteGet(payload, r + 1);
        rec.word = HexWordGet(payload, r + 2);
        rec.when =
            QDateTime(HexDateGet(payload, r + 8).date(), HexTimeGet(payload, r + 4), Qt::UTC);
        records->append(rec);
    }
    return true;
}

bool isHexText(const QString &text)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-F]+$"));
    return hex.match(text).hasMatch();
}

SimJournal readJournal(const QString &path)
{
    SimJournal j;
    QSet<QString> forgot;
    for (const QString &line : fileLines(path)) {
        const QString word = line.section(QLatin1Char(' '), 0, 0);
        const QString record = line.section(QLatin1Char(' '), 1);
        if (record.size() != 24 ||
            (word != QLatin1String("handed") && word != QLatin1String("forgot"))) {
            j.malformed << line;
            continue;
        }
        j.endsAcknowledged = word == QLatin1String("forgot");
        if (word == QLatin1String("handed"))
            j.handed.insert(record);
        else if (!forgot.contains(record)) {
            forgot.insert(record);
            j.forgotten << record;
        }
    }
    return j;
}

int simScaleOf(int sensor)
{
    return sensor == 2 ? 100 : 10;
}

QString archiveRowKey(int id, int sensor, const QString &datum, qint64 word)
{
    return QStringLiteral("#%1 sensor %2 at %3 word %4").arg(id).arg(sensor).arg(datum).arg(word);
}

QString expectedArchiveRow(int id, const QString &record)
{
    const QString datum = HexDateGet(record, 8).date().toString(QStringLiteral("yyyy-MM-dd")) +
                          QLatin1Char(' ') +
                          HexTimeGet(record, 4).toString(QStringLiteral("HH:mm:ss"));
    return archiveRowKey(id, HexByteGet(record, 0), datum, HexWordGet(record, 2));
}
