#pragma once

#include <QString>

// The data directory holds ostracom.db, mail.txt and the log file.

inline constexpr const char *kDatabaseFileName = "ostracom.db";

// The data directory: `overrideDir` when given, else the user's application data folder.
// It is created when missing and must accept a new file; otherwise throws StoreError
// naming the folder and the cause. Returns the absolute path.
QString prepareDataDirectory(const QString &overrideDir = QString());

// The database location: `overrideDb` when given (a file path, made absolute; a
// postgresql:// URL is passed through), else ostracom.db in `dataDir`.
QString databaseLocation(const QString &dataDir, const QString &overrideDb = QString());

// Throws StoreError unless a new file can be created in `dir` (tried, not guessed from
// permission bits, which say nothing when running as root).
void requireWritableDirectory(const QString &dir);
