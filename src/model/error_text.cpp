#include "model/error_text.h"

#include "store/mail.h"
#include "store/strings.h"

QString errorText(const Error &error)
{
    const QString cr = QStringLiteral("\r");
    switch (error.code) {
    case ErrorCode::None:
        return {};
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
    case ErrorCode::MailTransferFailed:
    case ErrorCode::MailNoEncryption:
    case ErrorCode::MailRefused:
    case ErrorCode::MailFileOpenFailed:
    case ErrorCode::MailFileNotRegular:
    case ErrorCode::MailFileReadFailed:
    case ErrorCode::MailInternal:
        // The log writes the same text below the model, so it is made there.
        return mailStatusText(error);
    }
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
