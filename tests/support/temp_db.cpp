#include "support/temp_db.h"

#include "store/database.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <atomic>

namespace
{

std::atomic<int> g_rawConnections{0};

// Creating and seeding a database costs several disk syncs; tests that only use one get a
// copy of a database prepared once per test program.
QString preparedTemplate()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString file = QDir(dir.path()).filePath(QStringLiteral("template.db"));
        Database db(file);
        return file;
    }();
    return path;
}

} // namespace

TempDb::TempDb(Start start) : m_connection(QStringLiteral("test-raw-%1").arg(++g_rawConnections))
{
    if (start == Start::Prepared && !QFile::copy(preparedTemplate(), path()))
        ADD_FAILURE() << "cannot copy the prepared database to " << path().toStdString();
}

TempDb::~TempDb()
{
    close();
}

QString TempDb::path() const
{
    return filePath(QStringLiteral("ostracom.db"));
}

QString TempDb::filePath(const QString &name) const
{
    return QDir(m_dir.path()).filePath(name);
}

QSqlDatabase TempDb::raw()
{
    if (QSqlDatabase::contains(m_connection))
        return QSqlDatabase::database(m_connection);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path());
    if (!db.open())
        ADD_FAILURE() << "cannot open " << path().toStdString() << ": "
                      << db.lastError().text().toStdString();
    return db;
}

QVariant TempDb::exec(const QString &sql, const QVariantList &values)
{
    QSqlQuery q(raw());
    if (!q.prepare(sql)) {
        ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
        return {};
    }
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!q.exec()) {
        ADD_FAILURE() << sql.toStdString() << ": " << q.lastError().text().toStdString();
        return {};
    }
    return q.next() ? q.value(0) : QVariant();
}

qint64 TempDb::count(const QString &table, const QString &where, const QVariantList &values)
{
    QString sql = QStringLiteral("SELECT COUNT(*) FROM ") + table;
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where;
    return exec(sql, values).toLongLong();
}

void TempDb::close()
{
    if (!QSqlDatabase::contains(m_connection))
        return;
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
}

QByteArray TempDb::fileHash(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex();
}

DatabaseHolder::DatabaseHolder(const QString &path)
    : m_name(QStringLiteral("database-holder-%1").arg(reinterpret_cast<quintptr>(this)))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(path);
    m_held = db.open() && QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"));
    if (!m_held)
        m_error = db.lastError().text();
}

DatabaseHolder::~DatabaseHolder()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (m_held)
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}
