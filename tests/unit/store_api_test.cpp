// The typed statements of the store against a real database of each backend.

#include "model/error_text.h"
#include "store/database.h"
#include "support/files.h"
#include "support/temp_db.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <thread>

namespace
{

QDateTime at(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

class StoreApi : public ::testing::TestWithParam<Backend>
{
protected:
    TempDb tmp{TempDb::Start::Prepared, GetParam()};
    Database db{tmp.path(), tmp.dir()};
};

OSTRACOM_ON_EVERY_BACKEND(StoreApi);

TEST_P(StoreApi, datumIsLocalTimeToTheSecondAsSortableText)
{
    const QDateTime t(QDate(2026, 12, 4), QTime(23, 10, 5, 678));
    EXPECT_EQ(Database::datumText(t), "2026-12-04 23:10:05");
    EXPECT_EQ(Database::datumText(t.toUTC()), "2026-12-04 23:10:05") << "stored as local time";
    EXPECT_EQ(Database::datumText(QDateTime()), QString());
}

// Rows added once per regulation and read back are proved by the controller transfers.
TEST_P(StoreApi, saveChangesTheFirstMatchingRow)
{
    for (const char *text : {"first", "second"})
        tmp.exec("INSERT INTO HYDOREGELUNG VALUES (5, 2, 3, 1.0, 9.0, ?)", {text});
    db.saveRegulationLowerWarning(5, 2, 3, 4.5);
    db.saveRegulationBeschreibung(5, 2, 3, "changed");
    EXPECT_EQ(tmp.count("HYDOREGELUNG"), 2);
    EXPECT_EQ(tmp.count("HYDOREGELUNG", "beschreibung = 'changed' AND sw_UntereWarnung = 4.5"), 1);
    EXPECT_EQ(tmp.count("HYDOREGELUNG", "beschreibung = 'second' AND sw_UntereWarnung = 1.0"), 1);
    EXPECT_EQ(db.regulationRow(5, 2, 3)->beschreibung, "changed")
        << "reading takes the same first row";
    EXPECT_FALSE(db.regulationRow(5, 2, 4).has_value()) << "keys are matched in full";
}

TEST_P(StoreApi, settingsRowIsWrittenWithItsKeyEvenWhenItWasMissing)
{
    tmp.exec("DELETE FROM OSTRACOM");
    EXPECT_FALSE(db.mailSettings().has_value());
    EXPECT_FALSE(db.languageSetting().has_value());

    const MailSettings mail{"smtp.example", "to@example", "from@example", "user", "", 1};
    db.saveMailSettings(mail);
    db.saveLanguageSetting("DEUTSCH");

    EXPECT_EQ(tmp.count("OSTRACOM"), 1);
    EXPECT_EQ(tmp.count("OSTRACOM", "OSTRACOMID = -1"), 1);
    EXPECT_EQ(db.mailSettings(), mail);
    EXPECT_EQ(db.languageSetting(), QStringLiteral("DEUTSCH"));
    EXPECT_EQ(tmp.exec("SELECT email_passwort FROM OSTRACOM").toString(), "");
    EXPECT_FALSE(tmp.exec("SELECT email_passwort FROM OSTRACOM").isNull())
        << "an empty text stays an empty text";
}

// Where the password goes on each backend, and another machine's own, are proved through
// `settings mail`; here: the file itself, an older row's password moved out, and failures.
TEST_P(StoreApi, aSharedDatabaseLeavesTheMailPasswordToAPrivateFileOfEachMachine)
{
    const bool shared = GetParam() == Backend::Postgres;
    const QString column = QStringLiteral("SELECT email_passwort FROM OSTRACOM WHERE "
                                          "OSTRACOMID = -1");
    const MailSettings mail{"smtp.example", "to@example", "from@example", "wart", "Geheim 17! ", 1};
    ASSERT_EQ(::chmod(QFile::encodeName(tmp.dir()).constData(), 0755), 0);
    db.saveMailSettings(mail);
    const QString file = db.mailPasswordFile();
    EXPECT_EQ(file.isEmpty(), !shared) << "a SQLite file is private already";
    if (shared) {
        EXPECT_EQ(QFileInfo(file).absolutePath(), QFileInfo(tmp.dir()).absoluteFilePath());
        EXPECT_EQ(modeOf(file), 0600);
        EXPECT_EQ(modeOf(tmp.dir()), 0700);
        EXPECT_EQ(
            QDir(tmp.dir()).entryList({"*mail-password-*"}, QDir::Files | QDir::Hidden).size(), 1)
            << "no temporary file is left behind";
    }

    // A row as an older version left it: the next start moves the password out.
    tmp.exec("UPDATE OSTRACOM SET email_passwort = 'Alt 1' WHERE OSTRACOMID = -1");
    EXPECT_EQ(db.mailSettings()->passwort, "Alt 1") << "usable before it is moved";
    EXPECT_EQ(Database(tmp.path(), tmp.dir()).mailSettings()->passwort, "Alt 1");
    EXPECT_EQ(tmp.exec(column).toString(), shared ? "" : "Alt 1");
    if (shared) {
        EXPECT_THROW(Database(tmp.path()).saveMailSettings(mail), StoreError)
            << "without a data folder the password has nowhere to go";
        EXPECT_EQ(tmp.exec(column).toString(), "");

        // The file is written before the column is emptied: when it cannot be, the start
        // fails and the password stays where it was.
        tmp.exec("UPDATE OSTRACOM SET email_passwort = 'Alt 2' WHERE OSTRACOMID = -1");
        ASSERT_TRUE(QFile::remove(file));
        ASSERT_TRUE(QDir().mkdir(file));
        EXPECT_THROW(Database(tmp.path(), tmp.dir()), StoreError);
        EXPECT_EQ(tmp.exec(column).toString(), "Alt 2");
    }
}

TEST_P(StoreApi, textsThatLookLikeSqlRoundTripUnchanged)
{
    const QString nasty = QStringLiteral("O'Brien \"quoted\"; DROP TABLE HYDOARCHIVE; -- ä ß");
    db.saveCalibration(1, nasty);
    db.saveMailSettings({nasty, nasty, nasty, nasty, nasty, 0});
    ASSERT_TRUE(db.createLogbookEntry(at("2026-01-02 03:04:05"), nasty));

    EXPECT_EQ(db.calibration(1), nasty);
    EXPECT_EQ(db.mailSettings()->passwort, nasty);
    EXPECT_EQ(db.logbookText(at("2026-01-02 03:04:05")), nasty);
    EXPECT_TRUE(tmp.hasTable("HYDOARCHIVE"));
}

TEST_P(StoreApi, controllerIdIsInUseWhenAnyTableHoldsIt)
{
    EXPECT_FALSE(db.controllerIdInUse(100));
    db.saveCalibration(100, "00");
    db.appendArchive({{"2026-01-01 00:00:00", 1.0, 101, 1}});
    db.saveRegulationBeschreibung(102, 1, 1, "x");
    EXPECT_TRUE(db.controllerIdInUse(100));
    EXPECT_TRUE(db.controllerIdInUse(101)) << "archive rows alone reserve the identifier";
    EXPECT_TRUE(db.controllerIdInUse(102));
    EXPECT_FALSE(db.controllerIdInUse(103));
}

TEST_P(StoreApi, appendArchiveWritesAllRecordsOrNone)
{
    ASSERT_TRUE(db.createLogbookEntry(at("2026-03-01 12:00:02"), "note"));
    std::vector<ArchiveRecord> batch{
        {"2026-03-01 12:00:00", 7.1, 9, 1},
        {"2026-03-01 12:00:01", 24.0, 9, 2},
        // Collides with the note above: the database refuses this one record.
        {"2026-03-01 12:00:02", 100, -1, 0},
        {"2026-03-01 12:00:03", 7.2, 9, 1},
    };
    try {
        db.appendArchive(batch);
        FAIL() << "the colliding record was written";
    } catch (const StoreError &e) {
        EXPECT_TRUE(errorText(e.error()).contains(tmp.path())) << e.what();
    }
    EXPECT_EQ(tmp.count("HYDOARCHIVE", "TARVELONID = 9"), 0);

    batch.erase(batch.begin() + 2);
    db.appendArchive(batch);
    EXPECT_EQ(tmp.count("HYDOARCHIVE", "TARVELONID = 9"), 3);
    EXPECT_EQ(tmp.count("HYDOARCHIVE", "TARVELONID = 9 AND BEMERKUNG IS NULL"), 3);

    for (const char *bad :
         {"", "2026-02-30 12:00:00", "2026-03-01 24:00:00", "2026-03-01T12:00:00"})
        EXPECT_THROW(db.appendArchive({{bad, 1.0, 9, 1}}), StoreError) << bad;
    EXPECT_EQ(tmp.count("HYDOARCHIVE", "TARVELONID = 9"), 3);
}

TEST_P(StoreApi, archiveValuesHonourBoundsOrderAndLimit)
{
    std::vector<ArchiveRecord> records;
    for (int minute = 0; minute < 5; ++minute)
        records.push_back({Database::datumText(at("2026-05-01 10:00:00").addSecs(60 * minute)),
                           20.0 + minute, 3, 2});
    records.push_back({"2026-05-01 10:02:00", 99.0, 3, 1}); // another sensor
    records.push_back({"2026-05-01 10:02:00", 98.0, 4, 2}); // another controller
    db.appendArchive(records);

    auto values = [&](const ArchiveQuery &q) {
        QList<double> out;
        for (const ArchiveValue &v : db.archiveValues(q))
            out << v.wert;
        return out;
    };
    ArchiveQuery q;
    q.tarvelonId = 3;
    q.asid = 2;
    q.from = at("2026-05-01 10:01:00");
    q.to = at("2026-05-01 10:03:00");
    EXPECT_EQ(values(q), (QList<double>{21, 22, 23}));
    q.fromBound = ArchiveQuery::Bound::Exclusive;
    q.toBound = ArchiveQuery::Bound::Exclusive;
    EXPECT_EQ(values(q), (QList<double>{22}));
    q.from.reset();
    q.order = ArchiveQuery::Order::Descending;
    q.limit = 2;
    EXPECT_EQ(values(q), (QList<double>{22, 21}));

    const auto newest = db.newestArchived(3, 2);
    ASSERT_TRUE(newest.has_value());
    EXPECT_DOUBLE_EQ(newest->wert, 24);
    EXPECT_EQ(newest->datum, at("2026-05-01 10:04:00"));
    EXPECT_FALSE(db.newestArchived(3, 5).has_value());
}

TEST_P(StoreApi, logbookKeepsOneEntryPerSecondAndItsChangesTouchNothingElse)
{
    const QDateTime t = at("2026-06-01 08:00:00");
    EXPECT_TRUE(db.createLogbookEntry(t, "Wasserwechsel"));
    EXPECT_FALSE(db.createLogbookEntry(t, "zweiter Eintrag"));
    EXPECT_FALSE(db.createLogbookEntry(t.addMSecs(500), "same second"));
    EXPECT_EQ(db.logbookText(t), QStringLiteral("Wasserwechsel"));

    EXPECT_TRUE(db.createLogbookEntry(t.addSecs(1), "Futter"));
    EXPECT_FALSE(db.moveLogbookEntry(t, t.addSecs(1), "moved")) << "the target second is taken";
    EXPECT_EQ(db.logbookText(t), QStringLiteral("Wasserwechsel"));
    EXPECT_EQ(db.logbookText(t.addSecs(1)), QStringLiteral("Futter"));
    EXPECT_TRUE(db.moveLogbookEntry(t, t, "same time, new text"));
    EXPECT_EQ(db.logbookText(t), QStringLiteral("same time, new text"));

    const auto entries = db.logbookEntries(t, t.addSecs(3600));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].datum, t);
    EXPECT_EQ(entries[1].bemerkung, "Futter");
    EXPECT_EQ(tmp.count("HYDOARCHIVE", "TARVELONID = -1 AND ASID = 0 AND WERT = 100"), 2);

