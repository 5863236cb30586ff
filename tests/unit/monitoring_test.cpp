// The measurement download with its safe archiving, and the limit checks with their
// notifications, against a scripted controller in virtual time and a real SQLite file.

#include "support/answer_ok.h"
#include "support/download_rig.h"
#include "support/fake_transport.h"
#include "support/files.h"
#include "support/temp_db.h"
#include "support/text_checks.h"

#include "link/encodings.h"
#include "link/progress.h"
#include "model/ctarvelon.h"
#include "model/interaction.h"
#include "model/notifier.h"
#include "model/program_change.h"
#include "service/controller_poll.h"
#include "store/archive_spool.h"
#include "store/database.h"
#include "store/strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <ctime>
#include <functional>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlQuery>

namespace
{

class RecordingNotifier : public Notifier
{
public:
    struct Mail {
        QString subject;
        QString body;
    };
    QList<Mail> mails;
    QString answer;
    QString notify(const QString &subject, const QString &body) override
    {
        mails.append({subject, body});
        return answer;
    }
};

constexpr int kId = 1234;

const QDateTime kT0(QDate(2026, 12, 4), QTime(10, 0, 0));

class Download : public ::testing::Test, protected ConnectedController
{
protected:
    void SetUp() override { ASSERT_EQ(connected, Error()); }

    qint64 archived() { return tmp.count("HYDOARCHIVE", "TARVELONID=?", {kId}); }
};

} // namespace

TEST_F(Download, recordsAreArchivedOnceScaledAndTheNewestValuePerSensorWins)
{
    fake.controller.setPayload(
        "DO", storedData({{1, 235, kT0}, {2, 712, kT0.addSecs(1)}, {1, -15, kT0.addSecs(10)}}));
    EXPECT_EQ(downloader.get_comp(), Error());
    EXPECT_EQ(archived(), 3);
    EXPECT_EQ(downloader.lastDownload().archived, 3);
    EXPECT_EQ(fake.controller.bursts("DL"), 1) << "acknowledged once the records are safe";
    EXPECT_FLOAT_EQ(t.Sensor(1).CurVal(), -1.5f);
    EXPECT_EQ(t.Sensor(1).datum(), kT0.addSecs(10));
    EXPECT_FLOAT_EQ(t.Sensor(2).CurVal(), 7.12f);
    EXPECT_DOUBLE_EQ(tmp.exec("SELECT WERT FROM HYDOARCHIVE WHERE ASID=2").toDouble(), 7.12);
    EXPECT_EQ(tmp.exec("SELECT DATUM FROM HYDOARCHIVE WHERE ASID=2").toString(),
              QStringLiteral("2026-12-04 10:00:01"));

    // The acknowledgement got lost: the controller sends the same records again.
    fake.controller.setPayload("DO", storedData({{1, 235, kT0},
                                                 {2, 712, kT0.addSecs(1)},
                                                 {1, -15, kT0.addSecs(10)},
                                                 {1, 251, kT0.addSecs(20)}}));
    EXPECT_EQ(downloader.get_comp(), Error());
    EXPECT_EQ(archived(), 4);
    EXPECT_EQ(downloader.lastDownload().archived, 1) << "records already archived are not counted";
}

