// Charts of a year-long archive of 8 sensors at one record per 10 s (about 25 million rows):
// fetching and preparing a day, a month and a year of 8 series for a chart 1000 pixels wide,
// beside the plain algorithm that reads every row twice; a derived series over a month in
// one pass beside a query per compensation value. (The archive rate is bench_archive_rate's.)
//
// The archive is generated once into the build folder (bench-data/) and reused; generating
// it writes the rows directly and lets the schema upgrade fill the summaries, as it would
// for an archive written by an older version. It takes several minutes and about 4 GB.

#include "display/archive_query.h"
#include "display/chart_points.h"
#include "display/hydo_display.h"
#include "store/database.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace
{

constexpr int kController = 1;
constexpr int kSensors = 8;
constexpr int kRecordSeconds = 10;
constexpr int kDays = 365;
constexpr int kPixelWidth = 1000;
const char *const kArchiveStart = "2026-01-01 00:00:00";

QString archivePath()
{
    return QDir(QStringLiteral(OSTRACOM_BENCH_DATA_DIR))
        .filePath(QStringLiteral("chart-archive-1y-8x10s.db"));
}

bool exec(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(sql.left(60)),
                     qPrintable(q.lastError().text()));
        return false;
    }
    return true;
}

// Rows written straight into an archive table of the first schema version; opening it with
// the store then upgrades it and fills the summaries.
bool generateArchive(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString partial = path + QStringLiteral(".partial");
    QFile::remove(partial);
    QElapsedTimer timer;
    timer.start();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "generate");
        db.setDatabaseName(partial);
        if (!db.open())
            return false;
        const qint64 start = *Database::wallSecond(QString::fromLatin1(kArchiveStart));
        const qint64 records = qint64(kDays) * 86400 / kRecordSeconds;
        // A daily swing, a slow drift per sensor and some noise.
        const QString insert =
            QStringLiteral(
                "WITH RECURSIVE k(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM k WHERE i < %1), "
                "s(a) AS (SELECT 1 UNION ALL SELECT a + 1 FROM s WHERE a < %2) "
                "INSERT INTO HYDOARCHIVE (TARVELONID, ASID, DATUM, WERT) SELECT %3, s.a, "
                "datetime(%4 + k.i * %5, 'unixepoch'), 10 * s.a + abs((k.i %% 8640) - 4320) / "
                "1000.0 + (k.i / 100000) %% 7 + (abs(random()) %% 100) / 200.0 FROM k, s")
                .arg(records - 1)
                .arg(kSensors)
                .arg(kController)
                .arg(start)
                .arg(kRecordSeconds)
                .replace(QStringLiteral("%%"), QStringLiteral("%"));
        if (!exec(db, "PRAGMA journal_mode = OFF") || !exec(db, "PRAGMA synchronous = OFF") ||
            !exec(db, "CREATE TABLE HYDOARCHIVE (TARVELONID INTEGER NOT NULL, ASID INTEGER NOT "
                      "NULL, DATUM TEXT NOT NULL, WERT REAL, BEMERKUNG TEXT)") ||
            !exec(db, "BEGIN") || !exec(db, insert) || !exec(db, "COMMIT"))
            return false;
        db.close();
    }
    QSqlDatabase::removeDatabase("generate");
    std::fprintf(stderr, "archive rows written in %.0f s\n", timer.elapsed() / 1000.0);
    timer.restart();
    {
        // Closed before the rename, so that its journal is folded in and goes with it.
        Database upgraded(partial);
    }
    std::fprintf(stderr, "schema upgrade with summary filling took %.0f s\n",
                 timer.elapsed() / 1000.0);
    return QFile::rename(partial, path);
}

Database &archive()
{
    static std::unique_ptr<Database> db = [] {
        if (!QFile::exists(archivePath()) && !generateArchive(archivePath())) {
            std::fprintf(stderr, "cannot generate %s\n", qPrintable(archivePath()));
            std::exit(1);
        }
        return std::make_unique<Database>(archivePath());
    }();
    return *db;
}

const QDateTime &rangeEnd()
{
    static const QDateTime end = Database::datumFromText(QStringLiteral("2026-12-31 12:00:00"));
    return end;
}

QDateTime rangeStart(int days)
{
    return rangeEnd().addDays(-days);
}

// ---- the plain algorithm: per series two boundary look-ups and the range read twice, once
// to count and once to copy, every row into the table. Its year takes about a minute.
struct PlainChart {
    std::vector<std::vector<std::pair<double, double>>> series;
    std::vector<double> maxima, minima;
};

