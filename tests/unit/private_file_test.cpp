// The data folder's whole-file reads and replacements: what a planted link, a FIFO or an
// oversized file gets, and that a replacement is private and leaves nothing half-written.

#include "store/private_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

struct Folder {
    QTemporaryDir dir;
    QString path(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }
    QByteArray native(const char *name) const { return QFile::encodeName(path(name)); }
    void put(const char *name, const QByteArray &data) const
    {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    QStringList entries() const
    {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
};

TEST(PrivateFile, readsOnlySmallPlainFilesOfItsOwn)
{
    Folder f;
    f.put("secret", "geheim");
    f.put("large", QByteArray(100, 'x'));
    ASSERT_EQ(::symlink(f.native("secret").constData(), f.native("planted").constData()), 0);
    ASSERT_EQ(::mkfifo(f.native("fifo").constData(), 0600), 0);
    const struct {
        const char *name;
        qint64 limit;
        int error;
        QByteArray data;
    } cases[] = {
        {"secret", -1, 0, "geheim"},
        {"large", 100, 0, QByteArray(100, 'x')},
        {"large", 99, EFBIG, ""},
        {"planted", -1, ELOOP, ""}, // never through a link, even to a file of our own
        {"fifo", -1, EINVAL, ""},   // and a FIFO neither blocks nor is read
        {"missing", -1, ENOENT, ""},
    };
    for (const auto &c : cases) {
        QByteArray data = "left over";
        EXPECT_EQ(private_file::read(f.path(c.name), &data, c.limit), c.error) << c.name;
        if (c.error == 0) {
            EXPECT_EQ(data, c.data) << c.name;
        }
    }
}

TEST(PrivateFile, replacesWholeAndPrivateWithoutFollowingALink)
{
    Folder f;
    f.put("target", "not to be touched");
    ASSERT_EQ(::symlink(f.native("target").constData(), f.native("spool").constData()), 0);
    ::umask(0);
    EXPECT_FALSE(private_file::replace(f.path("spool"), "new"));
    ::umask(022);
    QByteArray data;
    EXPECT_EQ(private_file::read(f.path("spool"), &data), 0) << "the link itself was replaced";
    EXPECT_EQ(data, "new");
    EXPECT_EQ(private_file::read(f.path("target"), &data), 0);
    EXPECT_EQ(data, "not to be touched");
    struct stat s {
    };
    ASSERT_EQ(::stat(f.native("spool").constData(), &s), 0);
    EXPECT_EQ(s.st_mode & 0777, 0600u);
    EXPECT_EQ(f.entries(), QStringList({"spool", "target"})) << "no temporary file is left";

    // A folder that is gone: the error, and nothing pretends to be written.
    const private_file::Failure gone = private_file::replace(f.path("nofolder/x"), "x");
    EXPECT_EQ(gone.error, ENOENT);
    EXPECT_FALSE(gone.folderSync);
}

} // namespace
