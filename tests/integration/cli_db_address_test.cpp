// ostracom-cli with a PostgreSQL address, run as the user runs it: a wrong address is
// refused without showing what it holds, and the poller ends on what waiting cannot mend
// but waits for a server that is down.

#include "support/cli_run.h"
#include "support/files.h"
#include "support/pg_server.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace
{

QStringList pollArgs(const QString &dataDir, const QString &db)
{
    return {"--data-dir",      dataDir,    "--db", db,           "poll", "--controller",
            "tcp:127.0.0.1:1", "--cycles", "1",    "--interval", "1"};
}

} // namespace

TEST(CliDbAddress, wrongAddressesAreRefusedWithoutShowingWhatTheyHold)
{
    QTemporaryDir tmp;
    const QString dataDir = tmp.filePath("data");
    const char *const addresses[] = {
        "postgresql://u:s3cret@h:99999/db",
        "postgresql://u:s3cret@h/db",
        "postgresql://u@h/db?sslpassword=s3cret",
        "postgresql://u@h/db?password=s3cret",
        "postgresql://u@h/db?krbsrvname=s3cret",
        "postgresql://u@[s3cret/db",
        "postgresql://s3cret",
        "postgres://u:s3cret@h/db",
    };
    for (const char *address : addresses) {
        SCOPED_TRACE(address);
        const CliRun r = runCli({"--data-dir", dataDir, "--db", address, "init"});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains("--db")) << r.err.toStdString();
        EXPECT_FALSE((r.out + r.err).contains("s3cret")) << (r.out + r.err).toStdString();
        EXPECT_FALSE(QFile::exists(dataDir));
    }
}

// Without the driver nothing can ever be archived: the poller says so instead of waiting.
TEST(CliDbAddress, pollEndsWhenThePostgresDriverIsMissing)
{
    QTemporaryDir tmp;
    // A copy of the program whose qt.conf points at a folder without plugins.
    const QString program = tmp.filePath("ostracom-cli");
    ASSERT_TRUE(QFile::copy(OSTRACOM_CLI_PATH, program));
    ASSERT_TRUE(QDir(tmp.path()).mkdir("plugins"));
    ASSERT_TRUE(writeTestFile(tmp.filePath("qt.conf"), "[Paths]\nPlugins = plugins\n"));
    const CliRun r = runCli(pollArgs(tmp.filePath("data"), "postgresql://u@127.0.0.1:1/site"),
                            {.program = program});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("libqt6sql6-psql")) << r.err.toStdString();
}

TEST(CliPostgreSQL, pollEndsOnARefusedLoginOrUnknownDatabaseAndWaitsForADownServer)
{
    QString error;
    const PgServer *server = PgServer::shared(&error);
    ASSERT_NE(server, nullptr) << error.toStdString();
    QTemporaryDir tmp;
    const QString at = QStringLiteral("@127.0.0.1:%1/").arg(server->port());
    const struct {
        QString db;
        const char *says;
    } refused[] = {
        {"postgresql://no_such_role" + at + PgServer::kTemplate, "no_such_role"},
        {server->url("no_such_database"), "no_such_database"},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.db.toStdString());
        const CliRun r = runCli(pollArgs(tmp.filePath("data"), c.db));
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_FALSE(r.out.contains("trying again")) << r.out.toStdString();
    }

    // A server that is down may be up at the next cycle: the poller waits until stopped.
    WatchedCli poller(pollArgs(tmp.filePath("data"), "postgresql://postgres@127.0.0.1:1/site"));
    EXPECT_TRUE(poller.waitForOutput("trying again", 30000)) << poller.output().toStdString();
    poller.signal(SIGTERM);
    ASSERT_TRUE(poller.finish(30000));
    EXPECT_EQ(poller.exitCode(), 0);
}
