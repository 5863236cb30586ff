#pragma once

// A database file in a temporary folder, and plain SQL access to it that bypasses the
// store, so tests can arrange rows and check what the store wrote.

#include <QByteArray>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QVariantList>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

// The database servers the store runs on; store tests run on each.
enum class Backend { Sqlite, Postgres };
std::ostream &operator<<(std::ostream &out, Backend backend);
// "SQLite" and "PostgreSQL", for the names of parameterised tests.
std::string backendName(Backend backend);

// Instantiates a store test suite (a TestWithParam<Backend>) on every backend.
#define OSTRACOM_ON_EVERY_BACKEND(suite)                                                           \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Backends, suite, ::testing::Values(Backend::Sqlite, Backend::Postgres),                    \
        [](const ::testing::TestParamInfo<Backend> &info) { return backendName(info.param); })

class TempDb
{
public:
    enum class Start {
        Empty,    // nothing at path()
        Prepared, // a database as a first start leaves it, ready for use
    };
    // On PostgreSQL a fresh database of the test server (see PgServer), dropped again with
    // this object; the test fails when there is no server.
    explicit TempDb(Start start = Start::Empty, Backend backend = Backend::Sqlite);
    ~TempDb();

    Backend backend() const { return m_backend; }
    // A folder of this test's own, e.g. for a data directory.
    QString dir() const { return m_dir.path(); }
    // Where the database is: ostracom.db in the temporary folder (not created until
    // something opens it), or the postgresql:// address of the test's database.
    QString path() const;
    QString filePath(const QString &name) const;

    // Runs one statement with bound values on a connection of its own; fails the test on
    // an error. Returns the first column of the first row, or an invalid QVariant.
    QVariant exec(const QString &sql, const QVariantList &values = {});
    qint64 count(const QString &table, const QString &where = QString(),
                 const QVariantList &values = {});
    bool hasTable(const QString &table);
    // Every row of a query, each as its column values.
    QList<QVariantList> rows(const QString &sql, const QVariantList &values = {});
    // The archive's summary tables, a text per table, for comparing them with a rebuild
    // (the sums rounded: the order of adding changes their last bits).
    QStringList summaryRows();
    // Closes the raw connection, e.g. before the file is checked byte for byte.
    void close();

    static QByteArray fileHash(const QString &path);

private:
    QSqlDatabase raw();

    QTemporaryDir m_dir;
    QString m_connection;
    Backend m_backend;
    QString m_pgDatabase; // the server's database of this test, empty on SQLite
};

// Another program's write transaction on a database file, as long as this object lives:
// the program under test finds the database locked.
class DatabaseHolder
{
public:
    explicit DatabaseHolder(const QString &path);
    ~DatabaseHolder();
    DatabaseHolder(const DatabaseHolder &) = delete;
    DatabaseHolder &operator=(const DatabaseHolder &) = delete;

    bool held() const { return m_held; }
    QString error() const { return m_error; }

private:
    QString m_name;
    bool m_held = false;
    QString m_error;
};
