#pragma once

#include <QDate>
#include <QString>

class cTarvelon;

// An interval control. The PC decodes none of its fields: the record travels unchanged
// inside the program image.
class cHydoIntervallSteuerung
{
public:
    static constexpr int kTableStart = 1218;
    static constexpr int kRecordSize = 32;

    QString init(cTarvelon *parent, int number);
    int nummer() const { return m_number; }
    QString name() const { return m_name; }
    int recordBase() const { return kTableStart + (m_number - 1) * kRecordSize; }

private:
    cTarvelon *m_parent = nullptr;
    int m_number = 0;
    QString m_name;
};

// One flow-simulation entry, filled from its record by cTarvelon::aq_StroemungsSimulation.
class cHydoStroemungsSimulation
{
public:
    static constexpr int kTableStart = 2422;
    static constexpr int kRecordSize = 26;

    QString init(cTarvelon *parent, int number);
    int nummer() const { return m_number; }

    int Byte0 = 0;
    QDate Datum1, Datum2, Datum3, Datum4, Datum5;
    int Byte21 = 0, Byte22 = 0, Byte23 = 0, Byte24 = 0, Byte25 = 0;

private:
    cTarvelon *m_parent = nullptr;
    int m_number = 0;
};
