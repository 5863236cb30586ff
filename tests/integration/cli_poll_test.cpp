// The headless service as a user runs it: ostracom-cli poll against the emulator, with a
// scripted value crossing and leaving the limits and a real SMTP server receiving the mails.

#include "support/cli_run.h"
#include "support/files.h"
#include "support/sim_process.h"
#include "support/smtp_server.h"
#include "support/temp_db.h"

#include "store/database.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <optional>
#include <unistd.h>

namespace
{

class CliPoll : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureCoreApplication();
        ASSERT_TRUE(m_smtp.start()) << m_smtp.error().toStdString();
        m_values = m_sim.scratchPath(QStringLiteral("values.txt"));
        setValue(25.0);
        ASSERT_TRUE(m_sim.launch({"--quiet", "--interval", "1", "--values", m_values}));
        m_address = QStringLiteral("tcp:127.0.0.1:%1").arg(m_sim.port());
    }

    void setValue(double celsius)
    {
        ASSERT_TRUE(writeTestFile(m_values, "1=" + QByteArray::number(celsius) + "\n"));
    }

    QStringList globalArgs() const
    {
        // German keys as they stand, so the texts below are the program's own.
        return {"--data-dir", m_data.path(), "--lang", "DEUTSCH"};
    }

    // Runs the CLI on this test's data folder; out takes standard output.
    int cli(const QStringList &args, QString *out = nullptr)
    {
        const CliRun r = runCli(globalArgs() + args);
        if (out)
            *out = r.out;
        return r.exitCode;
    }

    // Starts the service against the emulator in m_poll.
    void startPoll()
    {
        m_poll.emplace(globalArgs() +
                       QStringList{"poll", "--controller", m_address, "--interval", "1"});
        ASSERT_TRUE(m_poll->started());
    }

    int setMailServer(const QString &address)
    {
        return cli({"settings", "mail", "--server", address, "--receiver",
                    "keeper@aquarium.example", "--sender", "ostracom@aquarium.example",
                    "--enable"});
    }

    QStringList subjects() const
    {
        QStringList s;
        for (const ReceivedMail &m : m_smtp.messages())
            s << m.header(QStringLiteral("Subject"));
        return s;
    }

    // Waits (bounded) until the server holds `count` messages.
    bool waitForMails(int count)
    {
        return pollUntil([&] { return m_smtp.messages().size() >= count; });
    }

    QTemporaryDir m_data;
    SmtpServer m_smtp;
    SimProcess m_sim;
    QString m_values;
    QString m_address;
    std::optional<WatchedCli> m_poll;
};

} // namespace

TEST_F(CliPoll, archivesAndMailsEveryCrossingAndReturnOfTheLimits)
{
    ASSERT_EQ(setMailServer(m_smtp.address()), 0);

    // Regulation 1 of the temperature sensor warns above 26 °C; its alarm limit is 27 °C.
    // Regulation 2 of the same sensor warns at its alarm limit, as a new regulation does.
    // (Set before the service starts: the emulator serves one client at a time.)
    ASSERT_EQ(
        cli({"program", "--controller", m_address, "set", "Regelung(1,1).SW_ObereWarnung=26"}), 0);
    startPoll();
    QThread::sleep(3);
    EXPECT_TRUE(m_smtp.messages().isEmpty()) << "25 °C is inside every limit";

    setValue(26.5);
    ASSERT_TRUE(waitForMails(1)) << subjects().join(", ").toStdString();
    const ReceivedMail warning = m_smtp.messages().first();
    EXPECT_EQ(warning.header("Subject"), QStringLiteral("Ostracom---Warnung"));
    EXPECT_EQ(warning.rcptTos, QStringList{"keeper@aquarium.example"});
    // The body's exact wording is checked by the unit test of the limits; here: the value
    // read from the emulator and the limit set through the CLI reach the mail.
    EXPECT_TRUE(
        warning.body.contains(QStringLiteral("(26.5 °C) überschreitet die Grenze von 26°C")))
        << warning.body.toStdString();

    setValue(27.5);
    ASSERT_TRUE(waitForMails(4)) << subjects().join(", ").toStdString();
    setValue(25.0);
    ASSERT_TRUE(waitForMails(8)) << subjects().join(", ").toStdString();
    QThread::sleep(2);
    EXPECT_EQ(subjects().size(), 8) << "each change of state is reported once";
    EXPECT_EQ(subjects().count(QStringLiteral("Ostracom---Alarm")), 2);
    EXPECT_EQ(subjects().count(QStringLiteral("Ostracom---Alarmende")), 2);
    EXPECT_EQ(subjects().count(QStringLiteral("Ostracom---Entwarnung")), 2);

    m_poll->signal(SIGTERM);
    ASSERT_TRUE(m_poll->finish(15000));
    EXPECT_EQ(m_poll->exitCode(), 0) << "SIGTERM ends the service cleanly";
    EXPECT_TRUE(m_poll->output().contains(QLatin1String("stopped")));

    const QStringList lines = fileLines(m_data.filePath(QStringLiteral("ostracom.log")));
    EXPECT_EQ(lines.size(), 16) << "two log lines per notification";
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("E-Mail Versand erfolgreich durchgeführt !")));

    QString csv;
    ASSERT_EQ(cli({"export", "--id", "1234", "--sensor", "1"}, &csv), 0);
    const QStringList rows = csv.split('\n', Qt::SkipEmptyParts);
    ASSERT_GT(rows.size(), 5);
    EXPECT_EQ(rows.first(), QStringLiteral("DATUM,TARVELONID,ASID,WERT,BEMERKUNG"));
    EXPECT_TRUE(csv.contains(QLatin1String(",1234,1,27.5,"))) << "the scripted value was archived";
}

