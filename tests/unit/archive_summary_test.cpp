// The archive's summary tables against the archive itself: kept by every write, rebuilt alike,
// and read into chart columns that agree with a column-by-column count of the raw rows; values
// at an instant, conversions of derived types and the point table of a chart.

#include "display/archive_query.h"
#include "display/chart_points.h"
#include "store/database.h"
#include "support/temp_db.h"

#include <QRandomGenerator>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <tuple>

namespace
{

constexpr int kController = 7;
const WallSecond kStart = *Database::wallSecond(u"2026-03-01 00:00:00");

// Random values of two sensors over about two days, written in shuffled batches, with values
// repeated within a second and whole records delivered twice.
std::vector<ArchiveRecord> randomRecords(QRandomGenerator &random, int count)
{
    std::vector<ArchiveRecord> records;
    for (int i = 0; i < count; ++i) {
        const WallSecond t = kStart + random.bounded(2 * 86400);
        const int sensor = 1 + random.bounded(2);
        const double wert = random.bounded(1000) / 10.0 - 20;
        records.push_back({Database::datumText(t), wert, kController, sensor});
        if (random.bounded(10) == 0) // another value in the same second
            records.push_back({Database::datumText(t), wert + 1, kController, sensor});
    }
    return records;
}

// Every difference the check reports, and the count per level.
struct Findings {
    std::vector<Database::SummaryDifference> differences;
    std::map<int, qint64> perLevel;
};

Findings check(const Database &db)
{
    Findings f;
    for (const auto &level : db.checkArchiveSummaries(
             [&](const Database::SummaryDifference &d) { f.differences.push_back(d); }))
        f.perLevel[level.slotSeconds] = level.differences;
    return f;
}

const std::map<int, qint64> kNoDifferences{{60, 0}, {600, 0}, {3600, 0}};

QDateTime at(const char *text)
{
    return Database::datumFromText(QString::fromLatin1(text));
}

} // namespace

class ArchiveSummary : public ::testing::TestWithParam<Backend>
{
protected:
    TempDb tmp{TempDb::Start::Prepared, GetParam()};
    Database db{tmp.path()};
    QRandomGenerator random{4711};
};

OSTRACOM_ON_EVERY_BACKEND(ArchiveSummary);

