#include "model/aktor.h"

#include "model/ctarvelon.h"
#include "model/tables.h"

QString cHydoAktor::init(cTarvelon *parent, int socketNumber)
{
    m_parent = parent;
    m_number = socketNumber;
    m_base = kTableStart + (socketNumber - 1) * kRecordSize;
    return QString();
}

QString cHydoAktor::image() const
{
    return m_parent ? m_parent->HydoProgramString() : QString();
}

void cHydoAktor::setImage(const QString &image)
{
    if (m_parent)
        m_parent->set_HydoProgramString(image);
}

QString cHydoAktor::formatierter_Typ() const
{
    return tables::socketKindName(DosenType());
}

QString cHydoAktor::Formated_ConnectedTo() const
{
    return tables::sensorTypeName(ConnectedTo());
}
