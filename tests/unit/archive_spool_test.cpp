// The spool file and the rejects file as files: what a damaged, torn, older or foreign spool
// gives back, how a replay leaves it, and that neither follows a link planted in the data
// folder nor breaks a record over several lines.

#include "support/temp_db.h"

#include "store/archive_spool.h"
#include "store/database.h"
#include "store/fault_injection.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <functional>

namespace
{

const QDateTime kT0(QDate(2026, 12, 4), QTime(10, 0, 0));

std::vector<ArchiveRecord> records(int first, int count)
{
    std::vector<ArchiveRecord> list;
    for (int i = first; i < first + count; ++i)
        list.push_back({Database::datumText(kT0.addSecs(10 * i)), 20.0 + i * 0.5, 1234, 1});
    return list;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// While it lives, every write to a database fails as a refused one does.
struct Refusing {
    Refusing() { store_faults::arm({store_faults::Point::Write, 1, store_faults::Repeat::FromOn}); }
    ~Refusing() { store_faults::disarm(); }
};

struct Site {
    TempDb tmp{TempDb::Start::Prepared};
    Database db{tmp.path()};
    ArchiveSpool spool{db, tmp.dir()};

    // The archive as "DATUM WERT" rows, oldest first.
    QStringList archive()
    {
        QStringList rows;
        for (const auto &r : db.archiveRows(1234, std::nullopt, std::nullopt, std::nullopt))
            rows << r.datum + QLatin1Char(' ') + r.wert.toString();
        return rows;
    }
    static QStringList rowsOf(const std::vector<ArchiveRecord> &list)
    {
        QStringList rows;
        for (const ArchiveRecord &r : list)
            rows << r.datum + QLatin1Char(' ') + QString::number(r.wert);
        return rows;
    }
    QStringList damagedCopies() const
    {
        return QDir(tmp.dir()).entryList({QStringLiteral("archive.spool.damaged-*")});
    }
};

} // namespace

class SpoolFile : public ::testing::Test, public Site
{
};

// Two batches are spooled, the file is then spoiled, a third batch comes while the database
// still refuses, and then everything is replayed.
TEST_F(SpoolFile, onlyWholeSoundBatchesAreReplayedAndNothingIsMadeUp)
{
    const auto a = records(0, 2), b = records(2, 2), c = records(4, 1);
    const struct {
        const char *name;
        std::function<QByteArray(QByteArray)> spoil;
        std::vector<ArchiveRecord> replayed;
        bool setAside;
    } cases[] = {
        {"last batch torn within a record", [](QByteArray d) { return d.chopped(5); }, a, false},
        {"a batch mark torn after the last batch",
         [](QByteArray d) { return d + "#\t3\t0123456789abcdef\n2026-12-04 11:00:00\t1"; },
         records(0, 4), false},
        {"a value changed in the last batch",
         [](QByteArray d) { return d.replace("\t21.5\t", "\t29.5\t"); }, a, true},
        {"a stray line between the batches",
         [](QByteArray d) {
             const qsizetype second = d.indexOf("\n#\t", d.indexOf("\n#\t") + 1) + 1;
             return d.insert(second, "2026-12-04 10:00:00\t99\t1234\t1\n");
         },
         records(0, 4), true},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.name);
        Site site;
        std::vector<ArchiveRecord> expected = k.replayed;
        expected.insert(expected.end(), c.begin(), c.end());
        {
            Refusing refusing;
            ASSERT_EQ(site.spool.store(a).spooled, 2);
            ASSERT_EQ(site.spool.store(b).spooled, 4);
            writeAll(site.spool.path(), k.spoil(readAll(site.spool.path())));
            const ArchiveSpool::Result r = site.spool.store(c);
            EXPECT_TRUE(r.safe);
            EXPECT_EQ(r.problem,
                      k.setAside ? ArchiveSpool::Problem::Damaged : ArchiveSpool::Problem::None)
                << r.spoolProblem.toStdString();
            EXPECT_EQ(site.spool.pending(), static_cast<int>(expected.size()));
            EXPECT_FALSE(readAll(site.spool.path()).contains("\t29.5\t"));
        }
        EXPECT_EQ(site.damagedCopies().size(), k.setAside ? 1 : 0);
        site.spool.flush();
        EXPECT_EQ(site.archive(), Site::rowsOf(expected));
        EXPECT_EQ(site.spool.pending(), 0);
        EXPECT_FALSE(QFile::exists(site.spool.path())) << "a replayed spool is removed";
    }
}

// A site upgrading with records waiting in a spool of the older form (record lines alone).
TEST_F(SpoolFile, aSpoolOfTheOlderFormIsReplayed)
{
    for (const bool refusedFirst : {false, true}) {
        SCOPED_TRACE(refusedFirst ? "taken over while the database refuses" : "replayed at once");
        Site site;
        writeAll(site.spool.path(), "2026-12-04 10:00:00\t20\t1234\t1\n"
                                    "2026-12-04 10:00:10\t20.5\t1234\t1\n");
        ASSERT_EQ(site.spool.pending(), 2);
        if (refusedFirst) {
            Refusing refusing;
            EXPECT_EQ(site.spool.store(records(2, 1)).spooled, 3);
            EXPECT_TRUE(readAll(site.spool.path()).startsWith("ostracom archive spool"));
        }
        site.spool.store(records(3, 1));
        std::vector<ArchiveRecord> expected = records(0, refusedFirst ? 4 : 2);
        if (!refusedFirst)
            expected.push_back(records(3, 1)[0]);
        EXPECT_EQ(site.archive(), Site::rowsOf(expected));
        EXPECT_EQ(site.spool.pending(), 0);
        EXPECT_TRUE(site.damagedCopies().isEmpty());
    }
}