TEST_P(ArchiveSummary, downloadsAndOtherProgramsWritesKeepTheSummariesAsARebuildWould)
{
    const auto records = randomRecords(random, 3000);
    size_t taken = 0;
    auto next = [&](size_t count) {
        const size_t from = std::min(records.size(), taken);
        taken = std::min(records.size(), taken + count);
        return std::vector<ArchiveRecord>(records.begin() + from, records.begin() + taken);
    };
    std::vector<ArchiveRecord> last;
    auto download = [&](std::vector<ArchiveRecord> batch, Database::SkipExisting skip) {
        last = batch;
        return db.appendArchive(batch, skip);
    };
    const auto skip = Database::SkipExisting::Yes;
    const auto noCheck = Database::SkipExisting::No;
    // This program's downloads and another program's plain statements, in turn.
    const struct {
        const char *what;
        std::function<void()> write;
    } steps[] = {
        {"a download", [&] { EXPECT_EQ(download(next(700), skip), 700); }},
        {"the same download again", [&] { EXPECT_EQ(download(last, skip), 0); }},
        {"a download repeating records of its own and of the one before",
         [&] {
             const auto fresh = next(400);
             auto batch = fresh;
             batch.insert(batch.end(), fresh.begin(), fresh.begin() + 30);
             batch.insert(batch.end(), last.begin(), last.begin() + 30);
             EXPECT_EQ(download(batch, skip), 400);
         }},
        {"a single record", [&] { EXPECT_EQ(download(next(1), skip), 1); }},
        {"a download without the check, with a value that is none",
         [&] {
             auto batch = next(500);
             batch.push_back({batch.front().datum, std::nan(""), kController, 1});
             EXPECT_EQ(download(batch, noCheck), 501);
         }},
        {"another program inserts rows",
         [&] {
             tmp.exec("INSERT INTO HYDOARCHIVE (TARVELONID, ASID, DATUM, WERT) VALUES "
                      "(7, 1, '2026-03-01 10:00:00', NULL), (7, 1, '2026-03-01 10:00:00', 17.5), "
                      "(7, 2, '2026-03-01 10:00:30', -3), (7, 1, '2026-03-02 23:59:59', 80)");
         }},
        {"another program deletes rows",
         [&] {
             tmp.exec("DELETE FROM HYDOARCHIVE WHERE rowid IN (SELECT rowid FROM HYDOARCHIVE "
                      "WHERE ASID = 1 ORDER BY DATUM LIMIT 40)");
         }},
        {"another program changes values",
         [&] { tmp.exec("UPDATE HYDOARCHIVE SET WERT = WERT + 500 WHERE rowid % 97 = 0"); }},
        {"another program moves rows to another sensor and time",
         [&] {
             tmp.exec("UPDATE HYDOARCHIVE SET ASID = 2, DATUM = '2026-03-01 00:00:01' WHERE "
                      "rowid % 89 = 0 AND ASID = 1");
         }},
        {"logbook entries",
         [&] {
             ASSERT_TRUE(db.createLogbookEntry(Database::dateTimeOf(kStart + 30), "Filter"));
             ASSERT_TRUE(db.moveLogbookEntry(Database::dateTimeOf(kStart + 30),
                                             Database::dateTimeOf(kStart + 90),
                                             "Filter gereinigt"));
         }},
        {"the rest in downloads of a thousand",
         [&] {
             while (taken < records.size())
                 download(next(1000), skip);
         }},
        {"another program inserts a row after them",
         [&] {
             tmp.exec("INSERT INTO HYDOARCHIVE (TARVELONID, ASID, DATUM, WERT) VALUES "
                      "(7, 2, '2026-03-01 10:00:59', 1000)");
         }},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.what);
        step.write();
        ASSERT_EQ(check(db).perLevel, kNoDifferences) << "each level agrees with the archive";
    }

    const QStringList kept = tmp.summaryRows();
    db.rebuildArchiveSummaries();
    EXPECT_EQ(kept, tmp.summaryRows());
    EXPECT_EQ(tmp.count("HYDOARCHIVE_SUMMARY_60", "TARVELONID = -1"), 0)
        << "logbook entries are no measurements";
    EXPECT_EQ(tmp.exec("SELECT sum(N) FROM HYDOARCHIVE_SUMMARY_3600").toLongLong(),
              tmp.count("HYDOARCHIVE", "TARVELONID = 7 AND WERT IS NOT NULL"));
}

TEST_P(ArchiveSummary, checkFindsATamperedSlotInEachLevelAndARebuildOfThatLevelMendsIt)
{
    db.appendArchive(randomRecords(random, 500));
    const QString firstSlot =
        QStringLiteral("TARVELONID = 7 AND ASID = 1 AND SLOT = (SELECT "
                       "min(SLOT) FROM %1 WHERE TARVELONID = 7 AND ASID = 1)");
    enum Kind { Changed, Lost, Extra };
    const struct {
        int slot;
        const char *change;
        Kind kind;
    } cases[] = {
        {3600, "UPDATE %1 SET LASTWERT = LASTWERT - 1 WHERE %2", Changed},
        {60, "UPDATE %1 SET SUMWERT = SUMWERT + 0.001 WHERE %2", Changed},
        {600, "DELETE FROM %1 WHERE %2", Lost},
        {3600,
         "INSERT INTO %1 (TARVELONID, ASID, SLOT, N, SUMWERT, MINWERT, MAXWERT, FIRSTSECOND, "
         "FIRSTWERT, LASTSECOND, LASTWERT) VALUES (9, 3, 0, 1, 1, 1, 1, 0, 1, 0, 1)",
         Extra},
    };
    for (const auto &c : cases) {
        const QString table = QStringLiteral("HYDOARCHIVE_SUMMARY_%1").arg(c.slot);
        SCOPED_TRACE(QString::fromLatin1(c.change).arg(table).toStdString());
        const qint64 slot = tmp.exec(QStringLiteral("SELECT min(SLOT) FROM %1 WHERE "
                                                    "TARVELONID = 7 AND ASID = 1")
                                         .arg(table))
                                .toLongLong();
        tmp.exec(QString::fromLatin1(c.change).arg(table).replace("%2", firstSlot.arg(table)));

        const Findings found = check(db);
        std::map<int, qint64> expected = kNoDifferences;
        expected[c.slot] = 1;
        EXPECT_EQ(found.perLevel, expected);
        ASSERT_EQ(found.differences.size(), 1u);
        const auto &d = found.differences.front();
        EXPECT_EQ(d.slotSeconds, c.slot);
        if (c.kind == Extra) {
            EXPECT_EQ(std::tuple(d.tarvelonId, d.asid, d.slot, d.archive.count, d.stored.count),
                      std::tuple(9, 3, qint64(0), qint64(0), qint64(1)));
        } else {
            EXPECT_EQ(std::tuple(d.tarvelonId, d.asid, d.slot), std::tuple(kController, 1, slot));
            EXPECT_GT(d.archive.count, 0);
            EXPECT_EQ(d.stored.count == 0, c.kind == Lost);
        }

        db.rebuildArchiveSummaries({c.slot});
        EXPECT_EQ(check(db).perLevel, kNoDifferences);
    }
}

