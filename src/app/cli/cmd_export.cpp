// ostracom-cli export: the archive of one controller as CSV.

#include "app/cli/cli.h"
#include "app/cli/session.h"

#include <QSaveFile>

namespace
{

std::optional<QDateTime> parseTime(const QString &text, bool endOfDay)
{
    QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid())
        t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    if (!t.isValid()) {
        const QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
        if (d.isValid())
            t = QDateTime(d, endOfDay ? QTime(23, 59, 59) : QTime(0, 0, 0));
    }
    if (!t.isValid())
        return std::nullopt;
    return t;
}

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

} // namespace

int cmdExport(const CliOptions &options, const QStringList &args)
{
    std::optional<int> id, sensor;
    std::optional<QDateTime> from, to;
    QString outPath;
    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        if (i + 1 >= args.size()) {
            err() << a << " needs a value\n";
            return kExitUsage;
        }
        const QString v = args[++i];
        bool ok = true;
        if (a == QLatin1String("--id"))
            id = v.toInt(&ok);
        else if (a == QLatin1String("--sensor")) {
            sensor = v.toInt(&ok);
            ok = ok && *sensor >= 0 && *sensor <= 8;
        } else if (a == QLatin1String("--from")) {
            from = parseTime(v, false);
            ok = from.has_value();
        } else if (a == QLatin1String("--to")) {
            to = parseTime(v, true);
            ok = to.has_value();
        } else if (a == QLatin1String("--out"))
            outPath = v;
        else {
            err() << "unknown option " << a << "\n";
            return kExitUsage;
        }
        if (!ok) {
            err() << a << ": '" << v
                  << "' is not valid (times: YYYY-MM-DD or YYYY-MM-DD HH:MM:SS)\n";
            return kExitUsage;
        }
    }
    if (!id) {
        err()
            << "Usage: ostracom-cli export --id N [--sensor S] [--from T] [--to T] [--out FILE]\n";
        return kExitUsage;
    }
    if (from && to && *from > *to) {
        err() << "--from " << Database::datumText(*from) << " lies after --to "
              << Database::datumText(*to) << "\n";
        return kExitUsage;
    }
    try {
        CliSession session(options, CliSession::Access::ReadOnly);
        const auto rows = session.db().archiveRows(*id, sensor, from, to);
        QString csv = QStringLiteral("DATUM,TARVELONID,ASID,WERT,BEMERKUNG\n");
        for (const auto &r : rows) {
            csv += r.datum + QLatin1Char(',') + QString::number(r.tarvelonId) +
                   QLatin1Char(',') + QString::number(r.asid) + QLatin1Char(',') +
                   (r.wert.isNull() ? QString() : QString::number(r.wert.toDouble(), 'g', 15)) +
                   QLatin1Char(',') + csvField(r.bemerkung) + QLatin1Char('\n');
        }
        if (outPath.isEmpty()) {
            out() << csv;
            out().flush();
        } else {
            // Written whole or not at all, so a half file never looks like a finished export.
            QSaveFile f(outPath);
            if (!f.open(QIODevice::WriteOnly) || f.write(csv.toUtf8()) < 0 || !f.commit()) {
                err() << "cannot write " << outPath << ": " << f.errorString() << "\n";
                return kExitFailed;
            }
            err() << rows.size() << " rows written to " << outPath << "\n";
        }
        return kExitOk;
    } catch (const StoreError &e) {
        err() << e.message() << "\n";
        return kExitFailed;
    }
}
