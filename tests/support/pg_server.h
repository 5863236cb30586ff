#pragma once

// A PostgreSQL server of the tests' own: a cluster in a temporary folder, listening on a
// private socket folder and a free loopback port, run as the current user (as nobody when
// that is root, which PostgreSQL refuses). No system service is touched.
//
// Under ctest one server serves the whole run: a fixture starts it and writes where it
// listens to the file that OSTRACOM_TEST_PG_INFO names, and stops it afterwards. A test
// program started by hand starts its own on first use and stops it when it ends.

#include <QString>

#include <memory>

class PgServer
{
public:
    // Where the server programs are looked for (OSTRACOM_PG_BINDIR overrides it).
    static constexpr const char *kDefaultBinDir = "/usr/lib/postgresql/15/bin";
    // A database prepared as a first start leaves it, copied for tests that want one.
    static constexpr const char *kTemplate = "ostracom_template";

    // Starts a cluster; writes its description to `infoFile`. False with the reason.
    // Tests run without syncs to disk; durable: as a real server, for benchmarks.
    static bool start(const QString &infoFile, QString *error, bool durable = false);
    // Stops the cluster `infoFile` describes and removes its folder and the file.
    static bool stop(const QString &infoFile, QString *error);

    // The server of this test program, started on first use; nullptr with the reason when
    // there is none.
    static const PgServer *shared(QString *error);
    // The server `infoFile` describes; nullptr with the reason when it describes none.
    static std::unique_ptr<PgServer> described(const QString &infoFile, QString *error);

    // postgresql:// address of one database of this server.
    QString url(const QString &database) const;
    QString socketDir() const { return m_socketDir; }
    int port() const { return m_port; }
    static QString user() { return QStringLiteral("postgres"); }

    // Creates a database of a name no other test uses, empty or as a copy of kTemplate.
    // Returns its name, or an empty text with the reason.
    QString createDatabase(bool prepared, QString *error) const;
    // Drops it, closing whatever connections are still open to it.
    void dropDatabase(const QString &name) const;

private:
    static bool read(const QString &infoFile, PgServer *server, QString *error);

    QString m_clusterDir;
    QString m_socketDir;
    int m_port = 0;
};
