#include "support/pg_server.h"

#include "store/database.h"
#include "store/store_error.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>

#include <memory>

#include <pwd.h>
#include <unistd.h>

namespace
{

constexpr int kStartTimeoutSeconds = 60;
constexpr const char *kAdminDatabase = "postgres";

QAtomicInteger<int> g_databases;
QAtomicInteger<int> g_adminConnections;

QString binDir()
{
    const QString set = qEnvironmentVariable("OSTRACOM_PG_BINDIR");
    return set.isEmpty() ? QString::fromLatin1(PgServer::kDefaultBinDir) : set;
}

// PostgreSQL refuses to run as root; then the cluster belongs to nobody.
const passwd *serverAccount()
{
    return ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
}

// Runs a server program, as the server's account; false with its output on failure.
bool runServerProgram(const QString &name, const QStringList &arguments, QString *error)
{
    const QString program = QDir(binDir()).filePath(name);
    if (!QFileInfo(program).isExecutable()) {
        *error = QStringLiteral("PostgreSQL server program %1 is missing: install the "
                                "postgresql-15 package (scripts/setup does) or name the folder "
                                "of initdb and pg_ctl in OSTRACOM_PG_BINDIR")
                     .arg(program);
        return false;
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (const passwd *account = serverAccount())
        p.start(QStringLiteral("runuser"),
                QStringList{QStringLiteral("-u"), QString::fromLocal8Bit(account->pw_name),
                            QStringLiteral("--"), program} +
                    arguments);
    else
        p.start(program, arguments);
    if (!p.waitForFinished((kStartTimeoutSeconds + 10) * 1000) ||
        p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = QStringLiteral("%1 %2 failed: %3 %4")
                     .arg(name, arguments.join(QLatin1Char(' ')), p.errorString(),
                          QString::fromLocal8Bit(p.readAll()));
        return false;
    }
    return true;
}

int freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString field(const QString &text, const QString &key)
{
    for (const QString &line : text.split(QLatin1Char('\n')))
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1);
    return QString();
}

// Runs one statement on the server's maintenance database.
bool admin(const PgServer &server, const QString &statement, QString *error)
{
    const QString name = QStringLiteral("pg-test-admin-%1").arg(++g_adminConnections);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(server.socketDir());
        db.setPort(server.port());
        db.setUserName(PgServer::user());
        db.setDatabaseName(QLatin1String(kAdminDatabase));
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            QSqlQuery q(db);
            ok = q.exec(statement);
            if (!ok)
                *error = statement + QStringLiteral(": ") + q.lastError().text();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

bool PgServer::start(const QString &infoFile, QString *error, bool durable)
{
    const QByteArray pattern = QDir(QDir::tempPath()).filePath("ostracom-pg-XXXXXX").toLocal8Bit();
    QByteArray buffer = pattern;
    if (!::mkdtemp(buffer.data())) {
        *error = QStringLiteral("cannot create a folder for the PostgreSQL test server");
        return false;
    }
    PgServer server;
    server.m_clusterDir = QString::fromLocal8Bit(buffer);
    server.m_socketDir = server.m_clusterDir;
    server.m_port = freePort();
    auto giveUp = [&] {
        QDir(server.m_clusterDir).removeRecursively();
        return false;
    };
    if (const passwd *account = serverAccount()) {
        if (::chown(buffer.constData(), account->pw_uid, account->pw_gid) != 0) {
            *error =
                QStringLiteral("cannot hand %1 to the server's account").arg(server.m_clusterDir);
            return giveUp();
        }
    }
    const QString data = QDir(server.m_clusterDir).filePath(QStringLiteral("data"));
    if (!runServerProgram(QStringLiteral("initdb"),
                          {QStringLiteral("-D"), data, QStringLiteral("-U"), user(),
                           QStringLiteral("--auth=trust"), QStringLiteral("--no-locale"),
                           QStringLiteral("-E"), QStringLiteral("UTF8"),
                           QStringLiteral("--no-sync")},
                          error))
        return giveUp();
    // Durability is not what the tests are about; without syncs the server is fast.
    QString options = QStringLiteral("-k %1 -p %2 -c listen_addresses=127.0.0.1")
                          .arg(server.m_socketDir)
                          .arg(server.m_port);
    if (!durable)
        options += QStringLiteral(" -c fsync=off -c synchronous_commit=off "
                                  "-c full_page_writes=off");
    if (!runServerProgram(
            QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), data, QStringLiteral("-o"), options, QStringLiteral("-l"),
             QDir(server.m_clusterDir).filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
             QStringLiteral("-t"), QString::number(kStartTimeoutSeconds), QStringLiteral("start")},
            error))
        return giveUp();

