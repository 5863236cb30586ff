#pragma once

#include "link/error.h"

#include <QString>

// The data directory holds ostracom.db, mail.txt and the log file.

inline constexpr const char *kDatabaseFileName = "ostracom.db";

// The data directory a program uses, neither checked nor created: `dataDirOption` when
// given; with only a database file given, that file's folder, since its spool, message
// file and log belong beside it; else the user's application data folder. Absolute.
QString chooseDataDirectory(const QString &dataDirOption, const QString &dbOption);

// The data directory: `overrideDir` when given, else the user's application data folder.
// It is created when missing and must accept a new file; otherwise throws StoreError
// naming the folder and the cause. Returns the absolute path.
// It holds the mail password and the archive, so it is made private: the folder 0700
// (unless it is a shared one such as /tmp, or not ours) and the program's files in it 0600.
QString prepareDataDirectory(const QString &overrideDir = QString());

// Takes group and other access away from an existing file. A missing file is no error.
Error makePrivate(const QString &path);

// The database location: `overrideDb` when given (a file path, made absolute; a
// postgresql:// URL is passed through), else ostracom.db in `dataDir`.
QString databaseLocation(const QString &dataDir, const QString &overrideDb = QString());

// Throws StoreError unless a new file can be created in `dir` (tried, not guessed from
// permission bits, which say nothing when running as root).
void requireWritableDirectory(const QString &dir);
