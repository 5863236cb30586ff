#pragma once

#include <QString>

#include <stdexcept>

// A failure of the database or the data directory. The message is readable as it stands
// and names the file or folder concerned; callers catch it at the boundary of an operation.
class StoreError : public std::runtime_error
{
public:
    explicit StoreError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
