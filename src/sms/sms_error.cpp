#include "sms/sms_error.h"

#include "store/strings.h"

namespace
{

const QString kCr = QStringLiteral("\r");

void linkMessages(SmsErrorCode code, const QString &detail, QList<SmsMessage> *boxes)
{
    const QString title = ms("Fehler bei Verbindungsaufnahme");
    const SmsMessage timeLimit{
        title, ms("Zeitlimit für Verbindungsaufnahme überschritten ! ") + kCr + kCr +
                   ms("Haben Sie die richtige PC Com Schnittstelle in diesem Programm gewählt ? ")};
    switch (code) {
    case SmsErrorCode::PortFailed:
    case SmsErrorCode::Runtime:
        // Not translated: it stands for the failure of the port itself.
        boxes->append({title, QStringLiteral("Runtime Error: ") + detail});
        break;
    case SmsErrorCode::NoAnswer:
        boxes->append(
            {title,
             ms("Keine Verbindung zum SMS Controller, prüfen Sie die serielle Verbindung !") + kCr +
                 kCr + ms("Haben Sie Ihren PC mit der Com 1 des SMS Controllers verbunden ? ") +
                 kCr + kCr +
                 ms("Haben Sie den Kurzschlußstecker auf Com 2 des SMS Controllers "
                    "gesteckt ?")});
        boxes->append(timeLimit);
        break;
    case SmsErrorCode::Timeout:
        boxes->append(timeLimit);
        break;
    case SmsErrorCode::BadChecksum:
        boxes->append({QString(), ms("Checksumme falsch "), Interaction::Icon::None});
        break;
    case SmsErrorCode::NoEndMarker:
        boxes->append(
            {QString(),
             ms("Fehler bei der Kommunikation mit dem Tarvelon: Endekennung nicht gefunden"),
             Interaction::Icon::None});
        break;
    case SmsErrorCode::ReceiveOverflow:
        boxes->append(
            {QString(), ms("Fehler bei der Kommunikation mit dem Tarvelon") + kCr +
                            ms("Zu viele Daten empfangen, Verbindung getrennt. Empfangene "
                               "Bytes: ") +
                            detail});
        break;
    default:
        break;
    }
}

QString notConfigFile(const SmsError &error)
{
    return ms("Die Datei ") + error.detail +
           ms(" ist keine gültige SMS-Modul Konfigurationsdatei! ") + kCr + ms("Zeile ") +
           QString::number(error.line);
}

} // namespace

QString SmsError::resultCode() const
{
    if (ok())
        return {};
    return code == SmsErrorCode::BadChecksum ? QStringLiteral("-2") : QStringLiteral("-1");
}

QList<SmsMessage> smsMessages(const SmsError &error)
{
    QList<SmsMessage> boxes;
    switch (error.code) {
    case SmsErrorCode::None:
        break;
    case SmsErrorCode::WriteIncomplete:
        linkMessages(error.cause, error.detail, &boxes);
        boxes.append(
            {QString(), ms("Konfiguration nicht komplett übertragen !"), Interaction::Icon::None});
        [[fallthrough]];
    case SmsErrorCode::ReadBackDiffers:
    case SmsErrorCode::ConfigInvalid:
        if (error.code == SmsErrorCode::ConfigInvalid)
            linkMessages(error.cause, error.detail, &boxes);
        if (error.code == SmsErrorCode::ReadBackDiffers)
            boxes.append(
                {QString(), ms("Die Konfiguration im SMS Controller weicht von der gesendeten ab ! "
                               "Abweichende Konfigurationen: ") +
                                error.detail + kCr + ms("Erste Abweichung an Adresse ") +
                                error.extra});
        boxes.append({ms("Übertragung wiederholen "),
                      ms("Konfiguration im SMS Controller nicht gültig ! Übertragung an SMS "
                         "Controller wiederholen ! ")});
        break;
    case SmsErrorCode::FileInvalid:
        boxes.append({QString(), notConfigFile(error), Interaction::Icon::Warning});
        break;
    case SmsErrorCode::RecordIncomplete:
        boxes.append({QString(),
                      ms("Datensatz ") + QString::number(error.line) + ms(" nicht komplett !") +
                          kCr + notConfigFile(error),
                      Interaction::Icon::Warning});
        break;
    case SmsErrorCode::RecordUnwritable:
        boxes.append({ms("Fehler beim Speichern einer Datei !"),
                      ms("Datensatz ") + QString::number(error.line) +
                          ms(" enthält Anführungszeichen oder Steuerzeichen, die eine "
                             "Konfigurationsdatei nicht aufnehmen kann.") +
                          kCr + ms("Die Datei ") + error.detail + ms(" wurde nicht gespeichert !"),
                      Interaction::Icon::Warning});
        break;
    case SmsErrorCode::FileError:
        boxes.append({error.saving ? ms("Fehler beim Speichern einer Datei !")
                                   : ms("Fehler beim Öffnen einer Datei !"),
                      error.detail + QStringLiteral(": ") + error.extra,
                      Interaction::Icon::Warning});
        break;
    default:
        linkMessages(error.code, error.detail, &boxes);
        break;
    }
    return boxes;
}

SmsMessage smsUnmarkedReadWarning()
{
    return {ms("Warnung"),
            ms("Die Konfiguration im SMS Controller ist nicht als gültig gekennzeichnet und kann "
               "unvollständig sein ! Prüfen Sie die Einträge, bevor Sie sie an den SMS Controller "
               "übertragen !"),
            Interaction::Icon::Warning};
}
