// ostracom-cli init, run as the user runs it. What the database holds is the store's
// business and tested there; here: where it goes, what is printed, the exit codes.

#include "support/temp_db.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

namespace
{

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

CliRun cli(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(OSTRACOM_CLI_PATH), args);
    CliRun r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        ADD_FAILURE() << "ostracom-cli did not finish";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

TEST(CliInit, createsTheDatabaseInTheDataFolderOnceAndPrintsItsPath)
{
    TempDb tmp;
    const CliRun first = cli({"--data-dir", tmp.dir(), "init"});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(first.out, tmp.path() + "\n");
    EXPECT_EQ(first.err, QString());
    EXPECT_EQ(tmp.count("sqlite_master", "type = 'table'"), 6);
    EXPECT_EQ(tmp.count("OSTRACOM", "OSTRACOMID = -1 AND langtype = 'ENGLISH'"), 1);
    tmp.close();

    const QByteArray before = TempDb::fileHash(tmp.path());
    const CliRun second = cli({"--data-dir", tmp.dir(), "init"});
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(TempDb::fileHash(tmp.path()), before) << "a second run changes nothing";
}

TEST(CliInit, dbOptionChoosesTheFileAndAnUnusableLanguageIsOnlyReported)
{
    TempDb tmp;
    const QString file = tmp.filePath("site.db");
    const CliRun r = cli({"--db", file, "--lang", "FRANCAIS", "init"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, file + "\n");
    EXPECT_TRUE(r.err.contains("FRANCAIS")) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_FALSE(QFile::exists(tmp.path()));
}

TEST(CliInit, refusesAFileThatIsNoDatabaseWithExitCodeOne)
{
    TempDb tmp;
    {
        QFile f(tmp.path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("just some text\n");
    }
    const QByteArray before = TempDb::fileHash(tmp.path());
    const CliRun r = cli({"--data-dir", tmp.dir(), "init"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, QString());
    EXPECT_TRUE(r.err.contains(tmp.path())) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("not a SQLite database")) << r.err.toStdString();
    EXPECT_EQ(TempDb::fileHash(tmp.path()), before);
}