// Such a file was replaced whole at every write: a last line without its line end was cut,
// and "...\t1234\t1" may be the start of sensor 12's record.
TEST_F(SpoolFile, aCutLastLineOfTheOlderFormIsNeverReplayed)
{
    writeAll(spool.path(), "2026-12-04 10:00:00\t20\t1234\t1\n"
                           "2026-12-04 10:00:10\t20.5\t1234\t1");
    EXPECT_EQ(spool.pending(), 1);
    spool.flush();
    EXPECT_EQ(archive(), QStringList{QStringLiteral("2026-12-04 10:00:00 20")});
    EXPECT_EQ(damagedCopies().size(), 1);
}

// The spool of another database (the program started with another --db) stays as it is and
// is reported; new records go to this database, or stay with the controller.
TEST_F(SpoolFile, aSpoolOfAnotherDatabaseIsNeverReplayedIntoThisOne)
{
    const QString otherPath = tmp.filePath(QStringLiteral("other.db"));
    {
        Database other(otherPath);
        Refusing refusing;
        ASSERT_EQ(ArchiveSpool(other, tmp.dir()).store(records(0, 2)).spooled, 2);
    }
    const QByteArray before = readAll(spool.path());
    const QStringList details{spool.path(), QFileInfo(otherPath).absoluteFilePath(),
                              QFileInfo(tmp.path()).absoluteFilePath()};

    const ArchiveSpool::Result taken = spool.store(records(2, 1));
    EXPECT_EQ(taken.written, 1);
    EXPECT_TRUE(taken.safe);
    EXPECT_EQ(taken.problem, ArchiveSpool::Problem::ForeignDatabase);
    EXPECT_EQ(taken.problemDetails, details);
    EXPECT_TRUE(taken.spoolProblem.contains(details[1]) && taken.spoolProblem.contains(details[2]))
        << taken.spoolProblem.toStdString();
    {
        Refusing refusing;
        const ArchiveSpool::Result kept = spool.store(records(3, 1));
        EXPECT_FALSE(kept.safe) << "not spooled into another database's spool";
        EXPECT_EQ(kept.problem, ArchiveSpool::Problem::ForeignDatabase);
    }
    EXPECT_EQ(archive(), rowsOf(records(2, 1)));
    EXPECT_EQ(readAll(spool.path()), before);

    Database other(otherPath);
    EXPECT_EQ(ArchiveSpool(other, tmp.dir()).flush().written, 2) << "its own database takes it";
    EXPECT_FALSE(QFile::exists(spool.path()));
}

// A replay that the database stops halfway keeps what it did not write and writes nothing
// twice when it goes on.
TEST_F(SpoolFile, aReplayStoppedHalfwayGoesOnWithoutDoubling)
{
    const auto backlog = records(0, 300);
    {
        Refusing refusing;
        ASSERT_EQ(spool.store(backlog).spooled, 300);
    }
    store_faults::arm({store_faults::Point::Commit, 2, store_faults::Repeat::Once});
    const ArchiveSpool::Result first = spool.flush();
    store_faults::disarm();
    EXPECT_FALSE(first.error.ok());
    EXPECT_GT(first.written, 0);
    EXPECT_EQ(first.written + spool.pending(), 300);
    EXPECT_TRUE(QFile::exists(spool.path()));

    EXPECT_EQ(spool.flush().written, 300 - first.written);
    EXPECT_EQ(archive(), rowsOf(backlog));
    EXPECT_FALSE(QFile::exists(spool.path()));
}

// Links planted in a shared data folder, where this program writes its files or the
// temporary files it replaces them with: the file they point to stays untouched.
TEST_F(SpoolFile, noFileIsWrittenThroughALinkPlantedInTheDataFolder)
{
    const std::vector<ArchiveSpool::Reject> reject{{1234, "00FF", "unreadable"}};
    const struct {
        const char *link;
        bool rejects; // what is kept: a reject, or records the database refuses
        bool kept;
    } cases[] = {
        {"archive.spool.new", false, true},
        {"rejects.txt.new", true, true},
        {"archive.spool", false, false},
        {"rejects.txt", true, false},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.link);
        Site site;
        QTemporaryDir elsewhere;
        const QString victim = elsewhere.filePath(QStringLiteral("victim"));
        writeAll(victim, "precious\n");
        ASSERT_TRUE(
            QFile::link(victim, QDir(site.tmp.dir()).filePath(QString::fromLatin1(k.link))));
        bool kept = false;
        if (k.rejects) {
            kept = site.spool.keepRejects(reject).ok();
        } else {
            Refusing refusing;
            kept = site.spool.store(records(0, 1)).safe;
        }
        EXPECT_EQ(kept, k.kept);
        EXPECT_EQ(readAll(victim), "precious\n");
    }
}

TEST_F(SpoolFile, aRejectStaysOneLineWhateverItHolds)
{
    const std::vector<ArchiveSpool::Reject> rejects{
        {1234, "01\t02\n03\\n", "tab\tand\r\nbreak"},
        {1234, "0102", "plain"},
    };
    ASSERT_EQ(spool.keepRejects(rejects), Error());
    ASSERT_EQ(spool.keepRejects({rejects[0]}), Error());
    const QStringList lines = QString::fromUtf8(readAll(spool.rejectsPath()))
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QStringList f = ArchiveSpool::rejectFields(lines[i]);
        ASSERT_EQ(f.size(), 4) << lines[i].toStdString();
        EXPECT_TRUE(Database::isDatumText(f[0]));
        EXPECT_EQ(f.mid(1), (QStringList{"1234", rejects[i % 2].record, rejects[i % 2].reason}));
    }
}
