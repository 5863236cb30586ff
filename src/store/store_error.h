#pragma once

#include "link/error.h"

#include <QString>

#include <stdexcept>

// A failure of the database or the data directory, as a code with the file or folder
// concerned and the cause; callers catch it at the boundary of an operation and show it with
// errorText. The kind tells a caller whether waiting can help: a busy database is tried again
// at the next cycle, a full disk or a damaged file needs the user.
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

    explicit StoreError(Error error)
        : std::runtime_error(debugText(error).toStdString()), m_error(std::move(error))
    {
    }
    StoreError(ErrorCode code, QString detail = {}, QString extra = {})
        : StoreError(Error(code, std::move(detail), std::move(extra)))
    {
    }
    const Error &error() const { return m_error; }
    Kind kind() const { return kindOf(m_error); }

    // What a caller may expect of waiting, by the code, or by the cause for a failure that
    // names only the operation.
    static Kind kindOf(const Error &error)
    {
        switch (error.code) {
        case ErrorCode::DatabaseBusy:
        case ErrorCode::DataFolderLocked:
            return Kind::Busy;
        case ErrorCode::DiskFull:
            return Kind::Full;
        case ErrorCode::DatabaseDamaged:
        case ErrorCode::NotSqlite:
            return Kind::Damaged;
        case ErrorCode::DatabaseMissing:
        case ErrorCode::DatabaseUnknown:
        case ErrorCode::NoArchive:
            return Kind::Missing;
        case ErrorCode::DatabaseOpen:
        case ErrorCode::QueryFailed:
            return error.cause == ErrorCode::None ? Kind::Other : kindOf(Error(error.cause));
        default:
            return Kind::Other;
        }
    }

    // The code that stands for a kind, as the cause of a failure named by its operation.
    static ErrorCode causeOf(Kind kind)
    {
        switch (kind) {
        case Kind::Busy:
            return ErrorCode::DatabaseBusy;
        case Kind::Full:
            return ErrorCode::DiskFull;
        case Kind::Damaged:
            return ErrorCode::DatabaseDamaged;
        case Kind::Missing:
            return ErrorCode::DatabaseUnknown;
        case Kind::Other:
            break;
        }
        return ErrorCode::None;
    }

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
    // For a debugger or a crash report only: what() is never shown to a user.
    static QString debugText(const Error &e)
    {
        return QStringLiteral("store error %1 (%2; %3; %4)")
            .arg(int(e.code))
            .arg(e.what, e.detail, e.extra);
    }

    Error m_error;
};
