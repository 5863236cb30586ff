#include "ui/hydo_sensor_ctl.h"

#include "model/ctarvelon.h"
#include "model/tables.h"
#include "store/strings.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>

HydoSensorCtl::HydoSensorCtl(QWidget *parent) : QGroupBox(parent)
{
    setObjectName(QStringLiteral("FrameSensors"));
    auto *grid = new QGridLayout(this);
    for (int n = 1; n <= cTarvelon::kSensors; ++n) {
        auto *option = new QRadioButton(this);
        option->setObjectName(QStringLiteral("Opt_Sensor%1").arg(n));
        auto *label = new QLabel(this);
        label->setObjectName(QStringLiteral("Label_Sensor%1").arg(n));
        // A click on the text picks the sensor as a click on its option does.
        label->installEventFilter(this);
        grid->addWidget(option, n - 1, 0);
        grid->addWidget(label, n - 1, 1);
        m_options[n] = option;
        m_labels[n] = label;
        connect(option, &QRadioButton::clicked, this, [this, n] { pick(n); });
    }
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(cTarvelon::kSensors, 1);
}

void HydoSensorCtl::init(cTarvelon &controller, int code)
{
    m_selected = 0;
    const int group = tables::sensorGroup(code);
    // Downwards, so that the lowest matching sensor is the one left selected.
    for (int n = cTarvelon::kSensors; n >= 1; --n) {
        cHydoSensor &sensor = controller.Sensor(n);
        m_labels[n]->setText(QString::number(n) + QLatin1Char('-') + ms(sensor.formatierter_Typ()));
        const bool offered = group >= 0 && tables::sensorGroup(sensor.sensortyp()) == group;
        m_options[n]->setEnabled(offered);
        m_labels[n]->setEnabled(offered);
        // Radio buttons of one group cannot all be cleared while exclusive.
        m_options[n]->setAutoExclusive(false);
        m_options[n]->setChecked(false);
        if (offered)
            m_selected = n;
    }
    for (int n = 1; n <= cTarvelon::kSensors; ++n) {
        m_options[n]->setChecked(n == m_selected);
        m_options[n]->setAutoExclusive(true);
    }
}

void HydoSensorCtl::select(int number)
{
    if (number < 1 || number > cTarvelon::kSensors || !m_options[number]->isEnabled())
        return;
    m_options[number]->setChecked(true);
    m_selected = number;
}

void HydoSensorCtl::pick(int number)
{
    m_options[number]->setChecked(true);
    if (number == m_selected)
        return;
    m_selected = number;
    emit SensorChanged(number);
}

bool HydoSensorCtl::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        for (int n = 1; n <= cTarvelon::kSensors; ++n)
            if (watched == m_labels[n] && m_options[n]->isEnabled())
                pick(n);
    }
    return QGroupBox::eventFilter(watched, event);
}