    QFile info(infoFile);
    if (!info.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write %1: %2").arg(infoFile, info.errorString());
        QString ignored;
        runServerProgram(QStringLiteral("pg_ctl"),
                         {QStringLiteral("-D"), data, QStringLiteral("-m"),
                          QStringLiteral("immediate"), QStringLiteral("stop")},
                         &ignored);
        return giveUp();
    }
    info.write(QStringLiteral("cluster=%1\nsocket=%2\nport=%3\n")
                   .arg(server.m_clusterDir, server.m_socketDir)
                   .arg(server.m_port)
                   .toLocal8Bit());
    info.close();

    // The prepared database that tests copy, made once by the program itself.
    if (!admin(server, QStringLiteral("CREATE DATABASE %1").arg(QLatin1String(kTemplate)), error))
        return false;
    try {
        Database db(server.url(QLatin1String(kTemplate)));
    } catch (const StoreError &e) {
        *error = e.message();
        return false;
    }
    return true;
}

bool PgServer::stop(const QString &infoFile, QString *error)
{
    PgServer server;
    if (!read(infoFile, &server, error))
        return false;
    const bool stopped = runServerProgram(
        QStringLiteral("pg_ctl"),
        {QStringLiteral("-D"), QDir(server.m_clusterDir).filePath(QStringLiteral("data")),
         QStringLiteral("-m"), QStringLiteral("immediate"), QStringLiteral("stop")},
        error);
    QDir(server.m_clusterDir).removeRecursively();
    QFile::remove(infoFile);
    return stopped;
}

std::unique_ptr<PgServer> PgServer::described(const QString &infoFile, QString *error)
{
    auto server = std::make_unique<PgServer>();
    if (!read(infoFile, server.get(), error))
        return nullptr;
    return server;
}

bool PgServer::read(const QString &infoFile, PgServer *server, QString *error)
{
    QFile info(infoFile);
    if (!info.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no PostgreSQL test server is described in %1 (%2)")
                     .arg(infoFile, info.errorString());
        return false;
    }
    const QString text = QString::fromLocal8Bit(info.readAll());
    server->m_clusterDir = field(text, QStringLiteral("cluster"));
    server->m_socketDir = field(text, QStringLiteral("socket"));
    server->m_port = field(text, QStringLiteral("port")).toInt();
    if (server->m_clusterDir.isEmpty() || server->m_port <= 0) {
        *error = QStringLiteral("%1 does not describe a PostgreSQL test server").arg(infoFile);
        return false;
    }
    return true;
}

namespace
{

// The server this program started itself, stopped when the program ends.
struct OwnServer {
    QTemporaryDir dir;
    QString infoFile;
    bool started = false;
    ~OwnServer()
    {
        QString ignored;
        if (started)
            PgServer::stop(infoFile, &ignored);
    }
};

} // namespace

const PgServer *PgServer::shared(QString *error)
{
    static QString failure;
    static std::unique_ptr<PgServer> server = [] {
        auto s = std::make_unique<PgServer>();
        QString infoFile = qEnvironmentVariable("OSTRACOM_TEST_PG_INFO");
        if (infoFile.isEmpty()) {
            static OwnServer own;
            own.infoFile = QDir(own.dir.path()).filePath(QStringLiteral("server.info"));
            own.started = start(own.infoFile, &failure);
            if (!own.started)
                return std::unique_ptr<PgServer>();
            infoFile = own.infoFile;
        }
        if (!read(infoFile, s.get(), &failure))
            return std::unique_ptr<PgServer>();
        return s;
    }();
    if (!server)
        *error = failure;
    return server.get();
}

QString PgServer::url(const QString &database) const
{
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(user()).arg(m_port).arg(database);
}

QString PgServer::createDatabase(bool prepared, QString *error) const
{
    const QString name = QStringLiteral("ostracom_test_%1_%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(++g_databases);
    QString statement = QStringLiteral("CREATE DATABASE ") + name;
    if (prepared)
        statement += QStringLiteral(" TEMPLATE ") + QLatin1String(kTemplate);
    return admin(*this, statement, error) ? name : QString();
}

void PgServer::dropDatabase(const QString &name) const
{
    QString ignored;
    admin(*this, QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name), &ignored);
}
