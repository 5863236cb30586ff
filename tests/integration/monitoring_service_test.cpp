// The monitoring service against the emulator: what it reports about a controller as the
// controller's values cross a limit and as the controller stops answering.

#include "support/answer_ok.h"
#include "support/sim_process.h"
#include "support/temp_db.h"

#include "link/error.h"
#include "link/progress.h"
#include "model/interaction.h"
#include "service/monitoring_service.h"
#include "store/database.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

namespace
{

// Runs the event loop until `done` holds or the time is up.
template <typename F>
bool processUntil(F done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

} // namespace

TEST(MonitoringService, reportsDownloadsAlarmsAndALostControllerPerCycle)
{
    ensureCoreApplication();
    SimProcess sim;
    const QString values = sim.scratchPath(QStringLiteral("values.txt"));
    auto setTemperature = [&](const char *value) {
        QFile f(values);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray("1=") + value + "\n");
    };
    setTemperature("25.0");
    QString error;
    ASSERT_TRUE(sim.start({"--quiet", "--interval", "1", "--values", values}, &error))
        << error.toStdString();

    TempDb tmp(TempDb::Start::Prepared);
    Database db(tmp.path());
    AnswerOk interaction;
    NoProgress progress;
    MonitoringService service(db, tmp.dir(), interaction, progress);
    int cycles = 0;
    QObject::connect(&service, &MonitoringService::cycleFinished, [&] { ++cycles; });
    const LinkParams link = sim.tcpLink();
    service.addController(link, QStringLiteral("sim"), true);
    service.start(1000);

    auto controller = [&] { return service.status().controllers.value(0); };
    auto afterCycles = [&](int n) {
        const int target = cycles + n;
        return processUntil([&] { return cycles >= target; }, 30000);
    };

    ASSERT_TRUE(afterCycles(2));
    EXPECT_TRUE(controller().connected);
    EXPECT_EQ(controller().id, 1234);
    EXPECT_TRUE(controller().lastDownload.isValid());
    EXPECT_EQ(controller().state, RegulationState::Normal);
    EXPECT_TRUE(controller().lastError.ok()) << errorText(controller().lastError).toStdString();
    EXPECT_GT(tmp.count("HYDOARCHIVE", "TARVELONID = 1234"), 0);

    // Above the emulated temperature's upper alarm limit of 27.0.
    setTemperature("28.0");
    ASSERT_TRUE(processUntil([&] { return controller().state == RegulationState::Alarm; }, 30000));

    const QDateTime lastGood = controller().lastDownload;
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(afterCycles(2));
    EXPECT_FALSE(controller().connected);
    EXPECT_EQ(controller().lastError.code, ErrorCode::ConnectFailed);
    EXPECT_EQ(controller().lastDownload, lastGood) << "the last good download is kept";
    EXPECT_EQ(service.status().spoolBacklog, 0);
}
