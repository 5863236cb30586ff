#pragma once

#include "model/controller_fields.h"
#include "model/image_field.h"

#include <QString>

class cTarvelon;

// One of the sixteen sockets: a 7-byte record of the program image.
class cHydoAktor
{
public:
    static constexpr int kTableStart = 2703;
    static constexpr int kRecordSize = 7;

    QString init(cTarvelon *parent, int socketNumber);
    int DosenNummer() const { return m_number; }
    int recordBase() const { return m_base; }

    OSTRACOM_AKTOR_FIELDS(OSTRACOM_RECORD_FIELD_ACCESSORS)

    // Kind name of DosenType ("Schaltbare Dose" …), empty beyond the table.
    QString formatierter_Typ() const;
    // Sensor type name of ConnectedTo, empty beyond the table.
    QString Formated_ConnectedTo() const;

private:
    QString image() const;
    void setImage(const QString &image);

    cTarvelon *m_parent = nullptr;
    int m_number = 0;
    int m_base = 0;
};