// Alarm qualities stored by another program count from the next poll on (warning limits and
// descriptions too, as the polling service shows), but not over edits the programming dialog
// holds unstored; a database that cannot be read keeps the ones in use and says so.
TEST_F(Download, storedRegulationSettingsAreTakenUpByThePollUnlessTheDialogHoldsEdits)
{
    fake.controller.setPayload("DO", storedData({}));
    db.saveAlarmQuality(kId, 2, 3, {0.5, 30, 600});
    db.saveRegulationUpperWarning(kId, 2, 3, 8.25);
    EXPECT_EQ(pollController(t, &spool).settingsProblem, QString());
    EXPECT_EQ(t.Regelung(2, 3).alarmQuality(), (AlarmQuality{0.5, 30, 600}));
    EXPECT_EQ(t.Regelung(2, 4).alarmQuality(), AlarmQuality{});

    t.holdRegulationWrites();
    t.Regelung(2, 3).set_alarmQuality({0, 5, 0});
    t.Regelung(2, 3).set_SW_ObereWarnung(9.5f);
    pollController(t, &spool);
    EXPECT_EQ(t.Regelung(2, 3).alarmQuality(), (AlarmQuality{0, 5, 0}));
    EXPECT_FLOAT_EQ(t.Regelung(2, 3).SW_ObereWarnung(), 9.5f);
    EXPECT_EQ(t.writeHeldRegulations(), Error());
    EXPECT_EQ(db.alarmQuality(kId, 2, 3), (AlarmQuality{0, 5, 0}));
    EXPECT_DOUBLE_EQ(db.regulationRow(kId, 2, 3)->upperWarning, 9.5);

    tmp.exec("DROP TABLE HYDOALARMQUALITAET");
    EXPECT_TRUE(holds(pollController(t, &spool).settingsProblem, "alarm qualities"));
    EXPECT_EQ(t.Regelung(2, 3).alarmQuality(), (AlarmQuality{0, 5, 0}));
}

// "DL" makes the controller forget everything it announced: it goes out only when every
// announced record is safe, and never for an empty download.
TEST_F(Download, nothingIsAcknowledgedUnlessAllAnnouncedRecordsArrived)
{
    const struct {
        const char *name;
        QByteArray payload;
        bool linkLost;
        Error error;
        qint64 archived; // in total, after the case
    } cases[] = {
        {"no records", storedData({}), false, Error(), 0},
        {"two of five", storedData({{1, 250, kT0}, {2, 780, kT0}}, 5), false,
         Error(ErrorCode::IncompleteRecords, "2", "5"), 2},
        {"link lost", storedData({{1, 250, kT0.addSecs(60)}}), true,
         Error(ErrorCode::NoLinkReceive), 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake.controller.setPayload("DO", c.payload);
        fake.controller.dropMidAnswer(c.linkLost);
        EXPECT_EQ(downloader.get_comp(), c.error);
        EXPECT_EQ(archived(), c.archived);
        EXPECT_EQ(fake.controller.bursts("DL"), 0);
        EXPECT_FALSE(downloader.lastDownload().acknowledged);
    }
}

// A "DL" that fails leaves the records on the controller: the poll reports them archived
// but not acknowledged, and why.
TEST_F(Download, aFailedAcknowledgementIsReportedWithItsCause)
{
    const struct {
        const char *name;
        std::function<void(FakeController &, bool on)> fault;
        Error cause;
    } cases[] = {
        {"bad checksum",
         [](FakeController &c, bool on) {
             if (on)
                 c.setRawAnswer("DL", framedAnswer("SnapshotNr Data", "0001", "End Data", 1));
             else
                 c.setPayload("DL", "0001");
         },
         Error(ErrorCode::Communication)},
        {"no answer",
         [](FakeController &c, bool on) {
             if (on)
                 c.forget("DL");
             else
                 c.setPayload("DL", "0001");
         },
         Error(ErrorCode::Timeout)},
        {"write fails", [](FakeController &c, bool on) { c.failWritesOf(on ? "DL" : ""); },
         Error(ErrorCode::Runtime, "broken pipe (fake)")},
        {"flooded", [](FakeController &c, bool on) { c.floodOn(on ? "DL" : ""); },
         Error(ErrorCode::ReceiveOverflow, QString::number(kReceiveLimit + 1))},
    };
    int minute = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake.controller.setPayload("DO", storedData({{1, 250, kT0.addSecs(60 * ++minute)}}));
        c.fault(fake.controller, true);
        const PollResult poll = pollController(t, &spool);
        c.fault(fake.controller, false);
        EXPECT_EQ(poll.error, Error::because(ErrorCode::NotAcknowledged, c.cause));
        EXPECT_EQ(poll.download.archived, 1);
        EXPECT_FALSE(poll.download.acknowledged);
    }
    const PollResult recovered = pollController(t, &spool);
    EXPECT_EQ(recovered.error, Error());
    EXPECT_TRUE(recovered.download.acknowledged);
}