TEST_P(ArchiveSummary, aMissingTriggerOrTableIsRestoredAtTheNextOpenWithTheRowsWrittenMeanwhile)
{
    db.appendArchive(randomRecords(random, 500));
    const bool pg = GetParam() == Backend::Postgres;
    struct Case {
        QString restored;
        QString drop;
        bool writable; // the archive takes rows while it is missing
    };
    std::vector<Case> cases{
        {"HYDOARCHIVE_SUMMARY_INSERT", "DROP TRIGGER HYDOARCHIVE_SUMMARY_INSERT", true},
        {"HYDOARCHIVE_SUMMARY_DELETE", "DROP TRIGGER HYDOARCHIVE_SUMMARY_DELETE", true},
        {"HYDOARCHIVE_SUMMARY_600", "DROP TABLE HYDOARCHIVE_SUMMARY_600", false},
    };
    if (pg) {
        for (Case &c : cases)
            if (c.writable)
                c.drop += " ON HYDOARCHIVE";
        cases.push_back({"HYDOARCHIVE_SUMMARY_UPDATE",
                         "ALTER TABLE HYDOARCHIVE DISABLE TRIGGER HYDOARCHIVE_SUMMARY_UPDATE",
                         true});
    } else {
        for (const char *row : {"OLD", "NEW"})
            cases.push_back({QStringLiteral("HYDOARCHIVE_SUMMARY_UPDATE_%1").arg(row),
                             QStringLiteral("DROP TRIGGER HYDOARCHIVE_SUMMARY_UPDATE_%1").arg(row),
                             true});
        // A batch's flag left set by someone: the insert trigger ignores every row.
        cases.push_back(
            {"HYDOARCHIVE_SUMMARY_BATCH", "UPDATE HYDOARCHIVE_SUMMARY_BATCH SET ACTIVE = 1", true});
        cases.push_back(
            {"HYDOARCHIVE_SUMMARY_BATCH", "DROP TABLE HYDOARCHIVE_SUMMARY_BATCH", false});
    }
    int round = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.drop.toStdString());
        ++round;
        tmp.exec(c.drop);
        // A SQLite connection that saw a table dropped does not see it come back in the
        // statements of a trigger until it reads the schema anew.
        tmp.close();
        // Rows added, moved to another day and removed while it is missing.
        auto write = [&] {
            tmp.exec("INSERT INTO HYDOARCHIVE (TARVELONID, ASID, DATUM, WERT) VALUES (7, 1, ?, ?)",
                     {Database::datumText(kStart + round * 600 + 7), 40.0 + round});
            tmp.exec("UPDATE HYDOARCHIVE SET DATUM = ? WHERE rowid IN (SELECT rowid FROM "
                     "HYDOARCHIVE WHERE ASID = 2 ORDER BY DATUM LIMIT 3)",
                     {Database::datumText(kStart + 4 * 86400 + round)});
            tmp.exec("DELETE FROM HYDOARCHIVE WHERE rowid IN (SELECT rowid FROM HYDOARCHIVE "
                     "WHERE ASID = 1 ORDER BY DATUM DESC LIMIT 2)");
        };
        if (c.writable) {
            write();
            EXPECT_NE(check(db).perLevel, kNoDifferences) << "the summaries drifted";
        }
        EXPECT_TRUE(Database(tmp.path(), Database::Mode::Attach).needsUpgrade());

        const Database reopened(tmp.path());
        EXPECT_EQ(reopened.restoredSummaryObjects(), QStringList{c.restored});
        EXPECT_EQ(check(db).perLevel, kNoDifferences);
        write();
        EXPECT_EQ(check(db).perLevel, kNoDifferences) << "kept again by every write";
        EXPECT_EQ(Database(tmp.path()).restoredSummaryObjects(), QStringList());
    }
}

