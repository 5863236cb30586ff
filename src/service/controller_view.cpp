#include "service/controller_view.h"

#include "model/ctarvelon.h"

#include <cmath>

namespace
{

// Decimals of a display format such as "00.00"; a format without a point shows none.
int decimalsOf(const QString &format)
{
    const qsizetype point = format.indexOf(QLatin1Char('.'));
    return point < 0 ? 0 : int(format.size() - point - 1);
}

RegulationState stateOf(const cHydoRegelung &r)
{
    if (r.UntererAlarmAktiv || r.ObererAlarmAktiv)
        return RegulationState::Alarm;
    if (r.UntereWarnungAktiv || r.ObereWarnungAktiv)
        return RegulationState::Warning;
    return RegulationState::Normal;
}

} // namespace

QList<ControllerView> controllerViews(MonitoringService &service)
{
    QList<ControllerView> views;
    const ServiceStatus &status = service.status();
    for (int i = 1; i <= service.controllerCount(); ++i) {
        ControllerView view;
        if (i <= status.controllers.size())
            view.status = status.controllers[i - 1];
        cTarvelon *t = service.controller(i);
        if (t && view.status.id != 0) {
            view.version = cTarvelon::versionNumberText(t->aq_Version()) + QLatin1Char('-') +
                           QString::number(t->aq_SubRelease());
            for (int s = 1; s <= cTarvelon::kSensors; ++s) {
                const cHydoSensor &sensor = t->Sensor(s);
                if (sensor.sensortyp() == 0)
                    continue;
                const double value = std::isfinite(sensor.CurVal()) ? sensor.CurVal() : 0.0;
                view.sensors.append({s, sensor.formatierter_Typ(), sensor.MesswertEinheit(), value,
                                     decimalsOf(sensor.WertFormat()), sensor.formatierter_wert(),
                                     sensor.datum()});
                for (int r = 1; r <= cTarvelon::kRegulationsPerSensor; ++r) {
                    const cHydoRegelung &reg = t->Regelung(s, r);
                    if (reg.Aktor())
                        view.regulations.append({s, r, reg.beschreibung(), stateOf(reg)});
                }
            }
        }
        views.append(view);
    }
    return views;
}

QString stateWord(RegulationState state)
{
    switch (state) {
    case RegulationState::Alarm:
        return QStringLiteral("alarm");
    case RegulationState::Warning:
        return QStringLiteral("warning");
    case RegulationState::Normal:
        break;
    }
    return QStringLiteral("normal");
}
