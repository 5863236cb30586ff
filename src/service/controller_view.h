#pragma once

// What the service's outside views (MQTT, the web page) show of each controller, taken on
// the service's thread after a cycle, while the link worker leaves the controllers alone.
// Plain values: the views never touch a controller object.

#include "service/monitoring_service.h"

#include <QDateTime>
#include <QList>
#include <QString>

struct SensorView {
    int number = 0;   // 1..8
    QString typeName; // formatierter_Typ, a German key
    QString unit;     // MesswertEinheit
    double value = 0; // CurVal
    int decimals = 0; // as the display type's format shows the value
    QString shown;    // formatierter_wert: the value with its unit
    QDateTime measured;
};

struct RegulationView {
    int sensor = 0;
    int number = 0; // 1..4
    QString description;
    RegulationState state = RegulationState::Normal;
};

struct ControllerView {
    ControllerStatus status;
    QString version;                   // empty while the controller was never read
    QList<SensorView> sensors;         // the fitted ones
    QList<RegulationView> regulations; // those driving a socket
};

// Every controller of the service, in its order. Call on the service's thread between cycles.
QList<ControllerView> controllerViews(MonitoringService &service);

// "normal", "warning", "alarm": the words the outside views use for a state.
QString stateWord(RegulationState state);
