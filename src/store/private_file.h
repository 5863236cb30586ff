#pragma once

// Files of the data folder, read and replaced whole. The folder may be shared with other
// programs of the same user, so a symbolic link planted there must never make this program
// read or write another file, and a crash or a full disk must leave either the old file or
// the new one, never a part of it.

#include <QByteArray>
#include <QString>

#include <optional>

#include <sys/stat.h>
#include <sys/types.h>

namespace private_file
{

// What went wrong, as errno tells it (0: nothing), and whether the file itself was written
// but the folder could not be synced afterwards (the rename may not last a power cut then).
struct Failure {
    int error = 0;
    bool folderSync = false;
    explicit operator bool() const { return error != 0; }
};

// Reads the whole regular file at `path`, never through a link and never blocking on a
// FIFO. A file that is no regular file fails with EINVAL, one larger than `limit` bytes
// (when limit >= 0) with EFBIG. `st` receives the file's status when given.
int read(const QString &path, QByteArray *data, qint64 limit = -1, struct stat *st = nullptr);

// Replaces the file at `path` with `data`: the data goes to a new file of a name nobody can
// foresee in the same folder (0600, created, never opened through a link), synced and
// renamed over the old one; then the folder is synced so that the rename lasts.
Failure replace(const QString &path, const QByteArray &data);

// Makes the entries of `folder` last: after a rename, create or remove in it. 0 or errno.
int syncFolder(const QString &folder);

// Writes all of `data` at `offset` of `fd` (a short write is retried, a write of nothing
// counts as a full disk). 0 or errno.
int writeAt(int fd, const QByteArray &data, off_t offset);

// "cannot WHAT PATH: the system's reason", the form the data folder's problems are told in.
QString problem(const QString &what, const QString &path, int error);

// A user name and a password, one a line, as the login files of the web view and the MQTT
// broker hold them. Such a file stays small and readable by its owner alone.
struct Login {
    QString user;
    QString password;
};
enum class LoginFault { None, Unreadable, OpenToOthers };
// Reads a login file (a CR before a line end is dropped). On failure `fault` says why, and
// for an unreadable file `why` gives problem()'s text.
std::optional<Login> readLogin(const QString &path, LoginFault *fault, QString *why);

} // namespace private_file
