#pragma once

// The PostgreSQL server the tests run against: the one that the environment names in PGHOST,
// PGPORT, PGUSER and PGPASSWORD, as pg_virtualenv sets them up around a test program (ctest
// does that for the tests that name PostgreSQL). No server is started here.

#include <QString>

class PgServer
{
public:
    // A database prepared as a first start leaves it, copied for tests that want one.
    static constexpr const char *kTemplate = "ostracom_template";

    // The server of the environment, with kTemplate made on first use; nullptr with the
    // reason when there is none.
    static const PgServer *shared(QString *error);

    // postgresql:// address of one database of this server; the password stays in
    // PGPASSWORD, where the program looks for it.
    QString url(const QString &database) const;
    QString host() const { return m_host; }
    int port() const { return m_port; }
    QString user() const { return m_user; }

    // Creates a database of a name no other test uses, empty or as a copy of kTemplate.
    // Returns its name, or an empty text with the reason.
    QString createDatabase(bool prepared, QString *error) const;
    // Drops it, closing whatever connections are still open to it.
    void dropDatabase(const QString &name) const;

private:
    QString m_host;
    int m_port = 0;
    QString m_user;
    QString m_adminDatabase;
};