PlainChart plainFetch(Database &db, const QDateTime &start, const QDateTime &end)
{
    PlainChart chart;
    const QString from = Database::datumText(start);
    const QString to = Database::datumText(end);
    for (int sid = 1; sid <= kSensors; ++sid) {
        std::vector<std::pair<double, double>> points;
        const double first = ArchiveValueAt(db, start, kController, sid).value_or(0);
        points.emplace_back(DayNumber(start), first);
        QSqlQuery q(db.connection());
        q.prepare(QStringLiteral("SELECT DATUM, WERT FROM HYDOARCHIVE WHERE TARVELONID = ? AND "
                                 "ASID = ? AND DATUM > ? AND DATUM < ?"));
        for (const QVariant &v :
             {QVariant(kController), QVariant(sid), QVariant(from), QVariant(to)})
            q.addBindValue(v);
        q.exec();
        int count = 0;
        while (q.next())
            ++count;
        points.reserve(count + 2);
        q.first();
        if (q.isValid()) {
            do {
                // The quick text reading of the fast path, so that the two differ only in
                // what they read.
                const auto second = Database::wallSecond(q.value(0).toString());
                points.emplace_back(DayNumber(second.value_or(0)), q.value(1).toDouble());
            } while (q.next());
        }
        points.emplace_back(DayNumber(end), ArchiveValueAt(db, end, kController, sid).value_or(0));
        double high = first, low = first;
        for (const auto &p : points) {
            high = std::max(high, p.second);
            low = std::min(low, p.second);
        }
        chart.series.push_back(std::move(points));
        chart.maxima.push_back(high);
        chart.minima.push_back(low);
    }
    return chart;
}

cHydoDisplay eightSeries()
{
    cHydoDisplay display;
    for (int sid = 1; sid <= kSensors; ++sid)
        display.add(kController, sid, 0, 0);
    return display;
}

void ChartOfEightSeries(benchmark::State &state)
{
    Database &db = archive();
    const cHydoDisplay display = eightSeries();
    const QDateTime start = rangeStart(static_cast<int>(state.range(0)));
    size_t points = 0;
    for (auto _ : state) {
        const auto series = ChartFetch(db, display, start, rangeEnd(), kPixelWidth);
        points = 0;
        for (const ChartSeries &s : series)
            points += s.points.size();
        benchmark::DoNotOptimize(series.data());
    }
    state.counters["points"] = static_cast<double>(points);
}

void PlainChartOfEightSeries(benchmark::State &state)
{
    Database &db = archive();
    const QDateTime start = rangeStart(static_cast<int>(state.range(0)));
    size_t points = 0;
    for (auto _ : state) {
        const PlainChart chart = plainFetch(db, start, rangeEnd());
        points = 0;
        for (const auto &s : chart.series)
            points += s.size();
        benchmark::DoNotOptimize(chart.maxima.data());
    }
    state.counters["points"] = static_cast<double>(points);
}

// Oxygen of sensor 3 compensated by the temperature of sensor 1 and the pressure of sensor 2.
const SensorConversion kOxygen{kController, 6, 1, 2, 0};

void DerivedMonthOnePass(benchmark::State &state)
{
    Database &db = archive();
    const WallSecond from = Database::wallSecond(rangeStart(30));
    const WallSecond to = Database::wallSecond(rangeEnd());
    for (auto _ : state) {
        const auto samples = db.archiveSamples(kController, 3, from, to);
        benchmark::DoNotOptimize(DerivedValues(db, kOxygen, samples).data());
    }
}

void DerivedMonthPerPoint(benchmark::State &state)
{
    Database &db = archive();
    const WallSecond from = Database::wallSecond(rangeStart(30));
    const WallSecond to = Database::wallSecond(rangeEnd());
    for (auto _ : state) {
        const auto samples = db.archiveSamples(kController, 3, from, to);
        double sum = 0;
        for (const ArchiveSample &s : samples)
            sum += DerivedValue(db, kOxygen, s.second, s.wert);
        benchmark::DoNotOptimize(sum);
    }
}

} // namespace

BENCHMARK(ChartOfEightSeries)->Arg(1)->Arg(30)->Arg(365)->Unit(benchmark::kMillisecond);
BENCHMARK(PlainChartOfEightSeries)
    ->Arg(1)
    ->Arg(30)
    ->Arg(365)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(DerivedMonthOnePass)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(DerivedMonthPerPoint)->Iterations(1)->Unit(benchmark::kMillisecond);

namespace
{
// Prints the runs as usual and then each fast path's time against its plain counterpart.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            m_ms[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n");
        const struct {
            const char *what, *fast, *plain, *goal;
        } pairs[] = {
            {"chart of 1 day", "ChartOfEightSeries/1", "PlainChartOfEightSeries/1/iterations:1",
             "50 ms"},
            {"chart of 1 month", "ChartOfEightSeries/30", "PlainChartOfEightSeries/30/iterations:1",
             "100 ms"},
            {"chart of 1 year", "ChartOfEightSeries/365",
             "PlainChartOfEightSeries/365/iterations:1", "100 ms"},
            {"derived month", "DerivedMonthOnePass/iterations:3",
             "DerivedMonthPerPoint/iterations:1", "ratio >= 10"},
        };
        for (const auto &p : pairs) {
            const auto fast = m_ms.find(p.fast);
            const auto plain = m_ms.find(p.plain);
            if (fast == m_ms.end() || plain == m_ms.end())
                continue;
            std::printf("%-22s %10.1f ms  against %10.1f ms  ratio %7.1f  (goal: %s)\n", p.what,
                        fast->second, plain->second, plain->second / fast->second, p.goal);
        }
    }

private:
    std::map<std::string, double> m_ms;
};
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