    // Saving an entry that vanished meanwhile stores a complete one; deleting touches only
    // logbook entries.
    const QDateTime u = at("2026-06-02 09:00:00");
    EXPECT_TRUE(db.moveLogbookEntry(u, u.addSecs(5), "Text"));
    EXPECT_EQ(tmp.count("HYDOARCHIVE", "TARVELONID = -1 AND ASID = 0 AND WERT = 100 AND "
                                       "DATUM = '2026-06-02 09:00:05' AND BEMERKUNG = 'Text'"),
              1);
    db.appendArchive({{Database::datumText(u.addSecs(6)), 5.0, 1, 1}});
    db.deleteLogbookEntry(u.addSecs(6));
    EXPECT_EQ(tmp.count("HYDOARCHIVE"), 4) << "a measurement is not a logbook entry";
    db.deleteLogbookEntry(u.addSecs(5));
    EXPECT_EQ(tmp.count("HYDOARCHIVE"), 3);
    EXPECT_FALSE(db.logbookText(u.addSecs(5)).has_value());
}

TEST_P(StoreApi, languageColumnMustBeAPlainNameOfAnExistingColumn)
{
    // PostgreSQL folds unquoted names to lower case, so its tables spell them so.
    const bool folded = GetParam() == Backend::Postgres;
    EXPECT_EQ(db.languageColumn("english"), folded ? "english" : "ENGLISH");
    EXPECT_EQ(db.languageColumn("Deutsch"), folded ? "deutsch" : "Deutsch");
    for (const char *bad : {"FRENCH", "ENGLISH FROM HYDOLANG; --", "1ENGLISH", "", "ENGLISH\n"})
        EXPECT_FALSE(db.languageColumn(bad).has_value()) << bad;
    // "$" also matches before a last line break, which would reach the SQL text.
    for (const char *bad : {"ENGLISH, Deutsch", "ENGLISH\n"})
        EXPECT_THROW(db.translations(bad), StoreError) << bad;
    EXPECT_THROW(db.addTranslation("FRENCH", "Warnung", "Attention"), StoreError);
}

