// ostracom-cli init, run as the user runs it.

#include "support/temp_db.h"

#include <QDir>
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

TEST(CliInit, createsTheDatabaseInTheDataFolderAndPrintsItsPath)
{
    TempDb tmp;
    const QString dataDir = tmp.dir();
    const CliRun first = cli({"--data-dir", dataDir, "init"});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(first.out, dataDir + "/ostracom.db\n");
    EXPECT_EQ(first.err, QString());
    EXPECT_EQ(tmp.count("sqlite_master", "type = 'table'"), 6);
    EXPECT_EQ(tmp.count("HYDOLANGTYPE"), 2);
    EXPECT_EQ(tmp.count("OSTRACOM", "OSTRACOMID = -1 AND langtype = 'ENGLISH'"), 1);
    EXPECT_GT(tmp.count("HYDOLANG"), 300);
    tmp.close();

    const QByteArray before = TempDb::fileHash(first.out.trimmed());
    const CliRun second = cli({"--data-dir", dataDir, "init"});
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(TempDb::fileHash(first.out.trimmed()), before) << "a second run changes nothing";
}

TEST(CliInit, dbOptionChoosesAnotherFile)
{
    TempDb tmp;
    const QString file = tmp.filePath("site.db");
    const CliRun r = cli({"--db", file, "init"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, file + "\n");
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_FALSE(QFile::exists(tmp.path()));
}

TEST(CliInit, refusesAFileThatIsNoDatabase)
{
    TempDb tmp;
    const QByteArray content = "just some text\n";
    {
        QFile f(tmp.path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const CliRun r = cli({"--data-dir", tmp.dir(), "init"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, QString());
    EXPECT_TRUE(r.err.contains(tmp.path())) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("not a SQLite database")) << r.err.toStdString();
    QFile f(tmp.path());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), content);
}

TEST(CliInit, unusableLanguageIsReportedAndTheRunGoesOn)
{
    TempDb tmp;
    const CliRun r = cli({"--data-dir", tmp.dir(), "--lang", "FRANCAIS", "init"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, tmp.path() + "\n");
    EXPECT_TRUE(r.err.contains("FRANCAIS")) << r.err.toStdString();
}
