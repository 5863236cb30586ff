#pragma once

// What the chart windows need to know of a fitted sensor, taken from its controller while
// the link worker leaves it alone: the windows never touch a controller object that a poll
// may be changing.

#include <QList>
#include <QString>

class cTarvelon;

struct SensorInfo {
    int aqid = 0;
    int sid = 0;
    int type = 0;         // display type
    QString typeName;     // formatierter_Typ (a German key)
    QString unit;         // MesswertEinheit of the type
    QString currentValue; // formatierter_wert: the newest value with its unit
    QString valueFormat;  // WertFormat
    QString trendFormat;  // TrendWertFormat
    QString mask;         // WertMaske
    int width = 0;        // WertWidth
    int kompSensor1 = 0;  // temperature compensation sensor, 0 for none
    int kompSensor2 = 0;  // air pressure compensation sensor, 0 for none
    int wasserart = 0;    // 1 for sea water
};

// Every fitted sensor (display type not 0) of the controller, sensor 1 first.
QList<SensorInfo> SensorInfos(cTarvelon &controller);
// The sensor `sid` of controller `aqid` in `sensors`, or nullptr.
const SensorInfo *FindSensor(const QList<SensorInfo> &sensors, int aqid, int sid);