TEST_F(CliPoll, aControllerThatDoesNotAnswerIsReportedAndTheOthersGoOn)
{
    QString out;
    EXPECT_EQ(
        cli({"poll", "--controller", QStringLiteral("tcp:127.0.0.1:%1").arg(closedLocalPort()),
             "--controller", m_address, "--cycles", "2", "--interval", "1"},
            &out),
        0);
    EXPECT_EQ(out.count(QLatin1String("not connected: Verbindungsfehler ! cannot connect to")), 3)
        << "at start and again in each cycle:\n"
        << out.toStdString();
    EXPECT_EQ(out.count(QStringLiteral("#1234  1: 25.0 °C")), 2) << out.toStdString();
}

// With the no-data alarm on, a silent controller is mailed once and shown as such.
TEST_F(CliPoll, aSilentControllerIsMailedOnceWhenTheNoDataAlarmIsOn)
{
    ASSERT_EQ(setMailServer(m_smtp.address()), 0);
    ASSERT_EQ(cli({"alarm-quality", "--stale-after", "1"}), 0);
    QString out;
    EXPECT_EQ(
        cli({"poll", "--controller", QStringLiteral("tcp:127.0.0.1:%1").arg(closedLocalPort()),
             "--cycles", "4", "--interval", "1"},
            &out),
        0);
    EXPECT_TRUE(out.contains(QLatin1String("not connected: Verbindungsfehler ! cannot connect to "
                                           "127.0.0.1")));
    EXPECT_GE(out.count(QLatin1String("NO DATA since")), 2) << out.toStdString();
    ASSERT_TRUE(waitForMails(1));
    EXPECT_EQ(subjects(), QStringList{"Ostracom---Keine Daten"});
}

// A mail server that never answers holds up neither the cycle nor the end of the service:
// one stop signal cuts the attempt short and keeps the mails; a second one ends at once.
TEST_F(CliPoll, aStopSignalEndsTheServiceWhileTheMailServerHangs)
{
    SmtpServer hanging({.mode = SmtpServerOptions::Mode::Hang});
    ASSERT_TRUE(hanging.start()) << hanging.error().toStdString();
    ASSERT_EQ(setMailServer(hanging.address()), 0);
    setValue(35.0); // beyond the alarm limit: the first cycle sends mails
    const struct {
        int stops;
        int exitCode;
    } cases[] = {{1, 0}, {2, 128 + SIGINT}};
    int waiting = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stops);
        waiting += 4; // each start mails the alarm states it finds
        startPoll();
        ASSERT_TRUE(m_poll->waitForOutput("archived")) << m_poll->output().toStdString();
        QThread::sleep(1);
        ASSERT_TRUE(m_poll->running());
        for (int i = 0; i < c.stops; ++i) {
            m_poll->signal(SIGINT);
            QThread::msleep(50);
        }
        EXPECT_TRUE(m_poll->finish(3000)) << "the mail's 30-second bound was not waited out";
        EXPECT_EQ(m_poll->exitCode(), c.exitCode);
        QString queue;
        EXPECT_EQ(cli({"mail-queue"}, &queue), 0);
        EXPECT_TRUE(queue.contains(QStringLiteral("%1 alarm mail(s) wait.").arg(waiting)))
            << queue.toStdString();
    }
}

