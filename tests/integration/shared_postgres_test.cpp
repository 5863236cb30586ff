// A larger site: two headless services, each with its own data folder and controller, archive
// into one PostgreSQL database at the same time; one of them is killed and started again.
// Afterwards each emulator's journal says what was acknowledged: every such record must be in
// the archive exactly once, nothing else may be there, and the chart summaries must agree
// with the rows.

#include "support/cli_run.h"
#include "support/loopback.h"
#include "support/sim_process.h"
#include "support/temp_db.h"

#include "link/encodings.h"
#include "store/database.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QSet>
#include <QTemporaryDir>

#include <cmath>
#include <csignal>
#include <iostream>
#include <optional>

namespace
{

// One PC of the site: a controller emulator and the data folder of its poller.
struct Site {
    int id = 0;
    SimProcess sim;
    QTemporaryDir data;
    QString journal;
    std::optional<WatchedCli> poller;

    void startPoller(const QString &db, const QStringList &more = {})
    {
        poller.emplace(QStringList{"--data-dir", data.path(), "--db", db, "poll", "--controller",
                                   QStringLiteral("tcp:127.0.0.1:%1").arg(sim.port()), "--interval",
                                   "1"} +
                       more);
    }
    std::string output()
    {
        poller->collect(500);
        return poller->output().toStdString();
    }
    int forgotten() const { return fileLines(journal).filter(QStringLiteral("forgot ")).size(); }
    bool endsAcknowledged() const { return readJournal(journal).endsAcknowledged; }
};

} // namespace

TEST(SharedPostgreSQL, twoPollersArchiveEveryAcknowledgedRecordOnceAndKeepTheSummaries)
{
    TempDb db(TempDb::Start::Empty, Backend::Postgres);
    const QString url = db.path();
    Site sites[2];
    for (int i = 0; i < 2; ++i) {
        Site &s = sites[i];
        s.id = 1001 + i;
        s.journal = s.sim.scratchPath(QStringLiteral("journal.txt"));
        // 60 times faster with a record per sensor every 10 s: several records a second.
        ASSERT_TRUE(s.sim.launch({"--id", QString::number(s.id), "--journal", s.journal,
                                  "--interval", "10", "--speed", "60", "--clock",
                                  "2026-05-01 10:00:00", "--seed", QString::number(s.id)}));
    }
    // Both start on a database that has no tables yet: one creates them, the other waits.
    for (Site &s : sites)
        s.startPoller(url);
    for (Site &s : sites)
        ASSERT_TRUE(pollUntil([&] { return s.forgotten() >= 100; }, 30000))
            << "site " << s.id << " archived nothing:\n"
            << s.output();

    // The first PC dies without warning, in whatever it was doing, and comes back.
    sites[0].poller->kill();
    const int before = sites[0].forgotten();
    sites[0].startPoller(url);
    ASSERT_TRUE(pollUntil([&] { return sites[0].forgotten() > before + 100; }, 30000))
        << sites[0].output();
    for (Site &s : sites) {
        s.poller->signal(SIGTERM);
        ASSERT_TRUE(s.poller->finish(20000));
    }
    // Last runs until each controller's last download was acknowledged.
    for (int run = 0; run < 4; ++run) {
        std::vector<Site *> again;
        for (Site &s : sites)
            if (!s.endsAcknowledged()) {
                s.startPoller(url, {"--cycles", "1"});
                again.push_back(&s);
            }
        for (Site *s : again) {
            ASSERT_TRUE(s->poller->finish(60000));
            EXPECT_EQ(s->poller->exitCode(), 0) << s->output();
        }
    }

    QHash<QString, int> archived;
    for (const QVariantList &r : db.rows("SELECT TARVELONID, ASID, DATUM, WERT FROM HYDOARCHIVE "
                                         "WHERE TARVELONID >= 0")) {
        const int sensor = r[1].toInt();
        const auto word = static_cast<qint64>(std::round(r[3].toDouble() * simScaleOf(sensor)));
        ++archived[archiveRowKey(r[0].toInt(), sensor, r[2].toString(), word)];
    }
    QSet<QString> handed;
    int acknowledged = 0;
    for (Site &s : sites) {
        SCOPED_TRACE(s.id);
        const SimJournal journal = readJournal(s.journal);
        EXPECT_TRUE(journal.endsAcknowledged);
        EXPECT_TRUE(journal.malformed.isEmpty());
        for (const QString &record : journal.handed)
            handed.insert(expectedArchiveRow(s.id, record));
        for (const QString &record : journal.forgotten)
            EXPECT_EQ(archived.value(expectedArchiveRow(s.id, record)), 1) << record.toStdString();
        acknowledged += journal.forgotten.size();
    }
    for (auto it = archived.cbegin(); it != archived.cend(); ++it)
        EXPECT_TRUE(handed.contains(it.key())) << "not handed over: " << it.key().toStdString();
    EXPECT_GE(archived.size(), acknowledged);
    std::cout << "[ archive  ] " << archived.size() << " rows, " << acknowledged
              << " records acknowledged" << std::endl;

    // Each summary level counts every row once, with the rows' extremes.
    const QList<QVariantList> fromRows =
        db.rows("SELECT TARVELONID, ASID, count(*), min(WERT), max(WERT) FROM HYDOARCHIVE "
                "WHERE TARVELONID >= 0 GROUP BY TARVELONID, ASID ORDER BY TARVELONID, ASID");
    ASSERT_FALSE(fromRows.isEmpty());
    for (int slot : Database::kSummarySlots)
        EXPECT_EQ(
            db.rows(QStringLiteral("SELECT TARVELONID, ASID, CAST(sum(N) AS BIGINT), min(MINWERT), "
                                   "max(MAXWERT) FROM HYDOARCHIVE_SUMMARY_%1 GROUP BY "
                                   "TARVELONID, ASID ORDER BY TARVELONID, ASID")
                        .arg(slot)),
            fromRows)
            << "summary of " << slot << " s";
}
