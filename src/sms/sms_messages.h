#pragma once

#include "link/error.h"
#include "model/interaction.h"

#include <QList>
#include <QString>

// The short result of a transfer with the SMS controller: "" success, "-2" wrong checksum,
// "-1" any other failure.
QString resultCode(const Error &error);

// One message box the SMS configuration window shows for an error, in the selected language.
struct SmsMessage {
    QString title;
    QString text; // lines separated by "\r"
    Interaction::Icon icon = Interaction::Icon::Exclamation;
};

// The boxes shown for an error of the SMS controller or its configuration files, in order;
// none for success.
QList<SmsMessage> smsMessages(const Error &error);

// The warning after a configuration read that found the validity marker unset: the table
// holds what the device holds, which may be a write cut short.
SmsMessage smsUnmarkedReadWarning();