TEST_F(CliPoll, filesGoToTheDataFolderAndReadingNeverCreatesADatabase)
{
    QTemporaryDir cwd;
    auto run = [&](const QStringList &args) {
        return runCli(args, {.workingDirectory = cwd.path()});
    };
    // With only --db, the data folder is the database's folder, never the current one.
    const QString db = m_data.filePath(QStringLiteral("site/archive.db"));
    ASSERT_TRUE(QDir().mkpath(m_data.filePath(QStringLiteral("site"))));
    // Two cycles: the first may come before the emulator's first record.
    EXPECT_EQ(
        run({"--db", db, "poll", "--controller", m_address, "--cycles", "2", "--interval", "1"})
            .exitCode,
        0);
    EXPECT_TRUE(QFile::exists(m_data.filePath(QStringLiteral("site/ostracom.lock"))));
    EXPECT_TRUE(QDir(cwd.path()).isEmpty());

    // The polled controller is 1234: by either name of the option its rows, by no other
    // identifier any; a controller is not found at an address where none answers.
    const QString nobody = QStringLiteral("tcp:127.0.0.1:%1").arg(closedLocalPort());
    const struct {
        QStringList args;
        int exitCode;
        QString says; // on standard error, or in the CSV on success
    } cases[] = {
        {{"--db", db, "probe", "--controller", nobody}, 1, nobody + ": "},
        {{"--db", db, "program", "--controller", nobody, "show"}, 1, nobody + ": "},
        {{"--db", m_data.filePath("typo.db"), "export", "--id", "1234"}, 1, "does not exist"},
        {{"--db", db, "export", "--id", "1234", "--from", "2026-12-02", "--to", "2026-12-01"},
         2,
         "lies after"},
        {{"--db", db, "export", "--id", "1234", "--from", "2026-12-01"}, 0, ",1234,1,"},
        {{"--db", db, "export", "--controller", "1234", "--from", "2026-12-01"}, 0, ",1234,1,"},
        {{"--db", db, "export", "--controller", "1235"}, 1, "There is no controller #1235 in"},
        {{"--db", db, "alarm-quality", "--controller", "1235"}, 1, "no controller #1235"},
        {{"--db", db, "chart", "--controller", "1235", "--from", "2026-12-01", "--to", "2026-12-02",
          "--out", cwd.filePath("c.png")},
         1,
         "no controller #1235"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const CliRun r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE((c.exitCode == 0 ? r.out : r.err).contains(c.says))
            << r.out.left(300).toStdString() << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(m_data.filePath("typo.db")));
    EXPECT_FALSE(QFile::exists(cwd.filePath("c.png")));
}

// A small memory file system of its own (root only: a mount namespace) plays the full disk.
TEST_F(CliPoll, aFullDiskIsReportedAsFullNotAsADamagedDatabase)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a private mount";
    ASSERT_EQ(cli({"init"}), 0);
    QTemporaryDir disk;
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=400k tmpfs \"$1\" && cp \"$2/ostracom.db\" \"$1\" && "
        "(dd if=/dev/zero of=\"$1/fill\" bs=1k count=1000 2>/dev/null; true) && "
        "exec \"$3\" --data-dir \"$1\" settings mail --server smtp.example.org");
    const CliRun r = runCli({"-m", "sh", "-c", script, "sh", disk.path(), m_data.path(),
                             QStringLiteral(OSTRACOM_CLI_PATH)},
                            {.program = QStringLiteral("unshare")});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QLatin1String("the disk is full"))) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QLatin1String("damaged"))) << r.err.toStdString();
}