TEST_P(ArchiveSummary, columnsFromSummariesEqualColumnsCountedFromTheRawRows)
{
    db.appendArchive(randomRecords(random, 4000));
    const auto all = db.archiveSamples(kController, 1, kStart - 1, kStart + 3 * 86400);
    ASSERT_GT(all.size(), 1000u);

    const struct {
        const char *what;
        WallSecond from, to;
        int columns, slot;
    } cases[] = {
        {"minutes, ragged ends", kStart + 17, kStart + 86400 + 3601, 300, 60},
        {"ten minutes, one column", kStart + 599, kStart + 40000, 1, 600},
        {"hours over everything", kStart - 4000, kStart + 2 * 86400 + 7, 37, 3600},
        {"hours, range within one hour", kStart + 3601, kStart + 7000, 5, 3600},
        {"archive rows", kStart + 100, kStart + 20000, 113, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const ColumnGrid grid{c.from - 1, c.to - c.from + 1, c.columns, c.slot};
        std::map<int, ArchiveColumn> expected;
        for (const ArchiveSample &s : all) {
            if (s.second < c.from || s.second >= c.to)
                continue;
            ArchiveColumn &e = expected[grid.columnOf(s.second)];
            e.column = grid.columnOf(s.second);
            e.add(s);
        }
        const auto got = db.archiveColumns(kController, 1, c.from, c.to, grid);
        ASSERT_EQ(got.size(), expected.size());
        for (const ArchiveColumn &g : got) {
            const ArchiveColumn &e = expected.at(g.column);
            EXPECT_EQ(g.count, e.count) << g.column;
            EXPECT_NEAR(g.sum, e.sum, 1e-6);
            EXPECT_EQ(std::tie(g.minimum, g.maximum, g.firstSecond, g.first, g.lastSecond, g.last),
                      std::tie(e.minimum, e.maximum, e.firstSecond, e.first, e.lastSecond, e.last))
                << g.column;
        }
    }
}

TEST_P(ArchiveSummary, chartDrawsAtMostFourPointsPerColumnWithTheExtremesOfEveryRow)
{
    db.appendArchive(randomRecords(random, 4000));
    const QDateTime start = Database::dateTimeOf(kStart + 1234);
    const QList<int> aqids{kController, kController};
    const QList<int> sids{1, 2};
    // Salinity keeps the order of values, so its extremes come from the summaries too.
    const SensorLookup lookup = [](int aqid, int sid) -> std::optional<SensorConversion> {
        if (sid == 2)
            return SensorConversion{aqid, 11, 0, 0, 0};
        return std::nullopt;
    };
    const struct {
        qint64 span;
        int width, slot;
    } cases[] = {{6 * 3600, 400, 1}, {86400, 1000, 60}, {86400, 120, 600}, {2 * 86400, 40, 3600}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.span / c.width);
        const QDateTime end = start.addSecs(c.span);
        QList<double> maxima, minima;
        PointTable table;
        ArchiveFetch(db, start, end, aqids, sids, maxima, minima, table, lookup);
        for (int i = 0; i < 2; ++i) {
            const ChartSeries s = ChartFetchSeries(db, kController, sids[i], start, end, c.width,
                                                   lookup(kController, sids[i]));
            EXPECT_EQ(s.slotSeconds, c.slot);
            EXPECT_DOUBLE_EQ(s.maximum, maxima[i]);
            EXPECT_DOUBLE_EQ(s.minimum, minima[i]);
            EXPECT_LE(s.points.size(), 4u * c.width + 2);
            EXPECT_DOUBLE_EQ(s.points.front().x, table.x(i, 0));
            int lastRow = table.rows() - 1;
            while (lastRow > 0 && table.x(i, lastRow) == 0)
                --lastRow;
            EXPECT_DOUBLE_EQ(s.points.back().y, table.y(i, lastRow)) << "both end alike";
            EXPECT_TRUE(std::is_sorted(s.points.begin(), s.points.end(),
                                       [](auto &a, auto &b) { return a.x < b.x; }));
        }
    }
}

