// Every German text the program shows has an English translation in the seed, so no user
// of ours ever sees a "???" text.

#include "model/tables.h"
#include "store/seed.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace
{

// Decodes the escapes of a C++ string literal's body: \r, \n, \t; any other escaped
// character (\\, \", \') stands for itself.
QString decodeLiteral(const QString &body)
{
    QString out;
    for (qsizetype i = 0; i < body.size(); ++i) {
        if (body.at(i) != QLatin1Char('\\') || i + 1 == body.size()) {
            out += body.at(i);
            continue;
        }
        const QChar c = body.at(++i);
        out += c == QLatin1Char('r')   ? QChar('\r')
               : c == QLatin1Char('n') ? QChar('\n')
               : c == QLatin1Char('t') ? QChar('\t')
                                       : c;
    }
    return out;
}

struct Key {
    QString text;
    QString where;
};

// Keys written as ms("..."), ms(QStringLiteral("...")) or msKey("..."), including literals
// split over several lines.
QList<Key> keysInSources(const QStringList &roots)
{
    static const QRegularExpression call(
        QStringLiteral(R"re(\b(?:ms|msKey)\s*\(\s*(?:QStringLiteral\s*\(\s*)?)re"
                       R"re(((?:u8)?"(?:[^"\\]|\\.)*"(?:\s*(?:u8)?"(?:[^"\\]|\\.)*")*))re"));
    static const QRegularExpression literal(QStringLiteral(R"re("((?:[^"\\]|\\.)*)")re"));
    QList<Key> keys;
    for (const QString &root : roots) {
        QDirIterator it(root, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QString source = QString::fromUtf8(f.readAll());
            for (const auto &m : call.globalMatch(source)) {
                QString text;
                for (const auto &part : literal.globalMatch(m.captured(1)))
                    text += decodeLiteral(part.captured(1));
                if (text.isEmpty())
                    continue;
                const int line = source.left(m.capturedStart()).count(QLatin1Char('\n')) + 1;
                keys.append({text, QStringLiteral("%1:%2").arg(path).arg(line)});
            }
        }
    }
    return keys;
}

QString visible(QString s)
{
    return s.replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

} // namespace

TEST(TranslationSeed, builtInSeedIsSound)
{
    const SeedFile &seed = builtInSeed();
    EXPECT_EQ(seed.problems, QStringList());
    EXPECT_GE(seed.entries.size(), 300);
}

TEST(TranslationSeed, parserDecodesEscapesAndRejectsBrokenLines)
{
    const SeedFile seed = parseSeed("# comment\n"
                                    "\n"
                                    "Zeile 1\\r\\nZeile 2\tLine 1\\r\\nLine 2\r\n"
                                    "Pfad C:\\\\ost\\tracom \tPath \n"
                                    "ohne Tab\n"
                                    "Zwei\tTabs\tzu viel\n"
                                    "Unbekannt \\q\tUnknown\n"
                                    "Leer\t\n"
                                    "zeile 1\\r\\nzeile 2\tdouble\n"
                                    "Ende\tEnd");
    ASSERT_EQ(seed.entries.size(), 3);
    EXPECT_EQ(seed.entries[0].german, "Zeile 1\r\nZeile 2");
    EXPECT_EQ(seed.entries[0].english, "Line 1\r\nLine 2");
    EXPECT_EQ(seed.entries[1].german, "Pfad C:\\ost\tracom ") << "trailing blank kept";
    EXPECT_EQ(seed.entries[1].english, "Path ");
    EXPECT_EQ(seed.entries[2].german, "Ende");
    ASSERT_EQ(seed.problems.size(), 5);
    EXPECT_TRUE(seed.problems[0].startsWith("line 5")) << seed.problems[0].toStdString();
    EXPECT_TRUE(seed.problems[4].contains("twice")) << seed.problems[4].toStdString();
}

TEST(TranslationCoverage, everyGermanTextOfTheProgramHasATranslation)
{
    QSet<QString> translated;
    for (const SeedTranslation &t : builtInSeed().entries)
        translated.insert(t.german.toCaseFolded());

    const QString root = QStringLiteral(OSTRACOM_SOURCE_DIR);
    QList<Key> keys = keysInSources({root + "/src", root + "/sim"});
    // The scan must find the program's texts, or an empty result would pass unnoticed.
    ASSERT_GE(keys.size(), 20) << "the source scan found too few ms() calls";
    for (const QString &text : tables::allTexts())
        keys.append({text, QStringLiteral("tables::allTexts()")});

    QStringList missing;
    for (const Key &k : std::as_const(keys))
        if (!translated.contains(k.text.toCaseFolded()))
            missing << QStringLiteral("%1: \"%2\"").arg(k.where, visible(k.text));
    missing.removeDuplicates();
    EXPECT_TRUE(missing.isEmpty()) << "texts without a line in src/store/seed/hydolang.tsv:\n"
                                   << missing.join('\n').toStdString();
}
