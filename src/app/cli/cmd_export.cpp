// ostracom-cli export: the archive of one controller as CSV.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"
#include "model/error_text.h"

#include <QSaveFile>

namespace
{

// A CSV field: quoted when it holds a separator, a quote or a line break.
QString csvField(const QString &s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) &&
        !s.contains(QLatin1Char('\n')) && !s.contains(QLatin1Char('\r')))
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

struct ExportRequest {
    int id = 0;
    std::optional<int> sensor;
    std::optional<QDateTime> from, to;
    QString outPath; // empty: standard output
};

// The export the options ask for, or why they ask for none.
QString readExportRequest(const CommandLine &line, ExportRequest *request)
{
    if (const QString problem =
            storedControllerFrom(line.values(QStringLiteral("controller")), &request->id);
        !problem.isEmpty())
        return problem;
    request->outPath = line.value(QStringLiteral("out"));
    for (const char *name : {"sensor", "from", "to"}) {
        const QString option = QLatin1String(name);
        if (!line.isSet(option))
            continue;
        const QString v = line.value(option);
        bool ok = true;
        if (option == QLatin1String("sensor")) {
            request->sensor = v.toInt(&ok);
            ok = ok && *request->sensor >= 0 && *request->sensor <= 8;
        } else if (option == QLatin1String("from")) {
            request->from = parseCliTime(v, false);
            ok = request->from.has_value();
        } else {
            request->to = parseCliTime(v, true);
            ok = request->to.has_value();
        }
        if (!ok)
            return QStringLiteral("--%1: '%2' is not valid (times: YYYY-MM-DD or YYYY-MM-DD "
                                  "HH:MM:SS)")
                .arg(option, v);
    }
    if (request->from && request->to && *request->from > *request->to)
        return QStringLiteral("--from %1 lies after --to %2")
            .arg(Database::datumText(*request->from), Database::datumText(*request->to));
    return {};
}

QString archiveCsv(const std::vector<Database::ArchiveRow> &rows)
{
    QString csv = QStringLiteral("DATUM,TARVELONID,ASID,WERT,BEMERKUNG\n");
    for (const auto &r : rows) {
        csv += r.datum + QLatin1Char(',') + QString::number(r.tarvelonId) + QLatin1Char(',') +
               QString::number(r.asid) + QLatin1Char(',') +
               (r.wert.isNull() ? QString() : QString::number(r.wert.toDouble(), 'g', 15)) +
               QLatin1Char(',') + csvField(r.bemerkung) + QLatin1Char('\n');
    }
    return csv;
}

int runExport(const CliOptions &options, const ExportRequest &request)
{
    CliSession session(options, CliSession::Access::ReadOnly);
    if (reportMissingController(session.db(), request.id))
        return kExitFailed;
    const auto rows =
        session.db().archiveRows(request.id, request.sensor, request.from, request.to);
    const QString csv = archiveCsv(rows);
    if (request.outPath.isEmpty()) {
        out() << csv;
        out().flush();
        return kExitOk;
    }
    // Written whole or not at all, so a half file never looks like a finished export.
    QSaveFile f(request.outPath);
    if (!f.open(QIODevice::WriteOnly) || f.write(csv.toUtf8()) < 0 || !f.commit()) {
        err() << "cannot write " << request.outPath << ": " << f.errorString() << "\n";
        return kExitFailed;
    }
    err() << rows.size() << " rows written to " << request.outPath << "\n";
    return kExitOk;
}

} // namespace

int cmdExport(const CliOptions &options, const QStringList &args)
{
    CommandLine line(
        QStringLiteral("export"),
        QStringLiteral("--controller ID [--sensor S] [--from T] [--to T] [--out FILE]"),
        QStringLiteral("Writes the archive of one controller as CSV.\n"
                       "T: YYYY-MM-DD or YYYY-MM-DD HH:MM:SS; a day alone is its start\n"
                       "for --from, its end for --to."));
    line.add(QStringLiteral("controller"), QLatin1String(kControllerIdHelp), QStringLiteral("ID"),
             {QStringLiteral("id")});
    line.add(QStringLiteral("sensor"), QStringLiteral("only this sensor, 0 to 8"),
             QStringLiteral("S"));
    line.add(QStringLiteral("from"), QStringLiteral("only records from T on"), QStringLiteral("T"));
    line.add(QStringLiteral("to"), QStringLiteral("only records up to T"), QStringLiteral("T"));
    line.add(QStringLiteral("out"), QStringLiteral("write to FILE (default: standard output)"),
             QStringLiteral("FILE"));
    if (const auto done = line.parse(args))
        return *done;
    if (!line.arguments().isEmpty())
        return line.usageError(
            QStringLiteral("unexpected argument '%1'").arg(line.arguments().first()));
    ExportRequest request;
    if (const QString problem = readExportRequest(line, &request); !problem.isEmpty())
        return line.usageError(problem);
    try {
        return runExport(options, request);
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}
