#include "model/monitor.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "store/store_error.h"

PollResult pollController(cTarvelon &controller)
{
    PollResult result;
    result.error = controller.get_comp();
    const cTarvelon::DownloadReport &download = controller.lastDownload();
    result.archived = download.archived;
    result.spooled = download.spooled;
    result.rejected = download.rejected;
    result.spoolProblem = download.spoolProblem;
    // Limits, descriptions and alarm qualities changed by ostracom-cli or another window
    // take effect at this cycle. A database that cannot be read now keeps the ones in use.
    try {
        controller.refreshRegulations();
    } catch (const StoreError &e) {
        result.settingsProblem = errorText(e.error());
    }
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
