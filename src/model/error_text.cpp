#include "model/error_text.h"

#include "store/database.h"
#include "store/mail.h"
#include "store/strings.h"

#include <optional>

namespace
{
QString fullDiskNote(const Error &error);
QString innerText(const Error &error);
QString addressText(const Error &error);

// The exchange with a controller.
std::optional<QString> linkText(const Error &error)
{
    const QString cr = QStringLiteral("\r");
    switch (error.code) {
    case ErrorCode::NoLinkSend:
        return ms("Keine Verbindung zum Tarvelon !");
    case ErrorCode::NoLinkReceive:
        return ms("Keine Verbindung zum Tarvelon");
    case ErrorCode::ConnectFailed:
        return ms("Verbindungsfehler !") + cr + error.detail;
    case ErrorCode::Runtime:
        // Not translated: it stands for the failure of the port itself.
        return QStringLiteral("Runtime Error: ") + error.detail;
    case ErrorCode::Timeout:
        return ms("Verbindungszeitlimit überschritten !");
    case ErrorCode::Communication:
        return ms("Fehler bei der Kommunikation mit dem Tarvelon");
    case ErrorCode::ReceiveOverflow:
        return ms("Fehler bei der Kommunikation mit dem Tarvelon") + cr +
               ms("Zu viele Daten empfangen, Verbindung getrennt. Empfangene Bytes: ") +
               error.detail;
    case ErrorCode::TransferFailed:
        return ms("Fehler bei der Datenübertragung zum Tarvelon !");
    case ErrorCode::FirmwareTooOld:
        return ms("Firmware Update notwendig !") + cr +
               ms("Tarvelon kann nicht hinzugefügt werden.\r\rBenötigt wird Version ") +
               error.detail + ms(" oder höher.") + cr + cr + ms("Vorhanden: ") + error.extra;
    case ErrorCode::IncompleteRecords:
        return ms("Unvollständige Messwerte vom Tarvelon: ") + error.detail +
               QStringLiteral(" / ") + error.extra;
    case ErrorCode::RecordsRejected:
        return QStringLiteral("%1 unreadable record(s) kept in %2").arg(error.detail, error.extra);
    case ErrorCode::Abandoned:
        return ms("Verbindung abgebrochen, Ostracom wird beendet");
    case ErrorCode::NotAcknowledged:
        return ms("Messwerte archiviert, vom Tarvelon aber nicht quittiert: ") +
               errorText(Error(error.cause, error.detail, error.extra));
    case ErrorCode::Other:
        return error.detail;
    default:
        return std::nullopt;
    }
}

// The database and its contents.
std::optional<QString> databaseText(const Error &error)
{
    switch (error.code) {
    case ErrorCode::DatabaseOpen:
        // A server's refusal tells its own reason; only a file's disk is looked at here.
        return QStringLiteral("Cannot open database %1: %2").arg(error.detail, error.extra) +
               (error.detail.startsWith(QLatin1String("postgresql://")) ? QString()
                                                                        : fullDiskNote(error));
    case ErrorCode::LoginRefused:
        return ms("Der Datenbankserver hat die Anmeldung abgelehnt: ") + error.detail +
               QStringLiteral(" (SQLSTATE ") + error.extra + QLatin1Char(')');
    case ErrorCode::DatabaseUnknown:
        return ms("Diese Datenbank gibt es auf dem Server nicht: ") + error.detail;
    case ErrorCode::DriverMissing:
        return ms("Der PostgreSQL-Treiber QPSQL fehlt; installieren Sie das Paket "
                  "libqt6sql6-psql");
    case ErrorCode::DatabaseAddress:
        return addressText(error);
    case ErrorCode::NoDatabaseGiven:
        return QStringLiteral("No database file was given");
    case ErrorCode::DatabaseMissing:
        return QStringLiteral("Database %1 does not exist").arg(error.detail);
    case ErrorCode::NoArchive:
        return QStringLiteral("Database %1 holds no archive").arg(error.detail);
    case ErrorCode::DatabaseIsFolder:
        return QStringLiteral("Database %1 is a folder, not a file").arg(error.detail);
    case ErrorCode::DatabaseUnreadable:
        return QStringLiteral("Database %1 cannot be read: %2").arg(error.detail, error.extra);
    case ErrorCode::DatabaseReadOnly:
        return QStringLiteral("Database %1 cannot be written: %2").arg(error.detail, error.extra);
    case ErrorCode::NotSqlite:
        return QStringLiteral("%1 is not a SQLite database; the file was left unchanged")
            .arg(error.detail);
    case ErrorCode::DatabaseDamaged:
        return QStringLiteral("Database %1 is damaged and was left unchanged: %2")
            .arg(error.detail, error.extra);
    case ErrorCode::DiskFull:
        return QStringLiteral("Database %1 cannot be opened: the disk is full (%2)")
            .arg(error.detail, error.extra);
    case ErrorCode::DatabaseBusy:
        return QStringLiteral("Database %1 is locked by another program (%2)")
            .arg(error.detail, error.extra);
    case ErrorCode::CheckFailed:
        return QStringLiteral("Database %1 cannot be checked: %2").arg(error.detail, error.extra);
    case ErrorCode::MissingColumn:
        return QStringLiteral("Database %1 cannot be used: table %2 has no column %3")
            .arg(error.detail, error.extra, error.what);
    case ErrorCode::SchemaNewer:
        return QStringLiteral("Database %1 has schema version %2, newer than this program knows "
                              "(%3); it was left unchanged")
            .arg(error.detail, error.extra)
            .arg(Database::kSchemaVersion);
    case ErrorCode::SchemaUpgradedMeanwhile:
        return QStringLiteral("Database %1 was upgraded to schema version %2 by a newer program")
            .arg(error.detail, error.extra);
    case ErrorCode::NoWalJournal:
        return QStringLiteral("Database %1 cannot use a WAL journal").arg(error.detail);
    case ErrorCode::QueryFailed:
        return QStringLiteral("%1 failed on database %2: %3")
                   .arg(error.what, error.detail, error.extra) +
               fullDiskNote(error);
    case ErrorCode::ArchiveReadFailed:
        return QStringLiteral("Reading the archive of database %1 failed: %2")
            .arg(error.detail, error.extra);
    case ErrorCode::RecordWithoutTime:
        return QStringLiteral("Archive record %1 of %2 has no valid time; nothing was written to "
                              "database %3")
            .arg(error.extra, error.what, error.detail);
    case ErrorCode::LogbookWithoutTime:
        return QStringLiteral("A logbook entry needs a valid time (database %1)").arg(error.detail);
    default:
        return std::nullopt;
    }
}

// The language table and the archive's summaries.
std::optional<QString> languageText(const Error &error)
{
    switch (error.code) {
    case ErrorCode::UnknownLanguage:
        return QStringLiteral("Language \"%1\" is not a column of table HYDOLANG in database %2")
            .arg(error.what, error.detail);
    case ErrorCode::LanguageNotLoaded:
        return QStringLiteral("Language \"%1\" could not be loaded: %2")
            .arg(error.detail, innerText(error));
    case ErrorCode::LanguageNameInvalid:
        return QStringLiteral("Language \"%1\" refused: a language name consists of letters, "
                              "digits and _ only")
            .arg(error.what);
    case ErrorCode::LanguageNoColumn:
        return QStringLiteral("Language \"%1\" refused: table HYDOLANG of database %2 has no "
                              "column of that name")
            .arg(error.what, error.detail);
    case ErrorCode::NoSummaryLevel:
        return QStringLiteral("No archive summary has slots of %1 seconds (database %2)")
            .arg(error.extra, error.detail);
    default:
        return std::nullopt;
    }
}

// The data folder and the program's own files.
std::optional<QString> fileText(const Error &error)
{
    const QString cr = QStringLiteral("\r");
    switch (error.code) {
    case ErrorCode::MailPasswordNotGiven:
        return QStringLiteral("Saving the mail settings failed on database %1: its mail password "
                              "is kept in the data folder, and none was given")
            .arg(error.detail);
    case ErrorCode::DatabaseUnusable:
        return QStringLiteral("Database %1 cannot be used: %2").arg(error.detail, innerText(error));
    case ErrorCode::FolderMissing:
        return QStringLiteral("Folder %1 does not exist").arg(error.detail);
    case ErrorCode::NotAFolder:
        return QStringLiteral("%1 is not a folder").arg(error.detail);
    case ErrorCode::FolderNotWritable:
        return QStringLiteral("Folder %1 is not writable: %2").arg(error.detail, error.extra);
    case ErrorCode::NoDataFolder:
        return QStringLiteral("No application data folder is known for this user; give one with "
                              "--data-dir");
    case ErrorCode::DataFolderIsFile:
        return QStringLiteral("Data folder %1 is not a folder").arg(error.detail);
    case ErrorCode::DataFolderCreate:
        return QStringLiteral("Cannot create data folder %1: ").arg(error.detail) +
               (error.cause == ErrorCode::NotAFolder
                    ? QStringLiteral("%1 is a file, not a folder").arg(error.extra)
                    : QStringLiteral("%1 does not accept a new folder").arg(error.extra));
    case ErrorCode::DataFolderUnusable:
        return QStringLiteral("Data folder %1 cannot be used: %2")
            .arg(error.detail, innerText(error));
    case ErrorCode::DataFolderNotPrivate:
        return QStringLiteral("Cannot make data folder %1 private: %2")
            .arg(error.detail, error.extra);
    case ErrorCode::FileNotPrivate:
        return QStringLiteral("Cannot make %1 private: %2").arg(error.detail, error.extra);
    case ErrorCode::DataFolderLocked:
        return QStringLiteral("Another Ostracom program (process %1) is already polling with the "
                              "data folder %2; stop it first or use another --data-dir")
            .arg(error.detail.isEmpty() ? QStringLiteral("?") : error.detail, error.extra);
    case ErrorCode::MailSecretNotPlain:
        return QStringLiteral("The mail password file %1 is no small plain file").arg(error.detail);
    case ErrorCode::FileFailed:
        return QStringLiteral("%1 %2: %3").arg(error.what, error.detail, error.extra);
    default:
        return std::nullopt;
    }
}

// The SMS controller and its configuration files.
std::optional<QString> smsText(const Error &error)
{
    const QString cr = QStringLiteral("\r");
    switch (error.code) {
    case ErrorCode::SmsNoAnswer:
        return ms("Keine Verbindung zum SMS Controller, prüfen Sie die serielle Verbindung !") +
               cr + cr + ms("Haben Sie Ihren PC mit der Com 1 des SMS Controllers verbunden ? ") +
               cr + cr +
               ms("Haben Sie den Kurzschlußstecker auf Com 2 des SMS Controllers gesteckt ?");
    case ErrorCode::SmsTimeout:
        return ms("Zeitlimit für Verbindungsaufnahme überschritten ! ") + cr + cr +
               ms("Haben Sie die richtige PC Com Schnittstelle in diesem Programm gewählt ? ");
    case ErrorCode::SmsBadChecksum:
        return ms("Checksumme falsch ");
    case ErrorCode::SmsNoEndMarker:
        return ms("Fehler bei der Kommunikation mit dem Tarvelon: Endekennung nicht gefunden");
    case ErrorCode::SmsWriteIncomplete:
        return ms("Konfiguration nicht komplett übertragen !");
    case ErrorCode::SmsConfigInvalid:
        return ms("Konfiguration im SMS Controller nicht gültig ! Übertragung an SMS Controller "
                  "wiederholen ! ");
    case ErrorCode::SmsReadBackDiffers:
        return ms("Die Konfiguration im SMS Controller weicht von der gesendeten ab ! "
                  "Abweichende Konfigurationen: ") +
               error.detail + cr + ms("Erste Abweichung an Adresse ") + error.extra;
    case ErrorCode::SmsFileInvalid:
        return ms("Die Datei ") + error.detail +
               ms(" ist keine gültige SMS-Modul Konfigurationsdatei! ") + cr + ms("Zeile ") +
               error.extra;
    case ErrorCode::SmsRecordIncomplete:
        // The record's number, then the file's line, which is the same number.
        return ms("Datensatz ") + error.extra + ms(" nicht komplett !") + cr +
               errorText(Error(ErrorCode::SmsFileInvalid, error.detail, error.extra));
    case ErrorCode::SmsFileUnreadable:
    case ErrorCode::SmsFileUnwritable:
        return error.detail + QStringLiteral(": ") + error.extra;
    case ErrorCode::SmsRecordUnwritable:
        return ms("Datensatz ") + error.extra +
               ms(" enthält Anführungszeichen oder Steuerzeichen, die eine Konfigurationsdatei "
                  "nicht aufnehmen kann.") +
               cr + ms("Die Datei ") + error.detail + ms(" wurde nicht gespeichert !");
    default:
        return std::nullopt;
    }
}

// Sending mail.
std::optional<QString> mailText(const Error &error)
{
    switch (error.code) {
    case ErrorCode::MailTransferFailed:
    case ErrorCode::MailNoEncryption:
    case ErrorCode::MailRefused:
    case ErrorCode::MailFileOpenFailed:
    case ErrorCode::MailFileNotRegular:
    case ErrorCode::MailFileReadFailed:
    case ErrorCode::MailInternal:
        // The log writes the same text below the model, so it is made there.
        return mailStatusText(error);
    default:
        return std::nullopt;
    }
}

} // namespace

