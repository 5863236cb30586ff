#include "model/intervall.h"

#include "store/strings.h"

QString cHydoIntervallSteuerung::init(cTarvelon *parent, int number)
{
    m_parent = parent;
    m_number = number;
    m_name = ms("Vorgang") + QLatin1Char(' ') + QString::number(number);
    return QString();
}

QString cHydoStroemungsSimulation::init(cTarvelon *parent, int number)
{
    m_parent = parent;
    m_number = number;
    return QString();
}