// Two programs archiving the same download at once (two PCs polling one controller): the
// one that comes second finds the rows of the first, whichever order their reads and writes
// take. A busy database is tried again, as the spool does at the next cycle.
TEST_P(StoreApi, twoWritersOfTheSameRecordsAtOnceArchiveEachRecordOnce)
{
    std::vector<ArchiveRecord> records;
    for (int i = 0; i < 300; ++i)
        records.push_back({Database::datumText(at("2026-07-01 00:00:00").addSecs(i * 10)), 0.5 * i,
                           21, 1 + i % 3});
    std::atomic<int> ready{0};
    std::atomic<int> added{0};
    QString errors[2];
    auto writer = [&](QString *error) {
        ++ready;
        while (ready.load() < 2) {
        }
        for (int attempt = 0; attempt < 20; ++attempt) {
            try {
                added += db.appendArchive(records, Database::SkipExisting::Yes);
                return;
            } catch (const StoreError &e) {
                *error = errorText(e.error());
                if (e.kind() != StoreError::Kind::Busy)
                    return;
            }
        }
    };
    std::thread first(writer, &errors[0]), second(writer, &errors[1]);
    first.join();
    second.join();
    EXPECT_EQ(added.load(), 300) << errors[0].toStdString() << "\n" << errors[1].toStdString();
    EXPECT_EQ(tmp.count("HYDOARCHIVE", "TARVELONID = 21"), 300);
    EXPECT_EQ(tmp.exec("SELECT sum(N) FROM HYDOARCHIVE_SUMMARY_600 WHERE TARVELONID = 21").toInt(),
              300);
}
