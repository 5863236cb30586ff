#include "store/database.h"

#include "store/database_sql.h"
#include "store/mail_secret.h"

#include <QRegularExpression>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>

using namespace database_detail;

// ---------------------------------------------------------------------------------------
// Languages

bool Database::isPlainIdentifier(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("\\A[A-Za-z_][A-Za-z0-9_]*\\z"));
    return plain.match(name).hasMatch();
}

std::optional<QString> Database::languageColumn(const QString &language) const
{
    if (!isPlainIdentifier(language))
        return std::nullopt;
    const QSqlRecord record = Sql(connection(), location()).record(QStringLiteral("HYDOLANG"));
    for (int i = 0; i < record.count(); ++i)
        if (record.fieldName(i).compare(language, Qt::CaseInsensitive) == 0)
            return record.fieldName(i);
    return std::nullopt;
}

namespace
{

QString requireColumn(const Database &db, const QString &language)
{
    const auto column = db.languageColumn(language);
    if (!column) {
        Error e(ErrorCode::UnknownLanguage, db.location());
        e.what = language;
        throw StoreError(e);
    }
    return *column;
}

} // namespace

QList<QPair<QString, QString>> Database::translations(const QString &language) const
{
    const QString column = requireColumn(*this, language);
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT Deutsch, %1 FROM HYDOLANG ORDER BY %2")
                              .arg(column, QLatin1String(kRowKey)),
                          "Reading the translations");
    QList<QPair<QString, QString>> rows;
    while (q.next()) {
        const QVariant translation = q.value(1);
        rows.append(
            {q.value(0).toString(), translation.isNull() ? QString() : translation.toString()});
    }
    return rows;
}

bool Database::addTranslation(const QString &language, const QString &german, const QString &text)
{
    const QString column = requireColumn(*this, language);
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("INSERT INTO HYDOLANG (Deutsch, %1) SELECT ?, ? "
                                         "WHERE NOT EXISTS (SELECT 1 FROM HYDOLANG "
                                         "WHERE Deutsch = ?)")
                              .arg(column),
                          {german, textValue(text), german}, "Adding a translation");
    return q.numRowsAffected() > 0;
}

QStringList Database::languages() const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT LANGTYPE FROM HYDOLANGTYPE ORDER BY LANGTYPE ASC"),
                          "Reading the languages");
    QStringList names;
    while (q.next())
        names << q.value(0).toString();
    return names;
}

// ---------------------------------------------------------------------------------------
// Settings row

std::optional<MailSettings> Database::mailSettings() const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(QStringLiteral("SELECT email_servername, email_receiver, email_sender, "
                                         "email_username, email_passwort, email_enabled "
                                         "FROM OSTRACOM WHERE OSTRACOMID = ? ORDER BY %1 LIMIT 1")
                              .arg(QLatin1String(kRowKey)),
                          {kSettingsRowId}, "Reading the mail settings");
    if (!q.next())
        return std::nullopt;
    MailSettings m;
    m.servername = q.value(0).toString();
    m.receiver = q.value(1).toString();
    m.sender = q.value(2).toString();
    m.username = q.value(3).toString();
    m.passwort = q.value(4).toString();
    m.enabled = q.value(5).toInt();
    // A password still in the row is one not moved yet, or one another machine saved since.
    const QString file = mailPasswordFile();
    if (m.passwort.isEmpty() && !file.isEmpty())
        m.passwort = readMailSecret(file).value_or(QString());
    return m;
}

void Database::saveMailSettings(const MailSettings &m)
{
    QString column = m.passwort;
    if (m_shared->dialect == Dialect::Postgres) {
        const QString file = mailPasswordFile();
        if (file.isEmpty() && !m.passwort.isEmpty())
            throw StoreError(ErrorCode::MailPasswordNotGiven, location());
        // First the file: should the row fail, the password is kept all the same.
        if (!file.isEmpty())
            writeMailSecret(file, m.passwort);
        column.clear();
    }
    insertOrUpdate(QStringLiteral("OSTRACOM"), {QStringLiteral("OSTRACOMID")}, {kSettingsRowId},
                   {QStringLiteral("email_servername"), QStringLiteral("email_receiver"),
                    QStringLiteral("email_sender"), QStringLiteral("email_username"),
                    QStringLiteral("email_passwort"), QStringLiteral("email_enabled")},
                   {textValue(m.servername), textValue(m.receiver), textValue(m.sender),
                    textValue(m.username), textValue(column), m.enabled},
                   "Saving the mail settings");
}

std::optional<QString> Database::languageSetting() const
{
    Sql sql(connection(), location());
    QSqlQuery q = sql.run(
        QStringLiteral("SELECT langtype FROM OSTRACOM WHERE OSTRACOMID = ? ORDER BY %1 LIMIT 1")
            .arg(QLatin1String(kRowKey)),
        {kSettingsRowId}, "Reading the language setting");
    if (!q.next() || q.value(0).isNull() || q.value(0).toString().isEmpty())
        return std::nullopt;
    return q.value(0).toString();
}

void Database::saveLanguageSetting(const QString &language)
{
    insertOrUpdate(QStringLiteral("OSTRACOM"), {QStringLiteral("OSTRACOMID")}, {kSettingsRowId},
                   {QStringLiteral("langtype")}, {textValue(language)},
                   "Saving the language setting");
}

// ---------------------------------------------------------------------------------------
// The outbox's longest wait: a column of the settings row, NULL (like 0) for the default.

void database_detail::addMailMaxAge(Sql &sql)
{
    sql.direct(QStringLiteral("ALTER TABLE OSTRACOM ADD COLUMN mail_max_age_seconds INTEGER"),
               "Adding the longest wait of alarm mails");
}

int Database::outboxMaxAgeSeconds() const
{
    Sql sql(connection(), location());
    QSqlQuery q =
        sql.run(QStringLiteral("SELECT mail_max_age_seconds FROM OSTRACOM WHERE OSTRACOMID = ? "
                               "AND mail_max_age_seconds IS NOT NULL ORDER BY %1 LIMIT 1")
                    .arg(QLatin1String(kRowKey)),
                {kSettingsRowId}, "Reading the longest wait of alarm mails");
    return q.next() ? std::max(0, q.value(0).toInt()) : 0;
}

void Database::saveOutboxMaxAgeSeconds(int seconds)
{
    insertOrUpdate(QStringLiteral("OSTRACOM"), {QStringLiteral("OSTRACOMID")}, {kSettingsRowId},
                   {QStringLiteral("mail_max_age_seconds")}, {seconds},
                   "Saving the longest wait of alarm mails");
}