TEST_P(ArchiveSummary, aCompensatedOxygenSeriesOfALongRangeIsReadFromSummariesCloseToEveryRow)
{
    // Oxygen saturation on sensor 2, compensated by the temperature of sensor 1, a value a
    // minute for two days: the chart of both days stays on summaries and within a hair of
    // the conversion of every row.
    std::vector<ArchiveRecord> records;
    for (int minute = 0; minute < 2 * 1440; ++minute) {
        const QString datum = Database::datumText(kStart + 60 * minute);
        records.push_back({datum, 24 + 2 * std::sin(minute / 200.0), kController, 1});
        records.push_back({datum, 90 + 10 * std::sin(minute / 90.0), kController, 2});
    }
    db.appendArchive(records);
    const SensorConversion oxygen{kController, 6, 1, 0, 0};
    const QDateTime start = Database::dateTimeOf(kStart);
    const QDateTime end = Database::dateTimeOf(kStart + 2 * 86400 - 60);
    const ChartSeries summarised = ChartFetchSeries(db, kController, 2, start, end, 60, oxygen);
    const ChartSeries everyRow = ChartFetchSeries(db, kController, 2, start, end, 100000, oxygen);
    EXPECT_GT(summarised.slotSeconds, 1);
    EXPECT_EQ(everyRow.slotSeconds, 1);
    EXPECT_LE(summarised.points.size(), 4u * 60 + 2);
    EXPECT_NEAR(summarised.maximum, everyRow.maximum, 0.01 * everyRow.maximum);
    EXPECT_NEAR(summarised.minimum, everyRow.minimum, 0.01 * everyRow.minimum);
}

