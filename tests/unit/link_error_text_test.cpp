// The one place where an error's code and details become the text the user reads.

#include "model/error_text.h"
#include "store/database.h"
#include "store/strings.h"
#include "support/temp_db.h"

#include <gtest/gtest.h>

TEST(ErrorText, eachCodeReadsExactlyAsShownToTheUser)
{
    const struct {
        Outcome error;
        const char *text;
    } cases[] = {
        {Error(), ""},
        {Error(ErrorCode::NoLinkSend), "Keine Verbindung zum Tarvelon !"},
        {Error(ErrorCode::NoLinkReceive), "Keine Verbindung zum Tarvelon"},
        {Error(ErrorCode::ConnectFailed, "connection refused"),
         "Verbindungsfehler !\rconnection refused"},
        {Error(ErrorCode::Runtime, "broken pipe"), "Runtime Error: broken pipe"},
        {Error(ErrorCode::Timeout), "Verbindungszeitlimit überschritten !"},
        {Error(ErrorCode::Communication), "Fehler bei der Kommunikation mit dem Tarvelon"},
        {Error(ErrorCode::TransferFailed), "Fehler bei der Datenübertragung zum Tarvelon !"},
        {Error(ErrorCode::FirmwareTooOld, "2.19 R24", "2.19 R23"),
         "Firmware Update notwendig !\rTarvelon kann nicht hinzugefügt werden.\r\r"
         "Benötigt wird Version 2.19 R24 oder höher.\r\rVorhanden: 2.19 R23"},
        {Declined::ClockTakeover, "Tarvelon und Ostracom Zeitsyncronisation wurde verweigert !"},
        {Declined::FirstProgramming, "Neuer Tarvelon: Inital Programmierung abgelehnt"},
        {Error(ErrorCode::IncompleteRecords, "3", "5"),
         "Unvollständige Messwerte vom Tarvelon: 3 / 5"},
        {Error(ErrorCode::RecordsRejected, "2", "/data/rejects.txt"),
         "2 unreadable record(s) kept in /data/rejects.txt"},
        {Error(ErrorCode::ReceiveOverflow, "65537"),
         "Fehler bei der Kommunikation mit dem Tarvelon\rZu viele Daten empfangen, Verbindung "
         "getrennt. Empfangene Bytes: 65537"},
        {Error::because(ErrorCode::NotAcknowledged, Error(ErrorCode::Runtime, "broken pipe")),
         "Messwerte archiviert, vom Tarvelon aber nicht quittiert: Runtime Error: broken pipe"},
        {Error::because(ErrorCode::NotAcknowledged, Error(ErrorCode::Timeout)),
         "Messwerte archiviert, vom Tarvelon aber nicht quittiert: "
         "Verbindungszeitlimit überschritten !"},
        {Error(ErrorCode::Other, "database is locked"), "database is locked"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.error.error.code));
        EXPECT_EQ(errorText(c.error), QString::fromUtf8(c.text));
    }
}

// The code is kept, not the text: the same error reads in whatever language is selected
// when it is shown.
TEST(ErrorText, textFollowsTheLanguageSelectedWhenShown)
{
    TempDb tmp{TempDb::Start::Prepared};
    Database db{tmp.path()};
    const Error error(ErrorCode::ConnectFailed, "connection refused");
    const QString before = errorText(error);
    ASSERT_EQ(initProgram(db, "ENGLISH"), QString());
    struct BackToNoLanguage {
        ~BackToNoLanguage() { programStrings().clear(); }
    } restore;
    EXPECT_EQ(before, "Verbindungsfehler !\rconnection refused");
    EXPECT_EQ(errorText(error), "Connection error !\rconnection refused");
}
