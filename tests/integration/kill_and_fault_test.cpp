// Kill-and-fault run: the headless service is killed at random moments, now and then while
// another program holds the database or while files cannot grow (a full disk), and the
// emulator meanwhile hands over short batches and garbled records through the hour that
// summer time skips. Afterwards the emulator's journal says what the service acknowledged:
// every record the controller forgot must be in the archive exactly once or in the rejects
// file, and nothing else may be in the archive.
//
// OSTRACOM_KILL_SEED=N repeats a run's kill moments and faults.

#include "support/cli_run.h"
#include "support/sim_process.h"
#include "support/temp_db.h"

#include "link/encodings.h"
#include "store/archive_spool.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <iostream>
#include <optional>
#include <random>

namespace
{

constexpr int kId = 1234; // the emulator's identifier
const QString kZone = QStringLiteral("TZ=Europe/Berlin");
const CliCall kInZone{.environment = {kZone}};
// The hour the local clock skips on that day; the controller's clock runs through it.
const QString kGapFirst = QStringLiteral("2026-03-29 02:00:00");
const QString kGapLast = QStringLiteral("2026-03-29 02:59:59");
// 64 blocks of 512 bytes (32 KiB): room for the database's shared-memory index, which SQLite
// needs to open it, but the rejects file and a spool of several hundred records outgrow it,
// and the database file already has, so writes of every kind meet it.
constexpr int kFileSizeBlocks = 64;

QString firstOf(const QStringList &items, int n = 6)
{
    QString text = items.mid(0, n).join(QStringLiteral("\n    "));
    if (items.size() > n)
        text += QStringLiteral("\n    … and %1 more").arg(items.size() - n);
    return QStringLiteral("\n    ") + text;
}

// The record lines of a spool file, without its header and batch marks.
QStringList spoolRecords(const QString &path)
{
    QStringList records = fileLines(path);
    records.removeIf([](const QString &l) { return !l.front().isDigit(); });
    return records;
}

// The program under a file size limit, SIGXFSZ ignored, so that a write past the limit fails
// with EFBIG as on a full disk.
const QStringList kLimitedFiles{
    "-c", QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(kFileSizeBlocks),
    QStringLiteral(OSTRACOM_CLI_PATH)};

enum class Fault { None, Locked, FullDisk };

struct Round {
    Fault fault = Fault::None;
    int runMs = 0;           // None: killed this long after the start
    int holdMs = 0;          // Locked: the database is held this long after the first download
    int afterReleaseMs = -1; // Locked: killed this long after release; -1: killed while held
    int afterRefusalMs = 0;  // FullDisk: killed this long after the first refused write
};

std::vector<Round> planRounds(std::mt19937_64 &rng)
{
    constexpr int kRounds = 14;
    auto uniform = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng);
    };
    std::vector<Round> rounds(kRounds);
    // Full disks late, when the rejects file has grown; two of them.
    std::vector<int> late{8, 9, 10, 11, 12, 13};
    std::shuffle(late.begin(), late.end(), rng);
    rounds[static_cast<size_t>(late[0])].fault = Fault::FullDisk;
    rounds[static_cast<size_t>(late[1])].fault = Fault::FullDisk;
    for (int locked = 0; locked < 4;) {
        Round &r = rounds[static_cast<size_t>(uniform(1, kRounds - 1))];
        if (r.fault == Fault::None) {
            r.fault = Fault::Locked;
            ++locked;
        }
    }
    for (Round &r : rounds) {
        r.runMs = uniform(500, 4000);
        // Beyond the service's five-second wait for the database, so that a download is spooled.
        r.holdMs = uniform(5500, 8000);
        r.afterReleaseMs = uniform(0, 1) ? uniform(0, 1500) : -1;
        r.afterRefusalMs = uniform(0, 4000);
    }
    return rounds;
}

quint64 runSeed()
{
    const QByteArray fixed = qgetenv("OSTRACOM_KILL_SEED");
    if (!fixed.isEmpty())
        return fixed.toULongLong();
    return (quint64(std::random_device{}()) << 32) ^ std::random_device{}();
}

} // namespace