TEST_F(Download, unreadableRecordsAreKeptVerbatimAsRejectsNeverArchived)
{
    const struct {
        const char *name;
        int from;       // first replaced digit of the second record
        QString digits; // what replaces it
    } cases[] = {
        {"value not hex", 4, "ZZ"},
        {"date not hex", 16, "G1"},
        {"time beyond one day", 8, HexSinglePut(QString(8, QLatin1Char('0')), 0, 90000.0f)},
        {"time rounding to the next day", 8,
         HexSinglePut(QString(8, QLatin1Char('0')), 0, 86399.75f)},
        {"date not a day", 16, HexSinglePut(QString(8, QLatin1Char('0')), 0, -3.0f)},
    };
    int expectedRejects = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QDateTime when = kT0.addSecs(60 * ++expectedRejects);
        QString payload = QString::fromLatin1(storedData({{1, 250, when}, {2, 780, when}}));
        payload.replace(4 + 24 + c.from, c.digits.size(), c.digits);
        fake.controller.setPayload("DO", payload.toLatin1());
        const qint64 before = archived();
        EXPECT_EQ(downloader.get_comp().code, ErrorCode::RecordsRejected);
        EXPECT_EQ(archived(), before + 1) << "the readable record is archived";
        EXPECT_EQ(downloader.lastDownload().rejected, 1);
        EXPECT_TRUE(downloader.lastDownload().acknowledged)
            << "a kept reject is safe to acknowledge";
        const QStringList rejects = fileLines(spool.rejectsPath());
        ASSERT_EQ(rejects.size(), expectedRejects);
        EXPECT_TRUE(holds(rejects.last(), payload.mid(4 + 24, 24)));
    }
    EXPECT_EQ(tmp.count("HYDOARCHIVE", "DATUM < '2000-01-01' OR ASID = 2"), 0);
}

TEST_F(Download, theControllersClockReadingIsArchivedAsItStandsInTheSummerTimeGap)
{
    // 02:30 on the last Sunday of March does not exist in Central Europe, but the
    // controller's clock shows it.
    const QDateTime gap(QDate(2026, 3, 29), QTime(2, 30, 0), Qt::UTC);
    fake.controller.setPayload("DO", storedData({{1, 250, gap}, {1, 251, gap.addSecs(10)}}));
    struct LocalZone {
        const QByteArray old = qgetenv("TZ");
        LocalZone() { qputenv("TZ", "Europe/Berlin"), tzset(); }
        ~LocalZone() { old.isNull() ? qunsetenv("TZ") : qputenv("TZ", old), tzset(); }
    } berlin;
    EXPECT_EQ(downloader.get_comp(), Error());
    EXPECT_EQ(tmp.exec("SELECT GROUP_CONCAT(DATUM, '|') FROM HYDOARCHIVE").toString(),
              QStringLiteral("2026-03-29 02:30:00|2026-03-29 02:30:10"));
    EXPECT_TRUE(downloader.lastDownload().acknowledged);
}

