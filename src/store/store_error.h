#pragma once

#include <QString>

#include <stdexcept>

// A failure of the database or the data directory. The message is readable as it stands
// and names the file or folder concerned; callers catch it at the boundary of an operation.
// The kind tells a caller whether waiting can help: a busy database is tried again at the
// next cycle, a full disk or a damaged file needs the user.
class StoreError : public std::runtime_error
{
public:
    enum class Kind {
        Other,
        Busy,    // locked by another program; the same call may succeed later
        Full,    // no space left on the disk
        Damaged, // the file is not a usable database
        Missing, // the database file does not exist
    };

    explicit StoreError(const QString &message, Kind kind = Kind::Other)
        : std::runtime_error(message.toStdString()), m_message(message), m_kind(kind)
    {
    }
    QString message() const { return m_message; }
    Kind kind() const { return m_kind; }

    // The kind of a SQLite result code as QtSql reports it (primary or extended code).
    static Kind kindOfSqliteCode(const QString &nativeCode)
    {
        bool ok = false;
        const int code = nativeCode.toInt(&ok) & 0xff;
        if (!ok)
            return Kind::Other;
        switch (code) {
        case 5: // SQLITE_BUSY
        case 6: // SQLITE_LOCKED
            return Kind::Busy;
        case 13: // SQLITE_FULL
            return Kind::Full;
        case 11: // SQLITE_CORRUPT
        case 26: // SQLITE_NOTADB
            return Kind::Damaged;
        default:
            return Kind::Other;
        }
    }

    // The kind of a PostgreSQL SQLSTATE. No state at all means the server could not be
    // reached, which, like a lost connection or a server shutting down, may be over by the
    // next cycle; so may a lock wait or a conflict with another writer.
    static Kind kindOfPostgresState(const QString &state)
    {
        if (state.isEmpty() || state.startsWith(QLatin1String("08")) ||
            state.startsWith(QLatin1String("57P")) || state == QLatin1String("40001") ||
            state == QLatin1String("40P01") || state == QLatin1String("55P03") ||
            state == QLatin1String("55006"))
            return Kind::Busy;
        if (state == QLatin1String("53100"))
            return Kind::Full;
        if (state.startsWith(QLatin1String("53")))
            return Kind::Busy; // out of memory or connections
        if (state == QLatin1String("XX001") || state == QLatin1String("XX002"))
            return Kind::Damaged;
        if (state == QLatin1String("3D000"))
            return Kind::Missing;
        return Kind::Other;
    }

private:
    QString m_message;
    Kind m_kind;
};
