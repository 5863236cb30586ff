#pragma once

// Language lookup. Every text the user sees is a German key passed through ms() just
// before it is shown; the translations live in table HYDOLANG, one column per language.

#include "link/error.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <memory>

class Database;

// The language table. Keys are compared without regard to case. A text without a
// translation comes back followed by "???" and is added to HYDOLANG that way, so that
// translators find it; the source language DEUTSCH is never extended.
// Safe to use from several threads at once.
class cStrings
{
public:
    // How long ms() waits for a database another connection is writing; ms() runs on the
    // UI thread and must never hold it up for long.
    static constexpr int kWriteBusyTimeoutMs = 250;

    explicit cStrings(int writeBusyTimeoutMs = kWriteBusyTimeoutMs);
    ~cStrings();
    cStrings(const cStrings &) = delete;
    cStrings &operator=(const cStrings &) = delete;

    // Loads the translations of `language` from the database at `location` (or of
    // `database`). Returns no error on success, otherwise the cause: a name that is not a
    // plain identifier, a language without a column in HYDOLANG, a database that cannot be
    // read. On failure the previous language and table stay in force.
    [[nodiscard]] Error init(const QString &location, const QString &language);
    [[nodiscard]] Error init(const Database &database, const QString &language);

    // The text in the current language. Never fails: when the database cannot be written
    // the "???" text is still returned and remembered. Before the first successful init
    // every text comes back unchanged.
    QString ms(const QString &text);

    // The current language name, empty before the first successful init.
    QString language() const;

    // Forgets language and table and lets go of the database; ms() returns texts
    // unchanged until the next init.
    void clear();

private:
    int m_busyTimeoutMs;
    mutable QMutex m_mutex;
    QHash<QString, QString> m_table; // case-folded German text -> translation
    QString m_language;
    QString m_column; // the HYDOLANG column of m_language, as the table spells it
    std::shared_ptr<Database> m_database;
};

// The one language table of the program, used by ms().
cStrings &programStrings();

// Program-start initialisation: makes `language` the current language and loads its
// texts. Returns no error or the refusal (the previous language then stays).
Error initProgram(const Database &database, const QString &language);

// The start-up sequence of the program: ENGLISH first, then `overrideLanguage` when given,
// else the language stored in the settings row. Returns no error or why the wanted language
// could not be used (the program then goes on in ENGLISH).
Error initProgramLanguage(const Database &database, const QString &overrideLanguage = QString());

// The current language of the program.
QString currentLanguage();

QString ms(const QString &german);
QString ms(const char *germanUtf8);

// Marks a German key that is stored now and translated later with ms(); the translation
// check of the test suite finds keys written this way.
constexpr const char *msKey(const char *germanUtf8)
{
    return germanUtf8;
}
