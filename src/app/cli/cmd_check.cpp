// ostracom-cli check: the archive's summary tables against the archive, and their rebuild.

#include "app/cli/cli.h"
#include "app/cli/command_line.h"
#include "app/cli/session.h"

#include "model/error_text.h"
#include "store/strings.h"

#include <cmath>

namespace
{

constexpr int kDefaultMaxLines = 20;

QString levelName(int slotSeconds)
{
    switch (slotSeconds) {
    case 60:
        return ms("Minutenwerte");
    case 600:
        return ms("Zehnminutenwerte");
    case 3600:
        return ms("Stundenwerte");
    }
    return QString::number(slotSeconds);
}

QString number(double v)
{
    return QString::number(v, 'g', 12);
}

// The fields of a slot by the summary table's column names; with `other`, only those that
// differ from it, so a line shows what is wrong rather than everything.
QString fields(const ArchiveColumn &c, const ArchiveColumn *other)
{
    if (c.count == 0)
        return ms("keine Zeile");
    const bool all = !other || other->count == 0;
    const double sumRoom =
        1e-9 * (1 + double(c.count) * std::max(std::abs(c.minimum), std::abs(c.maximum)));
    QStringList parts;
    auto add = [&](bool differs, const char *name, const QString &value) {
        if (all || differs)
            parts << QLatin1String(name) + QLatin1Char('=') + value;
    };
    add(other && c.count != other->count, "N", QString::number(c.count));
    add(other && std::abs(c.sum - other->sum) > sumRoom, "SUMWERT", number(c.sum));
    add(other && c.minimum != other->minimum, "MINWERT", number(c.minimum));
    add(other && c.maximum != other->maximum, "MAXWERT", number(c.maximum));
    add(other && (c.firstSecond != other->firstSecond || c.first != other->first), "FIRSTWERT",
        number(c.first) + QStringLiteral(" (") + Database::datumText(c.firstSecond) +
            QLatin1Char(')'));
    add(other && (c.lastSecond != other->lastSecond || c.last != other->last), "LASTWERT",
        number(c.last) + QStringLiteral(" (") + Database::datumText(c.lastSecond) +
            QLatin1Char(')'));
    // Differences below what a double shows (a NULL read as 0): everything.
    if (parts.isEmpty())
        return fields(c, nullptr);
    return parts.join(QLatin1Char(' '));
}

// Checks every level, printing at most maxLines differences and a line per level. Returns
// the slot lengths of the levels that differ.
std::vector<int> checkLevels(CliSession &session, int maxLines)
{
    qint64 printed = 0;
    qint64 left = 0;
    const QString progressText = ms("Prüfe die Zusammenfassungen");
    const auto levels = session.db().checkArchiveSummaries(
        [&](const Database::SummaryDifference &d) {
            if (printed >= maxLines) {
                ++left;
                return;
            }
            ++printed;
            session.progress().finish();
            out() << levelName(d.slotSeconds) << "  Tarvelon " << d.tarvelonId << "  "
                  << ms("Sensor") << " " << d.asid << "  " << Database::datumText(d.slot) << "  "
                  << ms("gespeichert") << ": " << fields(d.stored, &d.archive) << "  "
                  << ms("aus dem Archiv") << ": " << fields(d.archive, &d.stored) << "\n";
            out().flush();
        },
        [&](qint64 done, qint64 total) {
            session.progress().DisplayProgress(progressText, done, total);
        });
    session.progress().finish();
    if (left > 0)
        out() << "... " << left << " " << ms("weitere Abweichungen") << "\n";
    std::vector<int> differing;
    for (const auto &level : levels) {
        out() << levelName(level.slotSeconds) << ": " << level.rows << " " << ms("Zeilen") << ", "
              << level.differences << " " << ms("Abweichungen") << "\n";
        if (level.differences > 0)
            differing.push_back(level.slotSeconds);
    }
    out().flush();
    return differing;
}

} // namespace

int cmdCheck(const CliOptions &options, const QStringList &args)
{
    CommandLine line(
        QStringLiteral("check"), QStringLiteral("[--repair] [--max-lines N]"),
        QStringLiteral("Compares the archive's summaries (per minute, ten minutes and hour,\n"
                       "which charts of long ranges read) with the archive itself, prints\n"
                       "each slot that differs and a line per summary."),
        QStringLiteral("Exit codes: 0 every summary agrees with the archive (after --repair:\n"
                       "agrees again), 1 differences were found or the check failed, 2 usage "
                       "error."));
    line.add(QStringLiteral("repair"),
             QStringLiteral("rebuild the summaries that differ from the archive, then check "
                            "again"));
    line.add(QStringLiteral("max-lines"),
             QStringLiteral("print at most N differences, then their count (default %1)")
                 .arg(kDefaultMaxLines),
             QStringLiteral("N"));
    if (const auto done = line.parse(args))
        return *done;
    if (!line.arguments().isEmpty())
        return line.usageError(
            QStringLiteral("unexpected argument '%1'").arg(line.arguments().first()));
    int maxLines = kDefaultMaxLines;
    if (line.isSet(QStringLiteral("max-lines"))) {
        bool ok = false;
        maxLines = line.value(QStringLiteral("max-lines")).toInt(&ok);
        if (!ok || maxLines < 0)
            return line.usageError(QStringLiteral("--max-lines: '%1' is not a number of lines")
                                       .arg(line.value(QStringLiteral("max-lines"))));
    }
    try {
        CliSession session(options, CliSession::Access::ReadOnly);
        const std::vector<int> differing = checkLevels(session, maxLines);
        if (differing.empty()) {
            out() << ms("Alle Zusammenfassungen stimmen mit dem Archiv überein.") << "\n";
            return kExitOk;
        }
        if (!line.isSet(QStringLiteral("repair"))) {
            out() << ms("Die Zusammenfassungen weichen vom Archiv ab; --repair berechnet sie "
                        "neu.")
                  << "\n";
            return kExitFailed;
        }
        QStringList names;
        for (int slotSeconds : differing)
            names << levelName(slotSeconds);
        out() << ms("Berechne neu: ") << names.join(QStringLiteral(", ")) << "\n";
        out().flush();
        session.db().rebuildArchiveSummaries(differing);
        if (!checkLevels(session, maxLines).empty()) {
            out() << ms("Die Zusammenfassungen weichen auch nach dem Neuberechnen vom Archiv ab.")
                  << "\n";
            return kExitFailed;
        }
        out() << ms("Alle Zusammenfassungen stimmen mit dem Archiv überein.") << "\n";
        return kExitOk;
    } catch (const StoreError &e) {
        err() << errorText(e.error()) << "\n";
        return kExitFailed;
    }
}
