#include "display/sensor_info.h"

#include "model/ctarvelon.h"

QList<SensorInfo> SensorInfos(cTarvelon &controller)
{
    QList<SensorInfo> infos;
    for (int n = 1; n <= cTarvelon::kSensors; ++n) {
        cHydoSensor &s = controller.Sensor(n);
        const int type = s.sensortyp();
        if (type == 0)
            continue;
        infos.append({controller.aq_id(), n, type, s.formatierter_Typ(),
                      controller.MesswertEinheit(type), s.formatierter_wert(), s.WertFormat(),
                      s.TrendWertFormat(), s.WertMaske(), s.WertWidth(), s.KompSensor1(),
                      s.KompSensor2(), s.Wasserart()});
    }
    return infos;
}

const SensorInfo *FindSensor(const QList<SensorInfo> &sensors, int aqid, int sid)
{
    for (const SensorInfo &s : sensors)
        if (s.aqid == aqid && s.sid == sid)
            return &s;
    return nullptr;
}
