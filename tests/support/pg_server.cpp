#include "support/pg_server.h"
#include "model/error_text.h"

#include "store/database.h"
#include "store/store_error.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <memory>

namespace
{

QAtomicInteger<int> g_databases;
QAtomicInteger<int> g_adminConnections;

// Runs one statement on the server's maintenance database.
bool admin(const PgServer &server, const QString &database, const QString &statement,
           QString *error)
{
    const QString name = QStringLiteral("pg-test-admin-%1").arg(++g_adminConnections);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(server.host());
        db.setPort(server.port());
        db.setUserName(server.user());
        db.setDatabaseName(database);
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

const PgServer *PgServer::shared(QString *error)
{
    static QString failure;
    static const std::unique_ptr<PgServer> server = []() -> std::unique_ptr<PgServer> {
        auto s = std::make_unique<PgServer>();
        s->m_host = qEnvironmentVariable("PGHOST");
        s->m_port = qEnvironmentVariableIntValue("PGPORT");
        s->m_user = qEnvironmentVariable("PGUSER");
        s->m_adminDatabase = qEnvironmentVariable("PGDATABASE", QStringLiteral("postgres"));
        if (s->m_host.isEmpty() || s->m_port <= 0 || s->m_user.isEmpty()) {
            failure = QStringLiteral("no PostgreSQL server in PGHOST, PGPORT and PGUSER: run "
                                     "the test program under pg_virtualenv");
            return nullptr;
        }
        // The prepared database that tests copy, made once by the program itself.
        const QString create = QStringLiteral("CREATE DATABASE %1").arg(QLatin1String(kTemplate));
        if (!admin(*s, s->m_adminDatabase, create, &failure))
            return nullptr;
        try {
            Database db(s->url(QLatin1String(kTemplate)));
        } catch (const StoreError &e) {
            failure = errorText(e.error());
            return nullptr;
        }
        return s;
    }();
    if (!server)
        *error = failure;
    return server.get();
}

QString PgServer::url(const QString &database) const
{
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(m_user, m_host).arg(m_port).arg(database);
}

QString PgServer::createDatabase(bool prepared, QString *error) const
{
    const QString name = QStringLiteral("ostracom_test_%1_%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(++g_databases);
    QString statement = QStringLiteral("CREATE DATABASE ") + name;
    if (prepared)
        statement += QStringLiteral(" TEMPLATE ") + QLatin1String(kTemplate);
    return admin(*this, m_adminDatabase, statement, error) ? name : QString();
}

void PgServer::dropDatabase(const QString &name) const
{
    QString ignored;
    admin(*this, m_adminDatabase,
          QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name), &ignored);
}
