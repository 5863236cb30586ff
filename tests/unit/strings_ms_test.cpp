// The language table cStrings and the program-wide ms().

#include "model/error_text.h"
#include "store/database.h"
#include "store/strings.h"
#include "support/temp_db.h"

#include <gtest/gtest.h>

#include <thread>

class Strings : public ::testing::Test
{
protected:
    void SetUp() override
    {
        db = std::make_unique<Database>(tmp.path());
        ASSERT_EQ(strings.init(*db, "ENGLISH"), Error());
    }

    qint64 rowsFor(const QString &german) { return tmp.count("HYDOLANG", "Deutsch = ?", {german}); }

    TempDb tmp{TempDb::Start::Prepared};
    std::unique_ptr<Database> db;
    cStrings strings{20};
};

TEST_F(Strings, emptyTextsAndTextsBeforeInitComeBackUnchanged)
{
    cStrings fresh;
    EXPECT_EQ(fresh.ms("Warnung"), "Warnung");
    EXPECT_EQ(fresh.language(), QString());

    const qint64 rows = tmp.count("HYDOLANG");
    EXPECT_EQ(strings.ms(""), "");
    EXPECT_EQ(strings.ms(QString()), "");
    EXPECT_EQ(tmp.count("HYDOLANG"), rows);
}

TEST_F(Strings, translationIsFoundWhateverTheCaseAndAnEditShowsAfterTheNextInit)
{
    for (const char *text : {"Warnung", "warnung", "WARNUNG"})
        EXPECT_EQ(strings.ms(text), "Warning") << text;
    EXPECT_EQ(strings.ms("kühlen"), "Cool") << "folding covers umlauts";

    EXPECT_EQ(strings.ms("Heizen"), "Heat");
    tmp.exec("UPDATE HYDOLANG SET ENGLISH = 'Heating' WHERE Deutsch = 'Heizen'");
    EXPECT_EQ(strings.ms("Heizen"), "Heat");
    ASSERT_EQ(strings.init(*db, "ENGLISH"), Error());
    EXPECT_EQ(strings.ms("Heizen"), "Heating");
}

TEST_F(Strings, unknownTextIsMarkedAndAddedOnceOrOnlyMarkedWhenTheTableIsGone)
{
    EXPECT_EQ(strings.ms("Pumpe defekt"), "Pumpe defekt???");
    EXPECT_EQ(
        tmp.exec("SELECT ENGLISH FROM HYDOLANG WHERE Deutsch = ?", {"Pumpe defekt"}).toString(),
        "Pumpe defekt???");

    // Had the second call gone to the database, the row would be back.
    tmp.exec("DELETE FROM HYDOLANG WHERE Deutsch = ?", {"Pumpe defekt"});
    EXPECT_EQ(strings.ms("Pumpe defekt"), "Pumpe defekt???");
    EXPECT_EQ(strings.ms("PUMPE DEFEKT"), "Pumpe defekt???");
    EXPECT_EQ(rowsFor("Pumpe defekt"), 0);

    tmp.exec("DROP TABLE HYDOLANG");
    for (int call = 0; call < 2; ++call)
        EXPECT_EQ(strings.ms("Filter leer"), "Filter leer???") << call;
    EXPECT_EQ(strings.ms("Warnung"), "Warning") << "the loaded table stays usable";
}

TEST_F(Strings, germanInAnyCaseIsNeverExtended)
{
    ASSERT_EQ(strings.init(*db, "deutsch"), Error());
    EXPECT_EQ(strings.ms("Pumpe defekt"), "Pumpe defekt");
    EXPECT_EQ(strings.ms("Warnung"), "Warnung");
    EXPECT_EQ(rowsFor("Pumpe defekt"), 0);
    EXPECT_EQ(strings.language(), "deutsch");
}

TEST_F(Strings, badLanguageNamesAreRefusedAndTheOldLanguageStays)
{
    for (const char *name :
         {"ENGLISH; DROP TABLE HYDOLANG", "ENGLISH FROM OSTRACOM --", "", "1X", "FRANCAIS"}) {
        const QString error = errorText(strings.init(*db, name));
        EXPECT_FALSE(error.isEmpty()) << name;
        EXPECT_TRUE(error.contains(QString::fromUtf8(name))) << error.toStdString();
        EXPECT_EQ(strings.language(), "ENGLISH");
        EXPECT_EQ(strings.ms("Warnung"), "Warning");
    }
    EXPECT_EQ(tmp.count("sqlite_master", "name = 'HYDOLANG'"), 1);
}

