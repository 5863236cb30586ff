// Database locations as a user types them (--db, the settings): SQLite file names and
// postgresql:// addresses. Checked beyond "no crash": no secret of the input ever appears
// in the problem reported, in the location the database names itself by, or in the name
// the spool file gives it; a usable address names itself by a text that reads back as the
// same address; an address is either usable or says why.
//
// Secrets, read the way a person writing the address means them: what follows a ':' in the
// part before the last '@' ahead of the options (a password, even one holding '/' or '@');
// the value of an option whose name holds "password"; an option that is a lone word, which
// may be a password typed in the wrong place. Secrets of fewer than four characters, and
// any that also stands elsewhere in the input or in the program's own problem texts, could
// appear by chance and are not looked for.

#include "fuzz_check.h"
#include "model/error_text.h"
#include "store/archive_spool.h"
#include "store/database.h"

#include <QRegularExpression>
#include <QUrl>

namespace
{

constexpr qsizetype kShortestSecret = 4;

QString decoded(const QString &part)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(part.toUtf8()));
}

bool isAddress(const QString &text)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(text).hasMatch();
}

// Every problem text the parser has, so that a secret that is part of one is not sought.
const QString &problemTexts()
{
    static const QString all = [] {
        QString texts;
        for (const char *bad :
             {"mysql://h/d", "postgresql://h/d d", "postgresql://u:p@h/d", "postgresql://%01@h/d",
              "postgresql://h%/d", "postgresql://h:0/d", "postgresql://h/", "postgresql://h/d?x",
              "postgresql://h/d?sslmode=%20", "postgresql://h/d?some_option=1"})
            texts +=
                errorText(Database::addressProblem(QString::fromLatin1(bad))) + QLatin1Char('\n');
        return texts;
    }();
    return all;
}

struct Secret {
    qsizetype from;
    qsizetype size;
};

std::vector<Secret> secretsOf(const QString &address)
{
    std::vector<Secret> secrets;
    const qsizetype start = address.indexOf(QLatin1String("://")) + 3;
    const qsizetype question = address.indexOf(QLatin1Char('?'), start);
    const qsizetype end = question < 0 ? address.size() : question;
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'), end - 1);
    if (at >= start) {
        const qsizetype colon = address.indexOf(QLatin1Char(':'), start);
        if (colon >= 0 && colon < at)
            secrets.push_back({colon + 1, at - colon - 1});
    }
    if (question < 0)
        return secrets;
    static const QStringList options{QStringLiteral("sslmode"), QStringLiteral("sslrootcert"),
                                     QStringLiteral("sslcert"), QStringLiteral("sslkey"),
                                     QStringLiteral("sslcrl"),  QStringLiteral("connect_timeout"),
                                     QStringLiteral("host"),    QStringLiteral("application_name")};
    qsizetype item = question + 1;
    while (item <= address.size()) {
        qsizetype next = address.indexOf(QLatin1Char('&'), item);
        if (next < 0)
            next = address.size();
        const QString text = address.mid(item, next - item);
        const qsizetype equals = text.indexOf(QLatin1Char('='));
        if (equals < 0 && !options.contains(decoded(text)))
            secrets.push_back({item, next - item});
        else if (equals >= 0 && decoded(text.left(equals))
                                    .contains(QLatin1String("password"), Qt::CaseInsensitive))
            secrets.push_back({item + equals + 1, next - item - equals - 1});
        item = next + 1;
    }
    return secrets;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzQuietQtWarnings();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(bytesOf(data, size));
    const auto read = Database::locationText(input);
    const QString *found = std::get_if<QString>(&read);
    const QString location = found ? *found : QString();
    const Error refused = found ? Error() : std::get<Error>(read);
    FUZZ_CHECK(refused == Database::addressProblem(input),
               "the problem is the same whichever way it is asked");
    const QString problem = errorText(refused);
    if (!isAddress(input)) {
        FUZZ_CHECK(problem.isEmpty(), "a file name is no address and has no problem");
        return 0;
    }
    FUZZ_CHECK(location.isEmpty() != problem.isEmpty(), "an address is usable or says why");

    QString shown = problem + QLatin1Char('\n') + location;
    if (!location.isEmpty()) {
        FUZZ_CHECK((Database::locationText(location) == std::variant<QString, Error>(location)),
                   "the location reads back as the same address");
        shown += QLatin1Char('\n') + ArchiveSpool::databaseName(location);
    }
    for (const Secret &s : secretsOf(input)) {
        const QString raw = input.mid(s.from, s.size);
        QString rest = input;
        rest.remove(s.from, s.size);
        for (const QString &secret : {raw, decoded(raw)}) {
            if (secret.size() < kShortestSecret || rest.contains(secret, Qt::CaseInsensitive) ||
                decoded(rest).contains(secret, Qt::CaseInsensitive) ||
                problemTexts().contains(secret, Qt::CaseInsensitive))
                continue;
            const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(secret));
            FUZZ_CHECK(!shown.contains(secret, Qt::CaseInsensitive) &&
                           !shown.contains(encoded, Qt::CaseInsensitive),
                       "no secret of the address is shown");
        }
    }
    return 0;
}
