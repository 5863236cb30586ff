// Every database write and every commit of a download made to fail in turn: once, from then
// on, and as a commit that took effect but reported failure (a connection lost at its end).
// With the database working again, the archive must hold every record the controller handed
// over exactly once, its summaries must agree with its rows, and the file must be sound.

#include "support/download_rig.h"

#include "store/fault_injection.h"

#include <gtest/gtest.h>

#include <QFile>

#include <iostream>

namespace
{

constexpr int kId = 1234;
const QDateTime kT0(QDate(2026, 12, 4), QTime(10, 0, 0));

QList<Rec> records(int first, int count)
{
    QList<Rec> list;
    for (int i = first; i < first + count; ++i)
        list.append({1 + i % 2, 250 + i, kT0.addSecs(10 * (i / 2))});
    return list;
}

// A controller with its records, the program's database and spool, and the download cycles
// of the polling service.
struct Site : ConnectedController {
    explicit Site(Backend backend) : ConnectedController(1234, backend) {}

    // One cycle: the controller hands over what it holds and forgets it once acknowledged.
    void cycle()
    {
        const int acknowledged = fake.controller.bursts("DL");
        fake.controller.setPayload("DO", storedData(held));
        downloader.get_comp();
        if (fake.controller.bursts("DL") > acknowledged)
            held.clear();
    }

    // The first records wait in the spool (the database refused them); one of them
    // comes again (its acknowledgement was lost) with new ones, and more arrive during the
    // next cycle. The plan (if any) is in force for those two cycles, so that it meets the
    // spool's records as well; then the database works again until everything is stored.
    void download(const std::optional<store_faults::Plan> &plan)
    {
        held = records(0, 2);
        store_faults::arm({store_faults::Point::Write, 1, store_faults::Repeat::FromOn});
        cycle();
        held = records(1, 7);
        if (plan)
            store_faults::arm(*plan);
        else
            store_faults::count();
        cycle();
        held += records(8, 4);
        cycle();
        store_faults::disarm();
        for (int i = 0; i < 4 && (!held.isEmpty() || spool.pending() > 0); ++i)
            cycle();
    }

    QStringList archive() const
    {
        QStringList rows;
        for (const auto &r : db.archiveRows(kId, std::nullopt, std::nullopt, std::nullopt))
            rows << QStringLiteral("%1 %2 %3").arg(r.asid).arg(r.datum, r.wert.toString());
        return rows;
    }

    // Every summary row, then the same after computing them anew from the archive.
    std::pair<QStringList, QStringList> summaries()
    {
        const QStringList kept = tmp.summaryRows();
        db.rebuildArchiveSummaries();
        return {kept, tmp.summaryRows()};
    }

    QList<Rec> held;
};

} // namespace

class ArchiveFaults : public ::testing::TestWithParam<Backend>
{
};
OSTRACOM_ON_EVERY_BACKEND(ArchiveFaults);

TEST_P(ArchiveFaults, noFailingWriteOrCommitLosesOrDoublesARecord)
{
    using namespace store_faults;
    std::int64_t writes = 0, commits = 0;
    QStringList expected;
    {
        Site site(GetParam());
        ASSERT_EQ(site.connected, Error());
        site.download(std::nullopt);
        writes = seen(Point::Write);
        commits = seen(Point::Commit);
        expected = site.archive();
    }
    ASSERT_EQ(expected.size(), 12) << "the reference download archives each record once";
    ASSERT_GT(writes, 0);
    ASSERT_GT(commits, 0);

    std::vector<Plan> plans;
    for (Repeat repeat : {Repeat::Once, Repeat::FromOn}) {
        for (std::int64_t n = 1; n <= writes; ++n)
            plans.push_back({Point::Write, n, repeat, Effect::Refused});
        for (std::int64_t n = 1; n <= commits; ++n)
            plans.push_back({Point::Commit, n, repeat, Effect::Refused});
    }
    for (std::int64_t n = 1; n <= commits; ++n)
        plans.push_back({Point::Commit, n, Repeat::Once, Effect::AfterDone});

    for (const Plan &plan : plans) {
        const std::string name =
            std::string(plan.point == Point::Write ? "write " : "commit ") +
            std::to_string(plan.nth) +
            (plan.repeat == Repeat::FromOn ? " and every later one" : "") +
            (plan.effect == Effect::AfterDone ? " (after it took effect)" : "") + " fails";
        SCOPED_TRACE(name);
        Site site(GetParam());
        ASSERT_EQ(site.connected, Error());
        site.download(plan);
        EXPECT_TRUE(site.held.isEmpty()) << "the controller still holds records";
        EXPECT_EQ(site.spool.pending(), 0);
        EXPECT_EQ(site.archive(), expected);
        const auto [kept, rebuilt] = site.summaries();
        EXPECT_EQ(kept, rebuilt);
        if (GetParam() == Backend::Sqlite) {
            EXPECT_EQ(site.tmp.exec("PRAGMA integrity_check").toString(), "ok");
        }
        EXPECT_FALSE(QFile::exists(site.spool.rejectsPath()));
        if (::testing::Test::HasFailure())
            break; // one failing plan says enough
    }
    std::cout << "fault points tried: " << plans.size() << " (" << writes << " writes, " << commits
              << " commits across the download)\n";
    ::testing::Test::RecordProperty("fault_points", static_cast<int>(plans.size()));
}
