#pragma once

#include <QString>

// Where limit crossings are reported: the alarm e-mail in the program, a recorder in tests.
class Notifier
{
public:
    virtual ~Notifier() = default;
    // Returns the notification's status text, empty on success or when sending is disabled.
    virtual QString notify(const QString &subject, const QString &body) = 0;
};