QString errorText(const Error &error)
{
    if (error.ok())
        return {};
    for (auto text : {linkText, databaseText, languageText, fileText, smsText, mailText})
        if (const std::optional<QString> t = text(error))
            return *t;
    return error.detail;
}

QString errorText(const Outcome &outcome)
{
    switch (outcome.declined) {
    case Declined::No:
        break;
    case Declined::ClockTakeover:
        return ms("Tarvelon und Ostracom Zeitsyncronisation wurde verweigert !");
    case Declined::FirstProgramming:
        return ms("Neuer Tarvelon: Inital Programmierung abgelehnt");
    }
    return errorText(outcome.error);
}

namespace
{

// A full disk is named after the driver's text, which seldom says so.
QString fullDiskNote(const Error &error)
{
    return error.cause == ErrorCode::DiskFull ? QStringLiteral(" (the disk is full)") : QString();
}

// The text of the error an error was wrapped around.
QString innerText(const Error &error)
{
    return error.inner ? errorText(*error.inner) : QString();
}

// Only the part of an address that is wrong is named: the address may hold a password.
QString addressText(const Error &error)
{
    using Part = Database::AddressPart;
    switch (static_cast<Part>(error.detail.toInt())) {
    case Part::Scheme:
        return ms("Die Datenbankadresse hat ein unbekanntes Schema; sie beginnt mit "
                  "postgresql://");
    case Part::Space:
        return ms("Die Datenbankadresse enthält Leerraum oder #");
    case Part::Password:
        return ms("Ein Passwort gehört nicht in die Datenbankadresse; es steht in ~/.pgpass (oder "
                  "der Datei, die PGPASSFILE nennt) oder in PGPASSWORD");
    case Part::User:
        return ms("Der Benutzername in der Datenbankadresse ist ungültig");
    case Part::Host:
        return ms("Der Rechnername in der Datenbankadresse ist ungültig");
    case Part::Port:
        return ms("Der Port in der Datenbankadresse ist ungültig (1 bis 65535)");
    case Part::Name:
        return ms("Der Datenbankname fehlt in der Datenbankadresse oder ist ungültig");
    case Part::Option:
        return ms("Unbekannte Option in der Datenbankadresse") +
               (error.extra.isEmpty() ? QString() : QStringLiteral(": ") + error.extra);
    case Part::OptionValue:
        return ms("Diese Option der Datenbankadresse hat einen Wert, den das Programm "
                  "nicht weitergeben kann: ") +
               error.extra;
    }
    return {};
}

} // namespace