// A closing program may abandon the download between archiving and acknowledging: what was
// archived but not acknowledged comes again and is skipped. (Abandoned mid-answer, the window's
// exit proves that nothing unarchived is acknowledged.)
TEST_F(Download, anAbandonedDownloadLosesNothingAndArchivesNothingTwice)
{
    // Sets the flag once the answer is complete.
    struct Trip : Progress {
        std::atomic<bool> flag{false};
        void DisplayProgress(const QString &, qint64 current, qint64 maximum) override
        {
            if (current == maximum && current > 0)
                flag = true;
        }
    } trip;
    cTarvelon mine{fake.clock, trip, interaction};
    MeasurementDownload mineDownload{mine, &spool};
    ASSERT_EQ(mine.connect(false, "ctl.example", "4001", &db, fake.link.get()), Error());
    trip.flag = false; // the connection's own reads tripped it
    fake.link->setAbandonFlag(&trip.flag);
    fake.controller.setPayload("DO", storedData({{1, 250, kT0}, {2, 780, kT0}}));
    EXPECT_EQ(mineDownload.get_comp(),
              Error::because(ErrorCode::NotAcknowledged, Error(ErrorCode::Abandoned)));
    EXPECT_EQ(archived(), 2);
    EXPECT_FALSE(mineDownload.lastDownload().acknowledged);
    EXPECT_EQ(fake.controller.bursts("DL"), 0);

    // The next program's download brings them again and skips them.
    fake.link->setAbandonFlag(nullptr);
    EXPECT_EQ(mineDownload.get_comp(), Error());
    EXPECT_EQ(archived(), 2);
    EXPECT_EQ(mineDownload.lastDownload().archived, 0);
    EXPECT_TRUE(mineDownload.lastDownload().acknowledged);
    EXPECT_EQ(fake.controller.bursts("DL"), 1);
}

TEST_F(Download, aLockedDatabaseSpoolsTheRecordsAndTheNextCycleWritesThem)
{
    {
        DatabaseHolder lock(tmp.path());
        fake.controller.setPayload("DO", storedData({{1, 250, kT0}, {2, 780, kT0}}));
        EXPECT_EQ(downloader.get_comp().cause, ErrorCode::DatabaseBusy)
            << "the database's refusal is reported";
        EXPECT_EQ(downloader.lastDownload().spooled, 2);
        EXPECT_TRUE(downloader.lastDownload().databaseBusy);
        EXPECT_EQ(spool.pending(), 2);
        EXPECT_EQ(fake.controller.bursts("DL"), 1) << "spooled records are safe to acknowledge";
        EXPECT_FLOAT_EQ(t.Sensor(2).CurVal(), 7.8f) << "current values still follow the download";
        // Not acknowledged (a short batch): the same records come again and are spooled once.
        fake.controller.setPayload("DO", storedData({{1, 250, kT0}, {2, 780, kT0}}, 3));
        downloader.get_comp();
        EXPECT_EQ(spool.pending(), 2);
    }
    fake.controller.setPayload("DO", storedData({{1, 251, kT0.addSecs(10)}}));
    EXPECT_EQ(downloader.get_comp(), Error());
    EXPECT_EQ(archived(), 3);
    EXPECT_EQ(downloader.lastDownload().archived, 3);
    EXPECT_EQ(spool.pending(), 0);
    EXPECT_FALSE(QFile::exists(spool.path()));
}

// Records no spool can take stay with the controller for the next cycle.
TEST_F(Download, aSpoolThatCannotBeWrittenAcknowledgesNothingAndStaysWhole)
{
    DatabaseHolder lock(tmp.path());
    ASSERT_TRUE(QDir().mkpath(spool.path())) << "a folder where the spool file should go";
    fake.controller.setPayload("DO", storedData({{1, 250, kT0}}));
    EXPECT_EQ(downloader.get_comp().cause, ErrorCode::DatabaseBusy);
    EXPECT_EQ(fake.controller.bursts("DL"), 0);
    ASSERT_TRUE(QDir().rmdir(spool.path()));
    downloader.get_comp();
    ASSERT_EQ(spool.pending(), 1);
    const QStringList before = fileLines(spool.path());

    // The file size limit plays the full disk: the new spool cannot be written whole.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(QFileInfo(spool.path()).size() + 10);
    setrlimit(RLIMIT_FSIZE, &small);
    QList<Rec> many;
    for (int i = 1; i <= 20; ++i)
        many.append({1, 250 + i, kT0.addSecs(10 * i)});
    fake.controller.setPayload("DO", storedData(many));
    EXPECT_EQ(downloader.get_comp().cause, ErrorCode::DatabaseBusy);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(fake.controller.bursts("DL"), 1) << "only the first download was acknowledged";
    EXPECT_EQ(fileLines(spool.path()), before) << "no torn line";
    fake.controller.setPayload("DO", storedData({{2, 700, kT0}}));
    downloader.get_comp();
    EXPECT_EQ(spool.pending(), 2) << "the next record follows on a line of its own";
}

