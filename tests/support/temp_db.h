#pragma once

// A database file in a temporary folder, and plain SQL access to it that bypasses the
// store, so tests can arrange rows and check what the store wrote.

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QVariantList>

class TempDb
{
public:
    enum class Start {
        Empty,    // nothing at path()
        Prepared, // a database as a first start leaves it, ready for use
    };
    explicit TempDb(Start start = Start::Empty);
    ~TempDb();

    QString dir() const { return m_dir.path(); }
    // ostracom.db in the temporary folder (not created until something opens it).
    QString path() const;
    QString filePath(const QString &name) const;

    // Runs one statement with bound values on a connection of its own; fails the test on
    // an error. Returns the first column of the first row, or an invalid QVariant.
    QVariant exec(const QString &sql, const QVariantList &values = {});
    qint64 count(const QString &table, const QString &where = QString(),
                 const QVariantList &values = {});
    // Closes the raw connection, e.g. before the file is checked byte for byte.
    void close();

    static QByteArray fileHash(const QString &path);

private:
    QSqlDatabase raw();

    QTemporaryDir m_dir;
    QString m_connection;
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
