#include "sms/sms_messages.h"

#include "model/error_text.h"
#include "store/strings.h"

namespace
{

// The boxes for a failed exchange on the port; the texts are errorText's, the titles and
// icons this window's.
void linkMessages(const Error &error, QList<SmsMessage> *boxes)
{
    const QString title = ms("Fehler bei Verbindungsaufnahme");
    switch (error.code) {
    case ErrorCode::Runtime:
        boxes->append({title, errorText(error)});
        break;
    case ErrorCode::SmsNoAnswer:
        boxes->append({title, errorText(error)});
        boxes->append({title, errorText(Error(ErrorCode::SmsTimeout))});
        break;
    case ErrorCode::SmsTimeout:
        boxes->append({title, errorText(error)});
        break;
    case ErrorCode::SmsBadChecksum:
    case ErrorCode::SmsNoEndMarker:
        boxes->append({QString(), errorText(error), Interaction::Icon::None});
        break;
    case ErrorCode::ReceiveOverflow:
        boxes->append({QString(), errorText(error)});
        break;
    default:
        break;
    }
}

} // namespace

QString resultCode(const Error &error)
{
    if (error.ok())
        return {};
    return error.code == ErrorCode::SmsBadChecksum ? QStringLiteral("-2") : QStringLiteral("-1");
}

QList<SmsMessage> smsMessages(const Error &error)
{
    QList<SmsMessage> boxes;
    const SmsMessage retry{ms("Übertragung wiederholen "),
                           errorText(Error(ErrorCode::SmsConfigInvalid))};
    switch (error.code) {
    case ErrorCode::None:
        break;
    case ErrorCode::SmsWriteIncomplete:
        linkMessages(Error(error.cause, error.detail, error.extra), &boxes);
        boxes.append({QString(), errorText(error), Interaction::Icon::None});
        boxes.append(retry);
        break;
    case ErrorCode::SmsConfigInvalid:
        linkMessages(Error(error.cause, error.detail, error.extra), &boxes);
        boxes.append(retry);
        break;
    case ErrorCode::SmsReadBackDiffers:
        boxes.append({QString(), errorText(error)});
        boxes.append(retry);
        break;
    case ErrorCode::SmsFileInvalid:
    case ErrorCode::SmsRecordIncomplete:
        boxes.append({QString(), errorText(error), Interaction::Icon::Warning});
        break;
    case ErrorCode::SmsRecordUnwritable:
    case ErrorCode::SmsFileUnwritable:
        boxes.append({ms("Fehler beim Speichern einer Datei !"), errorText(error),
                      Interaction::Icon::Warning});
        break;
    case ErrorCode::SmsFileUnreadable:
        boxes.append(
            {ms("Fehler beim Öffnen einer Datei !"), errorText(error), Interaction::Icon::Warning});
        break;
    default:
        linkMessages(error, &boxes);
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
