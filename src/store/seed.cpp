#include "store/seed.h"

#include <QFile>
#include <QSet>

namespace
{

// Decodes the escapes of one field; false on an unknown escape or a trailing backslash.
bool decodeField(const QString &field, QString &out)
{
    out.clear();
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const QChar c = field.at(i);
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (++i >= field.size())
            return false;
        switch (field.at(i).unicode()) {
        case 'r':
            out += QLatin1Char('\r');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default:
            return false;
        }
    }
    return true;
}

} // namespace

SeedFile parseSeed(const QByteArray &utf8)
{
    SeedFile seed;
    QSet<QString> seen;
    const QStringList lines = QString::fromUtf8(utf8).split(QLatin1Char('\n'));
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QString line = lines.at(n);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1); // a file saved with Windows line ends
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QString where = QStringLiteral("line %1").arg(n + 1);
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() != 2) {
            seed.problems << QStringLiteral("%1: expected one tab between German and English, "
                                            "found %2")
                                 .arg(where)
                                 .arg(fields.size() - 1);
            continue;
        }
        SeedTranslation t;
        if (!decodeField(fields.at(0), t.german) || !decodeField(fields.at(1), t.english)) {
            seed.problems << QStringLiteral("%1: unknown escape (use \\r \\n \\t \\\\)").arg(where);
            continue;
        }
        if (t.german.isEmpty() || t.english.isEmpty()) {
            seed.problems << QStringLiteral("%1: empty German text or translation").arg(where);
            continue;
        }
        // Keys are compared without regard to case, so two spellings would clash.
        const QString folded = t.german.toCaseFolded();
        if (seen.contains(folded)) {
            seed.problems << QStringLiteral("%1: \"%2\" is listed twice").arg(where, t.german);
            continue;
        }
        seen.insert(folded);
        seed.entries << t;
    }
    return seed;
}

// The resource lives in a static library; registering it by hand keeps the linker from
// dropping it.
static void registerSeedResource()
{
    Q_INIT_RESOURCE(seed);
}

const SeedFile &builtInSeed()
{
    static const SeedFile seed = [] {
        registerSeedResource();
        QFile file(QStringLiteral(":/seed/hydolang.tsv"));
        if (!file.open(QIODevice::ReadOnly)) {
            SeedFile missing;
            missing.problems << QStringLiteral("the built-in translation table is missing");
            return missing;
        }
        return parseSeed(file.readAll());
    }();
    return seed;
}
