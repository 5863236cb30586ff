#include "service/controller_poll.h"

#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "store/store_error.h"

PollResult pollController(cTarvelon &controller, ArchiveSpool *archive)
{
    PollResult result;
    MeasurementDownload download(controller, archive);
    result.error = download.get_comp();
    result.download = download.lastDownload();
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