TEST(KillAndFault, everyAcknowledgedRecordIsArchivedOnceOrKeptAsAReject)
{
    const quint64 seed = runSeed();
    std::cout << "[ seed     ] OSTRACOM_KILL_SEED=" << seed << std::endl;
    RecordProperty("seed", std::to_string(seed));
    std::mt19937_64 rng(seed);

    TempDb data; // ostracom.db in the data folder
    SimProcess sim;
    const QString journalPath = sim.scratchPath(QStringLiteral("journal.txt"));
    // 90 times faster with a record per sensor every 10 s: about 45 records a second, so the
    // controller's clock passes 02:00-03:00 of the day summer time starts within the run, and
    // the rejects file (every 4th record garbled) outgrows the file size limit before the
    // limited rounds come.
    ASSERT_TRUE(sim.launch({"--journal", journalPath, "--state",
                            sim.scratchPath(QStringLiteral("state.json")), "--short-batch", "3",
                            "--garble", "4", "--interval", "10", "--speed", "90", "--clock",
                            "2026-03-29 01:58:00", "--seed", QString::number(seed % 1000000)},
                           {kZone}));
    const QStringList global{"--data-dir", data.dir()};
    const QStringList poll =
        global + QStringList{"poll", "--controller",
                             QStringLiteral("tcp:127.0.0.1:%1").arg(sim.port()), "--interval", "1"};
    {
        WatchedCli init(global + QStringList{"init"}, kInZone);
        ASSERT_TRUE(init.finish(30000));
        ASSERT_EQ(init.exitCode(), 0) << init.output().toStdString();
    }

    QElapsedTimer wall;
    wall.start();
    const std::vector<Round> rounds = planRounds(rng);
    const QString spoolPath = data.filePath(QStringLiteral("archive.spool"));
    QStringList transcripts;
    int refusedWrites = 0, roundsEndingSpooled = 0, heldAndReported = 0;
    bool secondPollerChecked = false;
    for (size_t n = 0; n < rounds.size(); ++n) {
        const Round &r = rounds[n];
        const QStringList journalBefore = fileLines(journalPath);
        const bool limited = r.fault == Fault::FullDisk;
        WatchedCli poller(limited ? kLimitedFiles + poll : poll,
                          {.environment = {kZone}, .program = limited ? "sh" : OSTRACOM_CLI_PATH});
        ASSERT_TRUE(poller.started());
        // The controller answered a download: this poller is connected.
        auto downloaded = [&] { return fileLines(journalPath).size() > journalBefore.size(); };
        std::optional<DatabaseHolder> holder;
        QString plan;
        switch (r.fault) {
        case Fault::None:
            plan = QStringLiteral("killed after %1 ms").arg(r.runMs);
            if (!secondPollerChecked) {
                // A poller owns the data folder: a second one must leave it alone.
                secondPollerChecked = true;
                const QString pid = QString::number(poller.pid());
                ASSERT_TRUE(poller.collect(15000, [&] {
                    return fileLines(data.filePath(QStringLiteral("ostracom.lock"))) ==
                           QStringList{pid};
                })) << poller.output().toStdString();
                WatchedCli second(poll + QStringList{"--cycles", "1"}, kInZone);
                ASSERT_TRUE(second.finish(20000));
                EXPECT_EQ(second.exitCode(), 1) << second.output().toStdString();
                EXPECT_TRUE(second.output().contains(QStringLiteral("process ") + pid))
                    << second.output().toStdString();
                plan += QStringLiteral(", a second poller refused");
            }
            poller.runUntil(r.runMs);
            break;
        case Fault::Locked: {
            // Held once the controller is connected, so that its downloads go to the spool.
            ASSERT_TRUE(poller.collect(15000, downloaded)) << poller.output().toStdString();
            holder.emplace(data.path());
            ASSERT_TRUE(holder->held()) << holder->error().toStdString();
            poller.collect(r.holdMs);
            if (r.afterReleaseMs >= 0) {
                holder.reset();
                poller.collect(r.afterReleaseMs);
                plan = QStringLiteral("database held %1 ms, killed %2 ms after release")
                           .arg(r.holdMs)
                           .arg(r.afterReleaseMs);
            } else {
                plan = QStringLiteral("database held %1 ms, killed while held").arg(r.holdMs);
            }
            break;
        }
        case Fault::FullDisk: {
            // The rejects file has mostly outgrown the limit by now; if not, the spool does
            // within this bound.
            const bool refused = poller.collect(
                20000, [&] { return poller.output().contains(QLatin1String("File too large")); });
            poller.collect(r.afterRefusalMs);
            plan = refused ? QStringLiteral("files limited, killed %1 ms after a refused write")
                                 .arg(r.afterRefusalMs)
                           : QStringLiteral("files limited, no write refused in 20 s");
            break;
        }
        }
        // Neither a held database nor a full disk may end the service.
        EXPECT_TRUE(poller.running()) << "round " << n + 1 << " (" << plan.toStdString()
                                      << "): the service ended by itself:\n"
                                      << poller.output().toStdString();
        poller.kill();
        holder.reset();

        const QStringList added = fileLines(journalPath).mid(journalBefore.size());
        const int spooled = static_cast<int>(spoolRecords(spoolPath).size());
        const int refused =
            static_cast<int>(poller.output().count(QLatin1String("File too large")));
        refusedWrites += refused;
        roundsEndingSpooled += spooled > 0;
        heldAndReported += r.fault == Fault::Locked && poller.output().contains("locked");
        std::cout << QStringLiteral("[ round %1 ] %2; ran %3 ms: %4 records handed, %5 forgotten, "
                                    "%6 refused write(s), %7 in the spool")
                         .arg(n + 1, 2)
                         .arg(plan)
                         .arg(poller.elapsedMs())
                         .arg(added.filter(QRegularExpression(QStringLiteral("^handed "))).size())
                         .arg(added.filter(QRegularExpression(QStringLiteral("^forgot "))).size())
                         .arg(refused)
                         .arg(spooled)
                         .toStdString()
                  << std::endl;
        transcripts
            << QStringLiteral("--- round %1 (%2)\n%3").arg(n + 1).arg(plan, poller.output());
    }

    // A clean finish, faults of the emulator still on; a run that ends on a short batch is
    // followed by single cycles (three would meet every third answer again), so that the last
    // download was acknowledged.
    SimJournal journal;
    for (int run = 1; run <= 4; ++run) {
        WatchedCli last(poll + QStringList{"--cycles", run == 1 ? "3" : "1"}, kInZone);
        ASSERT_TRUE(last.finish(60000)) << last.output().toStdString();
        EXPECT_EQ(last.exitCode(), 0) << last.output().toStdString();
        transcripts << QStringLiteral("--- clean run %1\n%2").arg(run).arg(last.output());
        journal = readJournal(journalPath);
        if (journal.endsAcknowledged)
            break;
    }
    std::cout << "[ rounds   ] " << wall.elapsed() << " ms" << std::endl;
    EXPECT_TRUE(journal.endsAcknowledged) << "no clean run ended on an acknowledged download";
    ASSERT_TRUE(journal.malformed.isEmpty()) << firstOf(journal.malformed).toStdString();

    // What the service kept: archive rows and rejects.
    QHash<QString, int> archived; // row -> how often
    int rowsInGap = 0;
    for (const QVariantList &r :
         data.rows("SELECT TARVELONID, ASID, DATUM, WERT FROM HYDOARCHIVE")) {
        const int sensor = r[1].toInt();
        const QString datum = r[2].toString();
        const double wert = r[3].toDouble();
        const double word = std::round(wert * simScaleOf(sensor));
        // A value that is no whole word of its scale keeps its own text and matches nothing.
        const QString key =
            std::fabs(wert - word / simScaleOf(sensor)) <= 1e-6
                ? archiveRowKey(r[0].toInt(), sensor, datum, static_cast<qint64>(word))
                : archiveRowKey(r[0].toInt(), sensor, datum, 0) +
                      QStringLiteral(" value %1").arg(wert);
        ++archived[key];
        rowsInGap += datum >= kGapFirst && datum <= kGapLast;
    }
    QSet<QString> rejected;
    QStringList strangeRejects;
    for (const QString &line : fileLines(data.filePath(QStringLiteral("rejects.txt")))) {
        const QStringList f = ArchiveSpool::rejectFields(line);
        if (f.size() == 4 && f[1] == QString::number(kId) && journal.handed.contains(f[2]))
            rejected.insert(f[2]);
        else
            strangeRejects << line;
    }

    // The comparison: the journal against the archive and the rejects.
    QSet<QString> handedRows;
    for (const QString &record : journal.handed)
        if (isHexText(record))
            handedRows.insert(expectedArchiveRow(kId, record));
    QStringList lost, doubled, invented;
    int forgottenInGap = 0;
    for (const QString &record : journal.forgotten) {
        const bool readable = isHexText(record);
        const QString row = readable ? expectedArchiveRow(kId, record) : QString();
        forgottenInGap += readable && row.contains(QStringLiteral(" at 2026-03-29 02:"));
        if (!(readable && archived.contains(row)) && !rejected.contains(record))
            lost << record + (readable ? QStringLiteral("  (") + row + QLatin1Char(')')
                                       : QStringLiteral("  (garbled, not in rejects.txt)"));
    }
    for (auto it = archived.cbegin(); it != archived.cend(); ++it) {
        if (it.value() > 1)
            doubled << QStringLiteral("%1  (%2 rows)").arg(it.key()).arg(it.value());
        if (!handedRows.contains(it.key()))
            invented << it.key();
    }
    // The emulator's short batch only announces records it does not carry, so acknowledging
    // one loses nothing here; a controller that really missed records would forget them.
    // Its log shows each answer: no "DL" may follow a "DO" whose count promised more.
    QStringList acknowledgedShort;
    QString lastDownload;
    int shortDownloads = 0;
    for (const QString &line : sim.log().split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("DO answered"))) {
            lastDownload = line;
            shortDownloads += line.contains(QLatin1String(" announced"));
        } else if (line.startsWith(QLatin1String("DL answered")) &&
                   lastDownload.contains(QLatin1String(" announced"))) {
            acknowledgedShort << lastDownload + QStringLiteral(", then ") + line;
        }
    }
    const QStringList spool = spoolRecords(spoolPath);

    const struct {
        const QStringList &items;
        const char *what;
    } findings[] = {
        {lost, "acknowledged record(s) neither archived with their clock reading nor in "
               "rejects.txt"},
        {doubled, "record(s) archived more than once"},
        {invented, "archive row(s) that match no readable record handed over (made up, or taken "
                   "from a garbled one)"},
        {strangeRejects, "line(s) of rejects.txt that hold no record handed over verbatim"},
        {acknowledgedShort, "short download(s) acknowledged"},
        {spool, "record(s) still in the spool after the clean run"},
    };
    QString problems;
    for (const auto &f : findings)
        if (!f.items.isEmpty())
            problems += QStringLiteral("\n%1 %2:%3")
                            .arg(f.items.size())
                            .arg(QLatin1String(f.what), firstOf(f.items));
    std::cout << QStringLiteral("[ journal  ] %1 records handed, %2 forgotten (%3 in 02:00-02:59); "
                                "archive %4 rows (%5 in 02:00-02:59); %6 rejected; %7 rounds "
                                "ended with a spool, %8 writes refused, %9 short downloads")
                     .arg(journal.handed.size())
                     .arg(journal.forgotten.size())
                     .arg(forgottenInGap)
                     .arg(archived.size())
                     .arg(rowsInGap)
                     .arg(rejected.size())
                     .arg(roundsEndingSpooled)
                     .arg(refusedWrites)
                     .arg(shortDownloads)
                     .toStdString()
              << std::endl;
    EXPECT_TRUE(problems.isEmpty()) << "seed " << seed << ":" << problems.toStdString();

    // The run really went through what it is meant to prove.
    EXPECT_GT(forgottenInGap, 0) << "no acknowledged record from the skipped hour";
    EXPECT_GT(rowsInGap, 0) << "nothing archived from the skipped hour";
    EXPECT_GT(rejected.size(), 0) << "no garbled record was kept";
    EXPECT_GT(roundsEndingSpooled, 0) << "no round left records in the spool";
    EXPECT_GT(heldAndReported, 0) << "no held database was reported as locked";
    EXPECT_GT(refusedWrites, 0) << "the limited rounds refused no write";
    EXPECT_GT(shortDownloads, 0) << "the emulator sent no short download";
    if (HasFailure())
        std::cout << transcripts.join(QLatin1Char('\n')).toStdString() << std::endl;
}