TEST_P(ArchiveSummary, valueAtAnInstantIsInterpolatedBetweenItsNeighbours)
{
    db.appendArchive({{"2026-05-01 10:00:00", 20.0, 3, 1},
                      {"2026-05-01 11:00:00", 22.0, 3, 1},
                      {"2026-05-01 11:00:00", 23.0, 3, 1}, // two values in one second
                      {"2026-05-01 10:30:00", 99.0, 3, 2}});
    const struct {
        const char *t;
        std::optional<double> value;
    } cases[] = {
        {"2026-05-01 10:00:00", 20.0}, {"2026-05-01 10:30:00", 21.0}, {"2026-05-01 10:15:00", 20.5},
        {"2026-05-01 11:00:00", 22.0}, {"2026-05-01 12:00:00", 23.0}, {"2026-05-01 09:00:00", 20.0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ArchiveValueAt(db, at(c.t), 3, 1), c.value) << c.t;
    EXPECT_EQ(ArchiveValueAt(db, at("2026-05-01 10:00:00").addMSecs(500), 3, 1), 20.0)
        << "the instant is compared to the second, as the row it falls on";
    EXPECT_EQ(ArchiveValueAt(db, at("2026-05-01 10:00:00"), 3, 5), std::nullopt)
        << "a sensor without history has no value";
}

TEST(ArchiveConversions, derivedTypesConvertTheStoredValue)
{
    const struct {
        int type;
        double x;
        double expected;
        double tolerance;
    } cases[] = {
        {12, 53, 1.02335, 1e-5},
        {12, 70, 70 * 4.55622 / 10000 + 1, 1e-12},
        {12, 10, 10 * 4.06167 / 10000 + 1, 1e-12},
        {12, 40.5, 40.5 * 4.06167 / 10000 + 1, 1e-12},
        {11, 53, 35.0, 0.1},
        {10, 29, 21.67, 1e-12},
        {6, 100, 6.4508, 1e-4},
        {2, 24.5, 24.5, 0},
    };
    for (const auto &c : cases)
        EXPECT_NEAR(ConvertStored({1, c.type, 0, 0, 0}, c.x, std::nullopt, std::nullopt),
                    c.expected, c.tolerance)
            << "type " << c.type << " x " << c.x;
    // Saturated water at 25 degrees and 1013 hPa: 8.26 mg/l on the curve of water type 1,
    // 6.54 on the other; warmer water holds less.
    EXPECT_NEAR(ConvertStored({1, 6, 0, 0, 1}, 100, 25.0, 1013.0), 8.26, 0.005);
    EXPECT_NEAR(ConvertStored({1, 6, 0, 0, 0}, 100, 25.0, 1013.0), 6.54, 0.005);
    EXPECT_LT(ConvertStored({1, 6, 0, 0, 0}, 100, 30.0, 1013.0), 6.5);
}

TEST_P(ArchiveSummary, derivedSeriesInOnePassEqualsTheValueOfEveryPointAlone)
{
    random.seed(99);
    const WallSecond t0 = *Database::wallSecond(u"2026-07-01 00:00:00");
    std::vector<ArchiveRecord> records;
    // Oxygen every few seconds; temperature and pressure sparse, starting late and ending
    // early, with values repeated in one second.
    for (int i = 0; i < 600; ++i) {
        const WallSecond t = t0 + random.bounded(7200);
        records.push_back({Database::datumText(t), random.bounded(1200) / 10.0, 5, 3});
        if (i % 9 == 0)
            records.push_back({Database::datumText(t0 + 900 + random.bounded(5000)),
                               15 + random.bounded(150) / 10.0, 5, 1});
        if (i % 23 == 0)
            records.push_back(
                {Database::datumText(t0 + 1800 + random.bounded(3000)), 950.0 + i, 5, 2});
    }
    db.appendArchive(records);

    for (const SensorConversion conversion :
         {SensorConversion{5, 6, 1, 2, 0}, SensorConversion{5, 6, 1, 0, 1},
          SensorConversion{5, 6, 0, 4, 0}}) {
        const auto samples = db.archiveSamples(5, 3, t0, t0 + 7200);
        const auto values = DerivedValues(db, conversion, samples);
        ASSERT_EQ(values.size(), samples.size());
        for (size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(values[i], DerivedValue(db, conversion, samples[i].second, samples[i].wert))
                << "sample " << i << " of conversion with " << conversion.kompSensor1 << ","
                << conversion.kompSensor2;
    }
}

TEST_P(ArchiveSummary, pointTableHoldsEachSeriesInTimeOrderBetweenItsBoundaries)
{
    db.appendArchive({{"2026-05-01 10:20:00", 40.0, 3, 1},
                      {"2026-05-01 10:10:00", 53.0, 3, 1}, // written after a later one
                      {"2026-05-01 09:00:00", 50.0, 3, 2},
                      {"2026-05-01 08:00:00", 60.0, 3, 7}});
    ASSERT_TRUE(db.createLogbookEntry(at("2026-05-01 10:15:00"), "Futter"));
    const QDateTime start = at("2026-05-01 10:00:00");
    const QDateTime end = at("2026-05-01 11:00:00");
    // Sensor 1 shows density, a type that converts its stored value.
    const SensorLookup lookup = [](int aqid, int sid) -> std::optional<SensorConversion> {
        return SensorConversion{aqid, sid == 1 ? 12 : 0, 0, 0, 0};
    };
    QList<double> maxima, minima;
    PointTable table;
    ArchiveFetch(db, start, end, {-1, 3, 3, 3}, {0, 1, 2, 9}, maxima, minima, table, lookup);

    auto density = [](double x) { return ConvertStored({3, 12, 0, 0, 0}, x, {}, {}); };
    const double s = DayNumber(start), e = DayNumber(end), minute = 1.0 / 1440;
    const struct {
        const char *what;
        std::vector<std::pair<double, double>> points;
    } expected[] = {
        {"logbook, ten days beyond both ends",
         {{s - 10, 100}, {s + 15 * minute, 100}, {e + 10, 100}}},
        {"density, boundaries converted too",
         {{s, density(53)},
          {s + 10 * minute, density(53)},
          {s + 20 * minute, density(40)},
          {e, density(40)}}},
        {"no row in the range: its two boundaries", {{s, 50}, {e, 50}}},
        {"no row at all: no point", {}},
    };
    ASSERT_EQ(table.series(), 4);
    EXPECT_EQ(table.rows(), 4) << "as many rows as the longest series";
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(expected[i].what);
        const auto &points = expected[i].points;
        for (int r = 0; r < table.rows(); ++r) {
            const auto want = r < int(points.size()) ? points[r] : std::pair(0.0, 0.0);
            EXPECT_NEAR(table.x(i, r), want.first, 1e-9) << r;
            EXPECT_DOUBLE_EQ(table.y(i, r), want.second) << r;
        }
    }
    EXPECT_EQ(std::pair(minima[1], maxima[1]), std::pair(density(40), density(53)));
    EXPECT_EQ(std::pair(minima[3], maxima[3]), std::pair(0.0, 0.0));
    EXPECT_EQ(DateTimeOfDayNumber(e), end);
}
