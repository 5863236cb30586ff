// ostracom-cli init and settings, run as the user runs them. What the database holds is
// the store's business and tested there; here: where it goes, who may read it, what is
// printed, the exit codes. Also the version both programs report.

#include "store/database.h"
#include "support/cli_run.h"
#include "support/files.h"
#include "support/smtp_server.h"
#include "support/temp_db.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

TEST(CliInit, createsTheDatabaseInTheDataFolderOnceAndPrintsItsPath)
{
    TempDb tmp;
    const CliRun first = runCli({"--data-dir", tmp.dir(), "init"});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(first.out, tmp.path() + "\n");
    EXPECT_EQ(first.err, QString());
    EXPECT_EQ(tmp.count("sqlite_master", "type = 'table' AND name NOT LIKE '%_SUMMARY_%'"), 7);
    EXPECT_EQ(tmp.count("OSTRACOM", "OSTRACOMID = -1 AND langtype = 'ENGLISH'"), 1);
    tmp.close();

    const QByteArray before = TempDb::fileHash(tmp.path());
    const CliRun second = runCli({"--data-dir", tmp.dir(), "init"});
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(TempDb::fileHash(tmp.path()), before) << "a second run changes nothing";
}

TEST(CliInit, dbOptionChoosesTheFileAndAnUnusableLanguageIsOnlyReported)
{
    TempDb tmp;
    const QString file = tmp.filePath("site.db");
    const CliRun r = runCli({"--db", file, "--lang", "FRANCAIS", "init"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, file + "\n");
    EXPECT_TRUE(r.err.contains("FRANCAIS")) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_FALSE(QFile::exists(tmp.path()));
}

TEST(CliInit, refusesAFileThatIsNoDatabaseWithExitCodeOne)
{
    TempDb tmp;
    ASSERT_TRUE(writeTestFile(tmp.path(), "just some text\n", 0644));
    const QByteArray before = TempDb::fileHash(tmp.path());
    const CliRun r = runCli({"--data-dir", tmp.dir(), "init"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, QString());
    EXPECT_TRUE(r.err.contains(tmp.path())) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("not a SQLite database")) << r.err.toStdString();
    EXPECT_EQ(TempDb::fileHash(tmp.path()), before);
}

TEST(CliInit, dataFolderAndEveryFileInItArePrivate)
{
    // A fresh folder, and one an older version left open to everyone.
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "existing folder" : "fresh folder");
        TempDb tmp;
        const QString data = tmp.filePath("data");
        if (existing) {
            ASSERT_TRUE(QDir().mkdir(data));
            ASSERT_EQ(::chmod(QFile::encodeName(data).constData(), 0755), 0);
            ASSERT_TRUE(
                writeTestFile(data + "/ostracom.log", "2020-01-01 00:00:00   old entry\n", 0644));
        }
        // A failing test mail still writes mail.txt and the log. Checked after each run, as
        // the next one might tighten what the previous one left open.
        const QString server = QStringLiteral("127.0.0.1:%1").arg(closedLocalPort());
        const struct {
            QStringList args;
            int exitCode;
        } runs[] = {
            {{"init"}, 0},
            {{"settings", "mail", "--server", server, "--receiver", "a@tank.example", "--sender",
              "b@tank.example", "--enable"},
             0},
            {{"mail-test"}, 1},
        };
        for (const auto &run : runs) {
            SCOPED_TRACE(run.args.first().toStdString());
            EXPECT_EQ(runCli(QStringList{"--data-dir", data} + run.args).exitCode, run.exitCode);
            EXPECT_EQ(modeOf(data), 0700);
            for (const QString &name : QDir(data).entryList(QDir::Files | QDir::Hidden))
                EXPECT_EQ(modeOf(data + "/" + name), 0600) << name.toStdString();
        }
        const QStringList files = QDir(data).entryList(QDir::Files | QDir::Hidden);
        EXPECT_TRUE(files.contains("ostracom.db") && files.contains("mail.txt") &&
                    files.contains("ostracom.log"))
            << files.join(", ").toStdString();
    }
}

