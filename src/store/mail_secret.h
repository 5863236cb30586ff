#pragma once

// The mail password of a shared database lives in a file of the data folder that only this
// machine's user can read: in the settings row every user of the database could read it.

#include <QString>

#include <optional>

// The file of the database that `key` names (its server and name, not its address, so that
// an added connection option does not lose the password), in `dataDir`.
QString mailSecretPath(const QString &dataDir, const QString &key);

// The password the file holds, exactly as saved; nullopt when there is no file. Throws
// StoreError naming the file when it cannot be read or is no plain file (a link, say).
std::optional<QString> readMailSecret(const QString &path);

// Replaces the file whole or not at all: a new file beside it (0600, never through a link)
// is written, synced and renamed over it, and the folder synced. Throws StoreError naming
// the file; the old file is then left as it was.
void writeMailSecret(const QString &path, const QString &password);
