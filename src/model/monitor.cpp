#include "model/monitor.h"

#include "model/ctarvelon.h"

PollResult pollController(cTarvelon &controller)
{
    PollResult result;
    result.error = controller.get_comp();
    result.archived = controller.lastArchived();
    result.spooled = controller.lastSpooled();
    for (int s = 1; s <= cTarvelon::kSensors; ++s) {
        for (int k = 1; k <= cTarvelon::kRegulationsPerSensor; ++k) {
            cHydoRegelung &regulation = controller.Regelung(s, k);
            result.notifications += regulation.process_warning_error();
            for (const QString &problem : regulation.lastNotifyProblems) {
                if (!result.notifyProblems.isEmpty())
                    result.notifyProblems += QStringLiteral("; ");
                result.notifyProblems += problem;
            }
        }
    }
    return result;
}
