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

#define OSTRACOM_AKTOR_ACCESSORS(name, pos, kind, scale)                                           \
    FieldValue<FieldKind::kind> name() const                                                       \
    {                                                                                              \
        return readField<FieldKind::kind>(image(), m_base + (pos), scale);                         \
    }                                                                                              \
    void set_##name(const FieldValue<FieldKind::kind> &v)                                          \
    {                                                                                              \
        setImage(writeField<FieldKind::kind>(image(), m_base + (pos), scale, v));                  \
    }
    OSTRACOM_AKTOR_FIELDS(OSTRACOM_AKTOR_ACCESSORS)
#undef OSTRACOM_AKTOR_ACCESSORS

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