TEST_F(Strings, caseTwinsAndMissingTranslationsDoNotBreakInit)
{
    tmp.exec("DELETE FROM HYDOLANG WHERE Deutsch IN ('Heizen', 'Kühlen', 'Dose')");
    tmp.exec("INSERT INTO HYDOLANG VALUES ('Heizen', 'Heat')");
    tmp.exec("INSERT INTO HYDOLANG VALUES ('HEIZEN', 'HEAT')");
    tmp.exec("INSERT INTO HYDOLANG VALUES ('Kühlen', NULL)");
    tmp.exec("INSERT INTO HYDOLANG VALUES ('kühlen', 'Cool')");
    tmp.exec("INSERT INTO HYDOLANG VALUES ('Dose', NULL)");
    const qint64 rows = tmp.count("HYDOLANG");

    ASSERT_EQ(strings.init(*db, "ENGLISH"), Error());
    EXPECT_EQ(strings.ms("heizen"), "Heat") << "the first of two twins wins";
    EXPECT_EQ(strings.ms("Kühlen"), "Cool") << "a translation beats a missing one";
    EXPECT_EQ(strings.ms("Dose"), "Dose???") << "a missing translation reads as untranslated";
    EXPECT_EQ(tmp.count("HYDOLANG"), rows) << "rows that exist are not added again";
}

TEST_F(Strings, lookupsFromTwoThreadsAgreeAndAddEachTextOnce)
{
    constexpr int kTexts = 25;
    // A long wait for the database here: this test is about the table, not about timeouts.
    cStrings shared(5000);
    ASSERT_EQ(shared.init(*db, "ENGLISH"), Error());
    auto work = [&](QStringList &results) {
        for (int i = 0; i < kTexts; ++i) {
            results << shared.ms(QStringLiteral("Neu %1").arg(i));
            results << shared.ms("Warnung");
        }
    };
    QStringList ui, worker;
    std::thread other([&] { work(worker); });
    work(ui);
    other.join();

    EXPECT_EQ(ui, worker);
    for (int i = 0; i < kTexts; ++i) {
        EXPECT_EQ(ui.at(2 * i), QStringLiteral("Neu %1???").arg(i));
        EXPECT_EQ(ui.at(2 * i + 1), "Warning");
    }
    EXPECT_EQ(tmp.count("HYDOLANG", "Deutsch LIKE 'Neu %'"), kTexts);
}

class ProgramStrings : public ::testing::Test
{
protected:
    void TearDown() override { programStrings().clear(); }
    TempDb tmp{TempDb::Start::Prepared};
    Database db{tmp.path()};
};

TEST_F(ProgramStrings, startUsesTheStoredLanguageAndFallsBackToEnglish)
{
    db.saveLanguageSetting("DEUTSCH");
    EXPECT_EQ(initProgramLanguage(db), Error());
    EXPECT_EQ(currentLanguage(), "DEUTSCH");
    EXPECT_EQ(ms("Warnung"), "Warnung");

    programStrings().clear();
    db.saveLanguageSetting("KLINGONISCH");
    const QString error = errorText(initProgramLanguage(db));
    EXPECT_TRUE(error.contains("KLINGONISCH")) << error.toStdString();
    EXPECT_EQ(currentLanguage(), "ENGLISH");
    EXPECT_EQ(ms("Warnung"), "Warning");
}

// The code is kept, not the text: the same error reads in whatever language is selected
// when it is shown.
TEST_F(ProgramStrings, anErrorReadsInTheLanguageSelectedWhenItIsShown)
{
    const Error error(ErrorCode::ConnectFailed, "connection refused");
    EXPECT_EQ(errorText(error), "Verbindungsfehler !\rconnection refused");
    ASSERT_EQ(initProgram(db, "ENGLISH"), Error());
    EXPECT_EQ(errorText(error), "Connection error !\rconnection refused");
}
