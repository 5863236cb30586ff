#include "store/strings.h"

#include "store/database.h"

#include <QFileInfo>
#include <QSet>

namespace
{

constexpr const char *kSourceLanguage = "DEUTSCH";
constexpr const char *kStartLanguage = "ENGLISH";
constexpr const char *kUntranslatedMark = "???";

} // namespace

cStrings::cStrings(int writeBusyTimeoutMs) : m_busyTimeoutMs(writeBusyTimeoutMs)
{
}

cStrings::~cStrings() = default;

Error cStrings::init(const Database &database, const QString &language)
{
    return init(database.location(), language);
}

Error cStrings::init(const QString &location, const QString &language)
{
    if (!Database::isPlainIdentifier(language)) {
        Error e(ErrorCode::LanguageNameInvalid);
        e.what = language;
        return e;
    }

    std::shared_ptr<Database> database;
    {
        QMutexLocker lock(&m_mutex);
        if (m_database && m_database->location() == QFileInfo(location).absoluteFilePath())
            database = m_database;
    }
    QHash<QString, QString> table;
    QString column;
    try {
        if (!database)
            database =
                std::make_shared<Database>(location, Database::Mode::Attach, m_busyTimeoutMs);
        const auto found = database->languageColumn(language);
        if (!found) {
            Error e(ErrorCode::LanguageNoColumn, database->location());
            e.what = language;
            return e;
        }
        column = *found;

        // Rows are read in table order. Of two keys that differ only in case the first
        // wins, unless it has no translation yet and a later one has.
        QSet<QString> untranslated;
        for (const auto &[german, translation] : database->translations(column)) {
            if (german.isEmpty())
                continue;
            const QString key = german.toCaseFolded();
            const bool missing =
                translation.isNull() || translation == german + QLatin1String(kUntranslatedMark);
            if (table.contains(key) && (missing || !untranslated.contains(key)))
                continue;
            table.insert(key, translation.isNull() ? german + QLatin1String(kUntranslatedMark)
                                                   : translation);
            if (missing)
                untranslated.insert(key);
            else
                untranslated.remove(key);
        }
    } catch (const StoreError &e) {
        return Error::around(ErrorCode::LanguageNotLoaded, language, e.error());
    }

    QMutexLocker lock(&m_mutex);
    m_table.swap(table);
    m_language = language;
    m_column = column;
    m_database.swap(database); // the old handle is let go after the lock
    return {};
}

QString cStrings::ms(const QString &text)
{
    if (text.isEmpty())
        return text;
    const QString key = text.toCaseFolded();
    std::shared_ptr<Database> database;
    QString column;
    QString result;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_database)
            return text;
        const auto it = m_table.constFind(key);
        if (it != m_table.constEnd())
            return *it;
        if (m_language.compare(QLatin1String(kSourceLanguage), Qt::CaseInsensitive) == 0)
            return text;
        result = text + QLatin1String(kUntranslatedMark);
        // Remembered first, so another thread asking meanwhile neither writes it again
        // nor waits for this thread's database write.
        m_table.insert(key, result);
        database = m_database;
        column = m_column;
    }
    try {
        database->addTranslation(column, text, result);
    } catch (...) {
        // The text is shown all the same; the row is added when the database is writable
        // again in a later run.
    }
    return result;
}

QString cStrings::language() const
{
    QMutexLocker lock(&m_mutex);
    return m_language;
}

void cStrings::clear()
{
    std::shared_ptr<Database> released; // let go after the lock, as it may close connections
    QMutexLocker lock(&m_mutex);
    m_table.clear();
    m_language.clear();
    m_column.clear();
    released.swap(m_database);
}

cStrings &programStrings()
{
    // Never destroyed: its connections must not outlive the SQL driver registry, which
    // static destruction might take down first.
    static cStrings *strings = new cStrings;
    return *strings;
}

Error initProgram(const Database &database, const QString &language)
{
    return programStrings().init(database, language);
}

Error initProgramLanguage(const Database &database, const QString &overrideLanguage)
{
    if (Error error = initProgram(database, QLatin1String(kStartLanguage)); !error.ok())
        return error;
    QString wanted = overrideLanguage;
    if (wanted.isEmpty()) {
        try {
            wanted = database.languageSetting().value_or(QString());
        } catch (const StoreError &e) {
            return e.error();
        }
    }
    if (wanted.isEmpty())
        return {};
    return initProgram(database, wanted);
}

QString currentLanguage()
{
    return programStrings().language();
}

QString ms(const QString &german)
{
    return programStrings().ms(german);
}

QString ms(const char *germanUtf8)
{
    return programStrings().ms(QString::fromUtf8(germanUtf8));
}