class CliSettings : public ::testing::TestWithParam<Backend>
{
};

OSTRACOM_ON_EVERY_BACKEND(CliSettings);

// A shared database keeps the password in the data folder of each machine, never in a row
// every database user can read; the output says so.
TEST_P(CliSettings, passwordComesFromStandardInputOrAPrivateFileNeverTheCommandLine)
{
    const bool shared = GetParam() == Backend::Postgres;
    TempDb tmp(TempDb::Start::Prepared, GetParam());
    const QString data = tmp.filePath("data");
    const QStringList mail{"--data-dir", data, "--db", tmp.path(), "settings", "mail"};
    const QString privateFile = tmp.filePath("pw-private");
    const QString openFile = tmp.filePath("pw-open");
    ASSERT_TRUE(writeTestFile(privateFile, "Datei 17!\nsecond line\n", 0600));
    ASSERT_TRUE(writeTestFile(openFile, "Offen 17!\n", 0644));
    const auto stored = [&] {
        const QString column =
            tmp.exec("SELECT email_passwort FROM OSTRACOM WHERE OSTRACOMID = -1").toString();
        if (shared) {
            EXPECT_EQ(column, "") << "not in the database";
        }
        return Database(tmp.path(), data, Database::Mode::Attach).mailSettings()->passwort;
    };

    const struct {
        QStringList args;
        QByteArray input;
        int exitCode;
        const char *stored;
        const char *says; // part of the error output
    } cases[] = {
        {{"--password-stdin", "--user", "wart"}, "Geheim 17! \r\nnext\n", 0, "Geheim 17! ", ""},
        {{"--password-file", privateFile}, "", 0, "Datei 17!", ""},
        {{"--password-file", openFile}, "", 1, "Datei 17!", "chmod 600"},
        {{"--password-stdin"}, "", 1, "Datei 17!", "No password on standard input"},
        {{"--password", "Zeile 17!"}, "", 2, "Datei 17!", "--password-stdin"},
        {{"--password=Zeile 17!"}, "", 2, "Datei 17!", "--password-file FILE"},
        {{"--password-stdin", "--password-file", privateFile}, "x\n", 2, "Datei 17!", "one way"},
        {{}, "", 0, "Datei 17!", ""},
        {{"--password-stdin"}, "\n", 0, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = runCli(mail + c.args, {.input = c.input});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_EQ(stored(), QString::fromUtf8(c.stored));
        EXPECT_TRUE(r.err.contains(QLatin1String(c.says))) << r.err.toStdString();
        EXPECT_FALSE((r.out + r.err).contains(QLatin1String(" 17!")))
            << "a password never reaches the console";
        EXPECT_EQ(r.out.contains("kept on this machine only"), shared && c.exitCode == 0)
            << r.out.toStdString();
    }
    EXPECT_TRUE(runCli(mail).out.contains("user      wart\npassword  (none)")) << "cleared";

    // Another machine sharing the database: its password is its own, none so far.
    ASSERT_EQ(runCli(mail + QStringList{"--password-stdin"}, {.input = "Geheim 17!\n"}).exitCode,
              0);
    const CliRun other = runCli(
        QStringList{"--data-dir", tmp.filePath("other"), "--db", tmp.path(), "settings", "mail"});
    EXPECT_EQ(other.exitCode, 0) << other.err.toStdString();
    EXPECT_TRUE(other.out.contains(shared ? "password  (none) - kept on this machine only"
                                          : "password  (set)\n"))
        << other.out.toStdString();
}

// What alarm-quality stores is what the store reads back; a controller that is not in the
// database is refused rather than given rows of its own.
TEST(CliAlarmQuality, storesAndShowsTheSettingsOfKnownControllersOnly)
{
    TempDb tmp;
    {
        Database db(tmp.path());
        db.saveRegulationRow(17, 2, 1, 6.5, 8.5, QStringLiteral("Becken links"));
    }
    // As the previous version left it: showing must bring it up to date, not fail.
    tmp.exec("DROP TABLE HYDOALARMQUALITAET");
    tmp.exec("ALTER TABLE OSTRACOM DROP COLUMN stale_alarm_seconds");
    tmp.exec("ALTER TABLE OSTRACOM DROP COLUMN mail_max_age_seconds");
    tmp.exec("PRAGMA user_version = 3");
    tmp.close();
    const QStringList base{"--data-dir", tmp.dir(), "alarm-quality"};
    const struct {
        QStringList args;
        int exitCode;
        const char *says;
    } cases[] = {
        {{"--controller", "17"}, 0, "Becken links\n"},
        {{"--controller", "17", "--regulation", "2-1", "--hysteresis", "0,25", "--hold", "30"},
         0,
         "2-1         0.25        30      0         Becken links\n"},
        {{"--controller", "17", "--repeat", "600"}, 0, "2-1         0.25        30      600 "},
        {{"--stale-after", "900"}, 0, "no-data alarm  after 900 s\n"},
        {{"--mail-max-age", "3600"}, 0, "alarm mails    given up after 3600 s\n"},
        {{"--mail-max-age", "604801"}, 2, "--mail-max-age needs whole seconds from 0 to 604800"},
        {{"--controller", "18", "--hold", "5"}, 1, "no controller #18"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = runCli(base + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE((c.exitCode == 0 ? r.out : r.err).contains(QLatin1String(c.says)))
            << r.out.toStdString() << r.err.toStdString();
    }
    Database db(tmp.path());
    EXPECT_EQ(db.alarmQuality(17, 2, 1), (AlarmQuality{0.25, 30, 600}));
    EXPECT_EQ(db.alarmQuality(17, 8, 4), (AlarmQuality{0, 0, 600})) << "all regulations";
    EXPECT_EQ(db.staleAlarmSeconds(), 900);
    EXPECT_EQ(db.outboxMaxAgeSeconds(), 3600) << "beside it, not in place of it";
    EXPECT_TRUE(db.alarmQualities(18).empty());
}

// Usage errors end with 2 and say what is wrong on standard error; help, asked in each way,
// ends with 0 and names the command's own options on standard output.
TEST(CliCommandLine, usageErrorsAndHelpOfEveryCommand)
{
    TempDb tmp;
    const struct {
        QStringList args;
        int exitCode;
        const char *says;
    } cases[] = {
        {{"frobnicate"}, 2, "Unknown command frobnicate"},
        {{}, 2, "Usage:"},
        {{"--bogus", "init"}, 2, "Unknown option 'bogus'"},
        {{"export", "--id", "1", "--bogus"}, 2, "Unknown option 'bogus'"},
        {{"init", "extra"}, 2, "no arguments"},
        {{"--lang"}, 2, "Missing value after '--lang'"},
        {{"probe", "--controller"}, 2, "Missing value after '--controller'"},
        {{"probe", "--controller", "udp:x"}, 2, "probe"},
        {{"program", "--controller", "tcp:a", "--controller", "tcp:b", "show"}, 2, "once"},
        {{"poll", "--controller", "tcp:127.0.0.1", "--interval", "86401"}, 2, "--interval"},
        {{"export", "--sensor", "9", "--id", "1"}, 2, "--sensor"},
        {{"export", "--sensor", "1"}, 2, "--controller is missing"},
        {{"export", "--controller", "tcp:127.0.0.1"}, 2, "by identifier, not by address"},
        {{"probe", "--controller", "1234"}, 2, "--controller 1234: a controller is reached at"},
        {{"settings", "smtp"}, 2, "smtp"},
        {{"alarm-quality", "--hold", "30"}, 2, "--controller is missing"},
        {{"alarm-quality", "--controller", "1", "--regulation", "9-1"}, 2, "--regulation"},
        {{"alarm-quality", "--controller", "1", "--repeat", "-5"}, 2, "--repeat"},
        {{"--help"}, 0, "answered without waiting"},
        {{"init", "--help"}, 0, "ostracom-cli init"},
        {{"probe", "-h"}, 0, "--controller ADDR"},
        {{"settings", "mail", "--help"}, 0, "--password-file FILE"},
        {{"help", "export"}, 0, "--controller, --id ID"},
        {{"mail-queue", "--help"}, 0, "--retry-now"},
        {{"mail-queue", "now"}, 2, "unexpected argument 'now'"},
        {{"check", "extra"}, 2, "unexpected argument 'extra'"},
        {{"check", "--max-lines", "many"}, 2, "--max-lines"},
        {{"chart", "--controller", "1", "--from", "2026-11-20", "--to", "2026-11-19", "--out",
          "c.png"},
         2,
         "before --to"},
        {{"chart", "--controller", "1", "--from", "2026-11-20", "--to", "2026-11-21", "--out",
          "c.gif"},
         2,
         ".png, .svg or .csv"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = runCli(QStringList{"--data-dir", tmp.dir()} + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        const QString &said = c.exitCode == 0 ? r.out : r.err;
        const QString &quiet = c.exitCode == 0 ? r.err : r.out;
        EXPECT_TRUE(said.contains(QLatin1String(c.says))) << said.toStdString();
        EXPECT_EQ(quiet, QString());
    }
    EXPECT_FALSE(QFile::exists(tmp.path())) << "a usage error or help touches no database";
}

TEST(CliChart, picturesAndTheCsvOfExactlyThePointsDrawn)
{
    TempDb tmp(TempDb::Start::Prepared);
    const QDateTime day(QDate(2026, 11, 20), QTime(0, 0));
    {
        Database db(tmp.path());
        std::vector<ArchiveRecord> records;
        for (int minute = 0; minute < 24 * 60; minute += 5)
            records.push_back(
                {Database::datumText(day.addSecs(60 * minute)), 7 + minute / 1440.0, 1234, 2});
        db.appendArchive(records, Database::SkipExisting::Yes);
        ASSERT_TRUE(db.createLogbookEntry(day.addSecs(6 * 3600), "new filter"));
    }
    const QStringList range{"--data-dir", tmp.dir(),          "chart", "--controller",    "1234",
                            "--from",     "2026-11-20 02:00", "--to",  "2026-11-20 20:00"};
    for (const char *name : {"c.png", "c.svg", "c.csv"}) {
        SCOPED_TRACE(name);
        const QString path = tmp.filePath(QLatin1String(name));
        const CliRun r = runCli(range + QStringList{"--out", path});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.startsWith("1 series and the logbook")) << r.err.toStdString();
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray content = f.readAll();
        if (path.endsWith(".png"))
            EXPECT_TRUE(content.startsWith("\x89PNG"));
        else if (path.endsWith(".svg"))
            EXPECT_TRUE(content.contains("<svg"));
        else
            // 217 stored values from 02:00 to 20:00 with two boundary points are fewer than
            // four per column: all of them, and the logbook entry with its two far points.
            EXPECT_EQ(content.count('\n'), 1 + 3 + 217) << content.left(400).toStdString();
    }
}

TEST(ProgramVersion, eachProgramPrintsTheVersionTheBuildWasConfiguredWith)
{
    const struct {
        const char *path;
        const char *name;
    } programs[] = {
        {OSTRACOM_CLI_PATH, "ostracom-cli"},
#ifdef OSTRACOM_GUI_PATH
        {OSTRACOM_GUI_PATH, "ostracom"},
#endif
    };
    for (const auto &program : programs) {
        SCOPED_TRACE(program.name);
        const CliRun r = runCli({"--version"}, {.program = QString::fromUtf8(program.path)});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, QStringLiteral("%1 %2\n").arg(program.name, OSTRACOM_PROJECT_VERSION));
        EXPECT_EQ(r.err, QString());
    }
}

// A summary row changed behind the program's back is found in each level, named with its
// sensor and slot, and mended by --repair; a dropped trigger comes back at the next open.
TEST(CliCheck, findsADifferenceInEachSummaryLevelAndRepairMendsIt)
{
    TempDb tmp(TempDb::Start::Prepared);
    const WallSecond start = *Database::wallSecond(u"2026-03-01 00:00:00");
    {
        Database db(tmp.path());
        std::vector<ArchiveRecord> records;
        for (int i = 0; i < 400; ++i)
            records.push_back({Database::datumText(start + i * 37), i % 17 * 0.5, 7, 1 + i % 2});
        db.appendArchive(records);
    }
    const QStringList check{"--db", tmp.path(), "check"};
    const QString agree = "All summaries agree with the archive.\n";
    const CliRun clean = runCli(check);
    EXPECT_EQ(clean.exitCode, 0) << clean.err.toStdString();
    EXPECT_TRUE(clean.out.endsWith(agree)) << clean.out.toStdString();

    const struct {
        int slot;
        const char *level;
    } levels[] = {
        {60, "Minute summaries"}, {600, "Ten-minute summaries"}, {3600, "Hourly summaries"}};
    for (const auto &l : levels) {
        SCOPED_TRACE(l.level);
        const QString table = QStringLiteral("HYDOARCHIVE_SUMMARY_%1").arg(l.slot);
        const QString maximum =
            tmp.exec(QStringLiteral("SELECT MAXWERT FROM %1 WHERE TARVELONID = 7 AND ASID = 1 AND "
                                    "SLOT = ?")
                         .arg(table),
                     {start})
                .toString();
        tmp.exec(QStringLiteral("UPDATE %1 SET MAXWERT = 99 WHERE TARVELONID = 7 AND ASID = 1 AND "
                                "SLOT = ?")
                     .arg(table),
                 {start});
        const CliRun found = runCli(check);
        EXPECT_EQ(found.exitCode, 1) << found.err.toStdString();
        EXPECT_TRUE(found.out.startsWith(
            QStringLiteral("%1  Tarvelon 7  Sensor 1  2026-03-01 00:00:00  stored: MAXWERT=99  "
                           "from the archive: MAXWERT=%2\n")
                .arg(l.level, maximum)))
            << found.out.toStdString();
        EXPECT_TRUE(found.out.contains(QStringLiteral(", 1 differences\n")))
            << found.out.toStdString();

        const CliRun repaired = runCli(check + QStringList{"--repair"});
        EXPECT_EQ(repaired.exitCode, 0) << repaired.err.toStdString();
        EXPECT_TRUE(repaired.out.contains(QStringLiteral("Rebuilding: %1\n").arg(l.level)))
            << repaired.out.toStdString();
        EXPECT_TRUE(repaired.out.endsWith(agree)) << repaired.out.toStdString();
        EXPECT_EQ(runCli(check).exitCode, 0);
    }

    tmp.exec("UPDATE HYDOARCHIVE_SUMMARY_60 SET N = N + 1 WHERE ASID = 2");
    const qint64 changed = tmp.count("HYDOARCHIVE_SUMMARY_60", "ASID = 2");
    const CliRun many = runCli(check + QStringList{"--max-lines", "2"});
    EXPECT_EQ(many.exitCode, 1);
    EXPECT_EQ(many.out.count("  stored: N="), 2) << many.out.toStdString();
    EXPECT_TRUE(many.out.contains(QStringLiteral("... %1 more differences\n").arg(changed - 2)))
        << many.out.toStdString();
    EXPECT_EQ(runCli(check + QStringList{"--repair"}).exitCode, 0);

    tmp.exec("DROP TRIGGER HYDOARCHIVE_SUMMARY_INSERT");
    tmp.exec("INSERT INTO HYDOARCHIVE (TARVELONID, ASID, DATUM, WERT) VALUES (7, 1, "
             "'2026-03-02 12:00:00', 5)");
    const CliRun restored = runCli(check);
    EXPECT_EQ(restored.exitCode, 0) << restored.out.toStdString();
    EXPECT_TRUE(restored.err.contains("were restored and the summaries rebuilt: "
                                      "HYDOARCHIVE_SUMMARY_INSERT\n"))
        << restored.err.toStdString();
    EXPECT_TRUE(restored.out.endsWith(agree));
}
