#pragma once

#include "sms/sms_messages.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The 30 message configurations of the SMS controller, kept byte for byte as its EEPROM
// holds them from address 0x0400: 30 records of 60 bytes. Numbers run from 1 to 30; a number
// outside that range reads as empty and writes nothing.
class cHydoSmsModul
{
public:
    static constexpr int kConfigurations = 30;
    static constexpr int kRecordLength = 60;
    static constexpr int kImageLength = kConfigurations * kRecordLength;

    // A new record holds 1800 spaces, as the device's own blank configuration does.
    cHydoSmsModul();

    QByteArray HydoSmsModulString() const { return m_image; }
    // Takes exactly 1800 bytes; anything else is refused (false) and changes nothing.
    bool setHydoSmsModulString(const QByteArray &image);

    // Texts as stored, end mark and whatever follows it included; cut them with textOf().
    QByteArray ee_mobile_number(int n) const;
    void set_ee_mobile_number(int n, const QByteArray &text);
    QByteArray ee_service_number(int n) const;
    void set_ee_service_number(int n, const QByteArray &text);
    QByteArray ee_cause_name(int n) const;
    void set_ee_cause_name(int n, const QByteArray &text);
    quint8 ee_cause(int n) const;
    void set_ee_cause(int n, quint8 code);
    quint8 ee_cause_ext(int n) const;
    void set_ee_cause_ext(int n, quint8 code);
    qint16 ee_time(int n) const;
    void set_ee_time(int n, qint16 minutes);

    // Empty texts, all codes and the time 0.
    void clear(int n);

    // Numbers the device cannot store correctly: 1, 9, 13, 17 and 21.
    static bool isReserved(int n);
    // A stored text up to its first end mark, as shown.
    static QString textOf(const QByteArray &field);
    // The shown text back as bytes; nullopt-like empty result with ok=false when it holds a
    // character outside Latin-1.
    static QByteArray bytesOf(const QString &text, bool *ok = nullptr);
    // The cause and wiring names in list order (German keys, shown through ms()).
    static const QStringList &causeKeys();
    static const QStringList &wiringKeys();
    // "hh:mm" of a time in minutes.
    static QString timeText(int minutes);

private:
    QByteArray field(int n, int offset, int width) const;
    void setText(int n, int offset, int width, const QByteArray &text);
    void setByte(int n, int offset, quint8 value);

    QByteArray m_image;
};

// The first configuration (not reserved) whose texts a .cfg file cannot hold: a double
// quote or a control character. 0 when the file can hold them all.
int smsUnwritableConfiguration(const cHydoSmsModul &record);
// The .cfg file: the port's number and a character of code 3, then one line per
// configuration with seven quoted fields separated by tabs, then a closing code 3.
QByteArray smsConfigFileText(const cHydoSmsModul &record, int portNumber);
// Reads a file's text into record. All or nothing: on any error the record is unchanged.
// file names the file in error messages.
Error parseSmsConfigFile(const QByteArray &text, const QString &file, cHydoSmsModul *record);

// File access with the program's rules: saved files are the owner's only (0600). A record
// with a configuration the file cannot hold is refused (RecordUnwritable) and nothing written.
Error saveSmsConfigFile(const QString &path, const cHydoSmsModul &record, int portNumber);
// rawText, when given, receives the file's text as read.
Error openSmsConfigFile(const QString &path, cHydoSmsModul *record, QString *rawText = nullptr);

// The number a .cfg file records for a serial device: the digits its name ends in, else 0.
int portNumberOf(const QString &device);