TEST_F(Download, aDamagedSpoolIsReportedSetAsideAndItsReadableRecordsArchived)
{
    {
        QFile f(spool.path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("2026-12-04 09:00:00\t24.5\t1234\t1\ngarbage\n2026-12-04 09:00:10\t24.");
    }
    fake.controller.setPayload("DO", storedData({{1, 250, kT0}}));
    EXPECT_EQ(downloader.get_comp(), Error());
    EXPECT_TRUE(holds(downloader.lastDownload().spoolProblem, "unreadable"));
    EXPECT_EQ(archived(), 2);
    EXPECT_FALSE(QFile::exists(spool.path()));
    const QStringList kept = QDir(tmp.dir()).entryList({"archive.spool.damaged-*"});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(fileLines(QDir(tmp.dir()).filePath(kept[0])).size(), 3) << "kept verbatim";
}

namespace
{

class Limits : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        t.set_HydoProgramString(QString(5630, QLatin1Char('0')));
        t.set_aq_id(kId);
        t.setKalibController(QString::fromLatin1(calibrationImage()));
        t.setNotifier(&notifier);
        cHydoRegelung &r = reg();
        r.set_Regelart(2);
        r.set_RW_UntererAlarm(23.0f);
        r.set_RW_ObererAlarm(27.0f);
        r.set_SW_UntereWarnung(23.5f);
        r.set_SW_ObereWarnung(26.5f);
        r.set_beschreibung(QStringLiteral("Regelung 1-1"));
    }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    cHydoRegelung &reg() { return t.Regelung(1, 1); }
    int evaluateAt(float value)
    {
        t.Sensor(1).set_CurVal(value);
        return reg().process_warning_error();
    }
    QStringList subjects() const
    {
        QStringList s;
        for (const auto &m : notifier.mails)
            s << m.subject;
        return s;
    }

    VirtualClock clock;
    NoProgress progress;
    AnswerOk interaction;
    cTarvelon t{clock, progress, interaction};
    RecordingNotifier notifier;
};

} // namespace