// The mail server is unreachable while a regulation goes into alarm: the mails wait in the
// outbox through a killed service and its restart, a retry asked from the command line is
// taken up, and once the settings name a working server each mail arrives exactly once.
TEST_F(CliPoll, alarmMailsWaitThroughAKillAndArriveOnceTheServerIsThere)
{
    const QString down = QStringLiteral("127.0.0.1:%1").arg(closedLocalPort());
    ASSERT_EQ(setMailServer(down), 0);
    setValue(35.0); // beyond the warning and alarm limits of regulations 1 and 2
    startPoll();
    ASSERT_TRUE(m_poll->waitForOutput("4 alarm mail(s) wait in the outbox; last failure: 1 --- "))
        << m_poll->output().toStdString();
    m_poll->kill();
    QString queue;
    EXPECT_EQ(cli({"mail-queue"}, &queue), 0);
    EXPECT_EQ(queue.count(QLatin1String("Ostracom---Alarm ")), 2) << queue.toStdString();
    EXPECT_EQ(queue.count(QLatin1String("Ostracom---Warnung ")), 2) << queue.toStdString();
    EXPECT_TRUE(queue.contains(QLatin1String("4 alarm mail(s) wait."))) << queue.toStdString();
    EXPECT_TRUE(queue.contains(QLatin1String("1 --- Bad argument given"))) << queue.toStdString();

    // Without a service the command sends them itself, and says that it failed; the
    // mails behind a failed one are not sent to the same dead server.
    EXPECT_EQ(cli({"mail-queue", "--retry-now"}, &queue), 1);
    EXPECT_EQ(queue.count(QLatin1String("failed: 1 --- ")), 1) << queue.toStdString();
    EXPECT_EQ(queue.count(QLatin1String("not tried")), 3) << queue.toStdString();

    // The restarted service tries them at once; a retry asked meanwhile is taken up. (Back
    // inside the limits, so the restart has no new crossing of its own to mail.)
    setValue(25.0);
    QThread::sleep(2); // the emulator records a value at 25 °C, the newest the restart reads
    startPoll();
    ASSERT_TRUE(m_poll->waitForOutput("alarm mail(s) wait in the outbox"));
    EXPECT_EQ(cli({"mail-queue", "--retry-now"}, &queue), 0);
    EXPECT_TRUE(queue.contains(QLatin1String("The running poller tries the waiting mails now")))
        << queue.toStdString();
    EXPECT_TRUE(m_smtp.messages().isEmpty());

    // A new mail server reaches the running service at its next cycle.
    ASSERT_EQ(setMailServer(m_smtp.address()), 0);
    ASSERT_TRUE(waitForMails(4)) << subjects().join(", ").toStdString();
    QThread::sleep(3);
    QStringList got = subjects();
    got.sort();
    EXPECT_EQ(got, (QStringList{"Ostracom---Alarm", "Ostracom---Alarm", "Ostracom---Warnung",
                                "Ostracom---Warnung"}))
        << "each mail once: " << got.join(", ").toStdString();
    EXPECT_EQ(cli({"mail-queue"}, &queue), 0);
    EXPECT_TRUE(queue.contains(QLatin1String("No alarm mail waits."))) << queue.toStdString();
}

// Warning limits and descriptions stored by another program count from the next cycle.
TEST_F(CliPoll, aWarningLimitStoredMeanwhileCountsFromTheNextCycle)
{
    ASSERT_EQ(setMailServer(m_smtp.address()), 0);
    startPoll();
    ASSERT_TRUE(m_poll->waitForOutput("#1234  1: 25.0 °C")) << m_poll->output().toStdString();
    QThread::sleep(2);
    EXPECT_TRUE(m_smtp.messages().isEmpty()) << "25 °C is inside every limit";
    {
        Database db(m_data.filePath(QStringLiteral("ostracom.db")));
        db.saveRegulationUpperWarning(1234, 1, 1, 24.5);
        db.saveRegulationBeschreibung(1234, 1, 1, QStringLiteral("Becken links"));
    }
    ASSERT_TRUE(waitForMails(1)) << m_poll->output().toStdString();
    const ReceivedMail warning = m_smtp.messages().first();
    EXPECT_EQ(warning.header("Subject"), QStringLiteral("Ostracom---Warnung"));
    EXPECT_TRUE(warning.body.contains(QStringLiteral("Becken links")));
    EXPECT_TRUE(warning.body.contains(QStringLiteral("überschreitet die Grenze von 24.5°C")))
        << warning.body.toStdString();
}
