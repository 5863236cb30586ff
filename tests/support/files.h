#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include <sys/stat.h>

// The permission bits of a file or folder, e.g. 0600; -1 when it cannot be read.
inline int modeOf(const QString &path)
{
    struct stat st {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// A text file's lines without the empty ones; none when it cannot be read.
inline QStringList fileLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Writes a file anew with the given permission bits; false when it cannot.
inline bool writeTestFile(const QString &path, const QByteArray &content, int mode = 0600)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
        return false;
    f.close();
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}
