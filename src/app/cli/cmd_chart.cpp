// ostracom-cli chart: the chart of archived values as a picture or as the CSV of its points,
// drawn by the chart window's own code without showing a window.

#ifdef OSTRACOM_CLI_CHART

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"
#include "display/chart_plot.h"
#include "display/hydo_display.h"
#include "display/ui/chart_drawing.h"
#include "model/ctarvelon.h"

#include <QSaveFile>

namespace
{

constexpr int kDefaultWidth = 1000;
constexpr int kDefaultHeight = 600;
// Axis labels and legend take this much of the picture's width from the plot.
constexpr int kFrameWidth = 120;

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
    if (const auto done = line.parse(args))
        return *done;
    if (!line.arguments().isEmpty())
        return line.usageError(
            QStringLiteral("unexpected argument '%1'").arg(line.arguments().first()));

    int id = 0;
    if (const QString problem =
            storedControllerFrom(line.values(QStringLiteral("controller")), &id);
        !problem.isEmpty())
        return line.usageError(problem);
    bool ok = false;
    QList<int> sensors;
    for (const QString &v : line.values(QStringLiteral("sensor"))) {
        const int n = v.toInt(&ok);
        if (!ok || n < 1 || n > cTarvelon::kSensors)
            return line.usageError(QStringLiteral("--sensor '%1' is not a sensor 1 to 8").arg(v));
        if (!sensors.contains(n))
            sensors << n;
    }
    if (sensors.size() > 9)
        return line.usageError(QStringLiteral("a chart holds at most 9 sensors"));
    const auto from = parseCliTime(line.value(QStringLiteral("from")), false);
    const auto to = parseCliTime(line.value(QStringLiteral("to")), true);
    if (!from || !to)
        return line.usageError(QStringLiteral("--from and --to need a time YYYY-MM-DD[ HH:MM:SS]"));
    if (*from >= *to)
        return line.usageError(QStringLiteral("--from must lie before --to"));
    int size[2] = {kDefaultWidth, kDefaultHeight};
    const char *sizeNames[2] = {"width", "height"};
    for (int i = 0; i < 2; ++i) {
        const QString name = QLatin1String(sizeNames[i]);
        if (!line.isSet(name))
            continue;
        size[i] = line.value(name).toInt(&ok);
        if (!ok || size[i] < 200 || size[i] > 10000)
            return line.usageError(QStringLiteral("--%1 needs 200 to 10000 pixels").arg(name));
    }
    const QString outPath = line.value(QStringLiteral("out"));
    const QString suffix = outPath.section(QLatin1Char('.'), -1).toLower();
    if (outPath.isEmpty() || !QStringList{"png", "svg", "csv"}.contains(suffix))
        return line.usageError(QStringLiteral("--out needs a file ending in .png, .svg or .csv"));

    try {
        CliSession session(options, CliSession::Access::ReadOnly);
        if (reportMissingController(session.db(), id))
            return kExitFailed;
        cHydoDisplay definition;
        for (int n : sensors.isEmpty() ? QList<int>{1, 2, 3, 4, 5, 6, 7, 8} : sensors)
            definition.add(id, n, 0, 0);
        definition.set_StartDatum(*from);
        definition.set_endDatum(*to);
        definition.set_onlinedata(false);
        const int plotWidth = std::max(100, size[0] - kFrameWidth);
        ChartPlot plot = BuildPlot(session.db(), definition, {}, plotWidth, *to);
        if (sensors.isEmpty()) {
            // Sensors without a value in the range are no series of this chart.
            std::erase_if(plot.series,
                          [](const PlotSeries &s) { return !s.logbook && s.points.empty(); });
            for (size_t i = 0; i < plot.series.size(); ++i)
                plot.series[i].colour = SeriesColour(int(i) + 1);
        }
        if (suffix == QLatin1String("csv")) {
            QSaveFile f(outPath);
            if (!f.open(QIODevice::WriteOnly) || f.write(PlotCsv(plot).toUtf8()) < 0 ||
                !f.commit()) {
                err() << "cannot write " << outPath << ": " << f.errorString() << "\n";
                return kExitFailed;
            }
        } else {
            QString error;
            if (!RenderChart(plot, outPath, size[0], size[1], &error)) {
                err() << error << "\n";
                return kExitFailed;
            }
        }
        size_t points = 0;
        for (const PlotSeries &s : plot.series)
            points += s.points.size();
        err() << plot.series.size() - 1 << " series and the logbook, " << points
              << " points, written to " << outPath << "\n";
        return kExitOk;
    } catch (const StoreError &e) {
        err() << e.message() << "\n";
        return kExitFailed;
    }
}

#endif
