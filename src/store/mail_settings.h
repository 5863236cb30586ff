#pragma once

#include <QString>

// The alarm e-mail account, as the settings row of table OSTRACOM stores it and as the
// sender uses it.
struct MailSettings {
    QString servername; // host or host:port; smtps:// for TLS from the start
    QString receiver;
    QString sender;
    QString username;
    QString passwort;
    int enabled = 0; // check box value: 0 sending disabled

    bool operator==(const MailSettings &) const = default;
};