// One walk through the limits: equality is a violation, each change of state is reported
// once (a warning before its alarm, the all-clear before the alarm's end), a regulation that
// is off sends nothing and keeps its states until it is on again. Active: w/a lower, W/A upper.
TEST_F(Limits, eachChangeOfStateIsReportedOnceAndEqualityIsAViolation)
{
    const QString below = QStringLiteral(" unterschreitet die Grenze von ");
    const QString back = QStringLiteral(" unterschreitet nicht mehr ");
    const QString above = QStringLiteral(" überschreitet die Grenze von ");
    const QString aboveBack = QStringLiteral(" überschreitet nicht mehr die Grenze von ");
    const QString warnung = QStringLiteral("Ostracom---Warnung");
    const QStringList raised{warnung, "Ostracom---Alarm"};
    const QStringList ended{"Ostracom---Entwarnung", "Ostracom---Alarmende"};
    const struct {
        float value;
        int regelart;
        QStringList subjects;
        QStringList bodies; // what each new mail's body contains
        const char *active;
    } steps[] = {
        {25.0f, 2, {}, {}, ""},
        {23.5f, 2, {warnung}, {below + "23.5°C"}, "w"},
        {23.5f, 2, {}, {}, "w"},
        {23.51f, 2, {"Ostracom---Entwarnung"}, {back}, ""},
        {22.0f, 2, raised, {below + "23.5°C", below + "23°C"}, "wa"},
        {25.0f, 2, ended, {back, back}, ""},
        {27.0f, 2, raised, {above + "26.5°C", above + "27°C"}, "WA"},
        {25.0f, 0, {}, {}, "WA"},
        {25.0f, 2, ended, {aboveBack + "26.5°C", "Alarmende von Regelung Regelung 1-1"}, ""},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.value);
        const qsizetype before = notifier.mails.size();
        reg().set_Regelart(step.regelart);
        EXPECT_EQ(evaluateAt(step.value), step.subjects.size());
        EXPECT_EQ(subjects().mid(before), step.subjects);
        for (qsizetype i = 0; i < step.bodies.size() && before + i < notifier.mails.size(); ++i)
            EXPECT_TRUE(holds(notifier.mails[before + i].body, step.bodies[i]));
        QString active;
        active += reg().UntereWarnungAktiv ? "w" : "";
        active += reg().UntererAlarmAktiv ? "a" : "";
        active += reg().ObereWarnungAktiv ? "W" : "";
        active += reg().ObererAlarmAktiv ? "A" : "";
        EXPECT_EQ(active, QLatin1String(step.active));
    }
    // The message names regulation, controller, sensor, value and limit.
    EXPECT_EQ(notifier.mails.value(0).body,
              QStringLiteral("Warnung von Regelung Regelung 1-1 des Tarvelon #1234 , "
                             "Temperatur-Sensor an Anschluss  1 (23.5 °C) unterschreitet "
                             "die Grenze von 23.5°C"));
}

// With ENGLISH selected every fixed word of subject and body comes from the language table.
TEST_F(Limits, inEnglishNoGermanWordReachesTheMail)
{
    TempDb tmp{TempDb::Start::Prepared};
    Database db{tmp.path()};
    ASSERT_EQ(initProgram(db, "ENGLISH"), Error());
    struct BackToNoLanguage {
        ~BackToNoLanguage() { programStrings().clear(); }
    } restore;
    reg().set_beschreibung(QStringLiteral("Heater"));

    static const QRegularExpression german(
        QStringLiteral("[äöüÄÖÜß]|\\b(Warnung|Entwarnung|Alarmende|unterschreitet|nicht mehr|"
                       "von Regelung|des Tarvelon|Sensor an Anschluss|die Grenze von|"
                       "Temperatur)\\b"),
        QRegularExpression::UseUnicodePropertiesOption);
    const QStringList raised{"Ostracom---Warning", "Ostracom---Alarm"};
    const QStringList ended{"Ostracom---All clear", "Ostracom---Alarm over"};
    const struct {
        float value;
        QStringList subjects;
        const char *relation;
    } steps[] = {
        {22.0f, raised, " falls below the limit of "},
        {25.0f, ended, " no longer falls below the limit of "},
        {28.0f, raised, " exceeds the limit of "},
        {25.0f, ended, " no longer exceeds the limit of "},
    };
    for (const auto &step : steps) {
        const qsizetype before = notifier.mails.size();
        ASSERT_EQ(evaluateAt(step.value), 2) << step.relation;
        EXPECT_EQ(subjects().mid(before), step.subjects);
        for (const auto &mail : notifier.mails.mid(before)) {
            EXPECT_TRUE(holds(mail.body, QLatin1String(step.relation)));
            EXPECT_FALSE(german.match(mail.subject + QLatin1Char('\n') + mail.body).hasMatch())
                << mail.subject.toStdString() << ": " << mail.body.toStdString();
        }
    }
    EXPECT_EQ(notifier.mails[0].body,
              QStringLiteral("Warning from regulation Heater of Tarvelon #1234 , "
                             "Temperature-Sensor on connector  1 (22.0 °C) falls below "
                             "the limit of 23.5°C"));
}

