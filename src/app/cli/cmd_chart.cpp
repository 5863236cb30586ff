// ostracom-cli chart: the chart of archived values as a picture or as the CSV of its points,
// drawn by the chart window's own code without showing a window.

#ifdef OSTRACOM_CLI_CHART

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"
#include "display/chart_plot.h"
#include "display/ui/chart_drawing.h"
#include "model/ctarvelon.h"
#include "model/error_text.h"

#include <QSaveFile>

namespace
{

constexpr int kDefaultWidth = 1000;
constexpr int kDefaultHeight = 600;
// Axis labels and legend take this much of the picture's width from the plot.

struct ChartRequest {
    int id = 0;
    QList<int> sensors; // empty: every sensor with values in the range
    QDateTime from;
    QDateTime to;
    int size[2] = {kDefaultWidth, kDefaultHeight};
    QString outPath;
    QString suffix; // png, svg or csv
};

void addChartOptions(CommandLine &line)
{
    line.add(QStringLiteral("controller"), QLatin1String(kControllerIdHelp), QStringLiteral("ID"));
    line.add(QStringLiteral("sensor"), QStringLiteral("a sensor 1 to 8; may be repeated"),
             QStringLiteral("N"));
    line.add(QStringLiteral("from"), QStringLiteral("start of the range"), QStringLiteral("T"));
    line.add(QStringLiteral("to"), QStringLiteral("end of the range"), QStringLiteral("T"));
    line.add(QStringLiteral("width"), QStringLiteral("picture width (default 1000)"),
             QStringLiteral("PX"));
    line.add(QStringLiteral("height"), QStringLiteral("picture height (default 600)"),
             QStringLiteral("PX"));
    line.add(QStringLiteral("out"), QStringLiteral("the file to write"), QStringLiteral("FILE"));
}

// The chart the options ask for, or why they ask for none.
QString readChartRequest(const CommandLine &line, ChartRequest *request)
{
    if (const QString problem =
            storedControllerFrom(line.values(QStringLiteral("controller")), &request->id);
        !problem.isEmpty())
        return problem;
    bool ok = false;
    for (const QString &v : line.values(QStringLiteral("sensor"))) {
        const int n = v.toInt(&ok);
        if (!ok || n < 1 || n > cTarvelon::kSensors)
            return QStringLiteral("--sensor '%1' is not a sensor 1 to 8").arg(v);
        if (!request->sensors.contains(n))
            request->sensors << n;
    }
    if (request->sensors.size() > 9)
        return QStringLiteral("a chart holds at most 9 sensors");
    const auto from = parseCliTime(line.value(QStringLiteral("from")), false);
    const auto to = parseCliTime(line.value(QStringLiteral("to")), true);
    if (!from || !to)
        return QStringLiteral("--from and --to need a time YYYY-MM-DD[ HH:MM:SS]");
    if (*from >= *to)
        return QStringLiteral("--from must lie before --to");
    request->from = *from;
    request->to = *to;
    const char *sizeNames[2] = {"width", "height"};
    for (int i = 0; i < 2; ++i) {
        const QString name = QLatin1String(sizeNames[i]);
        if (!line.isSet(name))
            continue;
        request->size[i] = line.value(name).toInt(&ok);
        if (!ok || request->size[i] < 200 || request->size[i] > 10000)
            return QStringLiteral("--%1 needs 200 to 10000 pixels").arg(name);
    }
    request->outPath = line.value(QStringLiteral("out"));
    request->suffix = request->outPath.section(QLatin1Char('.'), -1).toLower();
    if (request->outPath.isEmpty() || !QStringList{"png", "svg", "csv"}.contains(request->suffix))
        return QStringLiteral("--out needs a file ending in .png, .svg or .csv");
    return {};
}

ChartPlot buildChartPlot(Database &db, const ChartRequest &request)
{
    return BuildControllerPlot(db, request.id, request.sensors, request.from, request.to,
                               std::max(100, request.size[0] - kChartFrameWidth));
}

// Writes the picture or the points; says on standard error why it could not.
bool writeChart(const ChartPlot &plot, const ChartRequest &request)
{
    if (request.suffix == QLatin1String("csv")) {
        QSaveFile f(request.outPath);
        if (!f.open(QIODevice::WriteOnly) || f.write(PlotCsv(plot).toUtf8()) < 0 || !f.commit()) {
            err() << "cannot write " << request.outPath << ": " << f.errorString() << "\n";
            return false;
        }
        return true;
    }
    QString error;
    if (!RenderChart(plot, request.outPath, request.size[0], request.size[1], &error)) {
        err() << error << "\n";
        return false;
    }
    return true;
}

int runChart(const CliOptions &options, const ChartRequest &request)
{
    CliSession session(options, CliSession::Access::ReadOnly);
    if (reportMissingController(session.db(), request.id))
        return kExitFailed;
    const ChartPlot plot = buildChartPlot(session.db(), request);
    if (!writeChart(plot, request))
        return kExitFailed;
    size_t points = 0;
    for (const PlotSeries &s : plot.series)
        points += s.points.size();
    err() << plot.series.size() - 1 << " series and the logbook, " << points
          << " points, written to " << request.outPath << "\n";
    return kExitOk;
}

} // namespace

int cmdChart(const CliOptions &options, const QStringList &args)
{
    CommandLine line(
        QStringLiteral("chart"),
        QStringLiteral("--controller ID [--sensor N]... --from T --to T [--width PX --height PX] "
                       "--out FILE.png|FILE.svg|FILE.csv"),
        QStringLiteral("Draws the archived values of a controller's sensors with the logbook, as "
                       "the chart window does.\n"
                       "T: YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS]. Without --sensor every sensor "
                       "with values in the range is drawn.\n"
                       "A .csv file receives exactly the points the chart draws. Values are "
                       "drawn as archived: converting salinity, density, rH or oxygen needs the "
                       "controller's display settings, which the window takes from the "
                       "connected controller."));
    addChartOptions(line);
    if (const auto done = line.parse(args))
        return *done;
    if (!line.arguments().isEmpty())
        return line.usageError(
            QStringLiteral("unexpected argument '%1'").arg(line.arguments().first()));
    ChartRequest request;
    if (const QString problem = readChartRequest(line, &request); !problem.isEmpty())
        return line.usageError(problem);
    try {
        return runChart(options, request);
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}

#endif