TEST_F(Limits, failedNotificationsAreReportedButTheStateStillChanges)
{
    notifier.answer = QStringLiteral("1 --- Bad argument given");
    EXPECT_EQ(evaluateAt(22.0f), 2);
    EXPECT_EQ(reg().lastNotifyProblems.size(), 2);
    EXPECT_TRUE(reg().lastNotifyProblems[0].contains(QLatin1String("Bad argument")));
    EXPECT_TRUE(reg().UntereWarnungAktiv) << "a failed mail is not sent again every cycle";
    EXPECT_EQ(evaluateAt(22.0f), 0);
}

// The regulation times its alarm quality by the controller's clock.
TEST_F(Limits, aHoldTimeIsCountedOnTheControllersClock)
{
    reg().set_alarmQuality({.holdSeconds = 30});
    EXPECT_EQ(evaluateAt(22.0f), 0);
    clock.advance(29999);
    EXPECT_EQ(evaluateAt(22.0f), 0);
    clock.advance(1);
    EXPECT_EQ(evaluateAt(22.0f), 2);
    EXPECT_TRUE(reg().UntererAlarmAktiv);
}

// Program changes go through the same connected controller and database. What the controller
// took is what later edits are measured against; a program it did not take stays to be written.
using ProgramChanges = Download;

TEST_F(ProgramChanges, theDatabaseAndTheReferenceChangeOnlyOnceTheControllerTookTheProgram)
{
    const FieldChanges changes{{"Regelung(1,1).RW_ObererAlarm", "27.5"},
                               {"Regelung(1,1).SW_ObereWarnung", "26.8"},
                               {"Regelung(1,1).beschreibung", "Heater"}};
    auto stored = [&] {
        return tmp
            .exec("SELECT printf('%.2f', sw_obereWarnung) || '|' || beschreibung FROM HYDOREGELUNG "
                  "WHERE TARVELONID=1234 AND HYDOSENSORID=1 AND HYDOVORGANG=1")
            .toString();
    };
    const QString before = stored();

    for (const bool echoLost : {false, true}) {
        SCOPED_TRACE(echoLost ? "no echo" : "write fails");
        fake.controller.failWrites(!echoLost);
        fake.controller.noEchoAfterWrite(echoLost);
        const ProgramChange change = changeProgram(t, changes);
        EXPECT_EQ(change.outcome, ProgramChange::Outcome::WriteFailed);
        EXPECT_FALSE(change.written);
        EXPECT_TRUE(t.programming_is_dirty());
        EXPECT_EQ(stored(), before);
    }

    fake.controller.failWrites(false);
    fake.controller.noEchoAfterWrite(false);
    ProgramChange change = changeProgram(t, changes);
    EXPECT_EQ(change.outcome, ProgramChange::Outcome::Done)
        << errorText(change.error).toStdString();
    EXPECT_TRUE(change.written);
    EXPECT_EQ(stored(), QStringLiteral("26.80|Heater"));
    EXPECT_EQ(fake.controller.stored("DB"), t.HydoProgramString().toLatin1());
    EXPECT_EQ(t.programAsRead(), t.HydoProgramString());
    EXPECT_FALSE(t.programming_is_dirty());
    // The same change once more finds nothing to send.
    const int writes = fake.controller.bursts("DB");
    EXPECT_FALSE(changeProgram(t, changes).written);
    EXPECT_EQ(fake.controller.bursts("DB"), writes);

    change = changeProgram(
        t, {{"Regelung(1,1).beschreibung", "Cooler"}, {"Regelung(1,1).RW_ObererAlarm", "hot"}});
    EXPECT_EQ(change.outcome, ProgramChange::Outcome::Refused);
    EXPECT_EQ(stored(), QStringLiteral("26.80|Heater")) << "one refused value changes nothing";
}
