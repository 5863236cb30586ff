// The chart window, its settings dialogs and the logbook window on an archive written here:
// what is drawn where, point selection, ranges, online refresh, and logbook edits.

#include "gui_fixture.h"

#include "display/archive_query.h"
#include "display/hydo_display.h"
#include "display/ui/hydo_logbuch.h"
#include "display/ui/tarvelon_display.h"
#include "display/ui/tarvelon_time_select.h"
#include "store/strings.h"
#include "ui/masked_edit.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QValueAxis>
#include <QXYSeries>

namespace
{

const QDateTime kDay(QDate(2026, 11, 20), QTime(0, 0));

// Sensor 1 a temperature rising 20..30 over the day, sensor 2 a flat pH of 7.
QList<SensorInfo> sensorsOf1234()
{
    return {{1234, 1, 2, "Temperatur", "°C", "25.0 °C", "00.0", "00.00", "##,#", 450},
            {1234, 2, 1, "pH", "pH", "7.00 pH", "00.00", "00.00", "##,##", 500}};
}

void fillArchive(Database &db)
{
    std::vector<ArchiveRecord> records;
    for (int minute = 0; minute <= 24 * 60; minute += 10) {
        const QString datum =
            kDay.addSecs(minute * 60).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        records.push_back({datum, 20.0 + 10.0 * minute / (24 * 60), 1234, 1});
        records.push_back({datum, 7.0, 1234, 2});
    }
    db.appendArchive(records, Database::SkipExisting::Yes);
    ASSERT_TRUE(db.createLogbookEntry(kDay.addSecs(6 * 3600), QStringLiteral("water change")));
    ASSERT_TRUE(db.createLogbookEntry(kDay.addSecs(18 * 3600), QStringLiteral("new filter")));
}

// Runs `answer` on the next modal dialog of type D as soon as it is shown.
template <class D> void whenShown(std::function<void(D *)> answer)
{
    auto *poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto *d = qobject_cast<D *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(d);
        }
    });
    poll->start();
}

template <class W> W *child(QWidget *in, const char *name)
{
    W *w = in->findChild<W *>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// Chooses the fixed day in the settings dialog and accepts it.
void chooseTheDay(TarvelonTimeSelect *settings)
{
    child<QRadioButton>(settings, "OPT_Zeitbereich")->click();
    child<MaskedEdit>(settings, "txt1")->showDateTime(kDay);
    child<MaskedEdit>(settings, "txt2")->showDateTime(kDay.addDays(1));
    child<QPushButton>(settings, "cmdOK")->click();
}

} // namespace

class ChartWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ensureGuiApplication();
        ASSERT_TRUE(m_dir.isValid());
        m_db = std::make_unique<Database>(m_dir.filePath(QStringLiteral("ostracom.db")));
        initProgramLanguage(*m_db);
        fillArchive(*m_db);
        // As the main window sets it up, but for a fixed day chosen in the settings.
        cHydoDisplay definition;
        definition.set_onlinenumber(1);
        definition.set_onlineintervall(3);
        definition.add(1234, 1, 0, 0);
        definition.add(1234, 2, 0, 0);
        m_window = new TarvelonDisplay(*m_db, [] { return sensorsOf1234(); });
        m_window->init(definition);
        whenShown<TarvelonTimeSelect>(chooseTheDay);
        m_window->show();
        ASSERT_TRUE(waitUntil([&] { return !m_window->shownPlot().series.empty(); }, 5000));
    }
    void TearDown() override { delete m_window.data(); }

    QTemporaryDir m_dir;
    std::unique_ptr<Database> m_db;
    QPointer<TarvelonDisplay> m_window;
};

TEST_F(ChartWindow, seriesAreScaledIntoTheirRangesWithTheLogbookAtHalfHeight)
{
    const ChartPlot &plot = m_window->shownPlot();
    ASSERT_EQ(plot.series.size(), 3u);
    const PlotSeries &logbook = plot.series[0];
    int inRange = 0;
    for (const ChartPoint &p : logbook.scaled) {
        EXPECT_DOUBLE_EQ(p.y, 50);
        const QDateTime when = DateTimeOfDayNumber(p.x);
        inRange += when >= plot.start && when <= plot.end ? 1 : 0;
    }
    EXPECT_EQ(inRange, 2) << "both entries of the day";
    // 20..30 widened to 19.475..30.5; a flat 7 to 6.65..7.35.
    EXPECT_NEAR(plot.series[1].range.minimum, 19.475, 1e-9);
    EXPECT_NEAR(plot.series[1].range.maximum, 30.5, 1e-9);
    EXPECT_NEAR(plot.series[2].range.minimum, 6.65, 1e-9);
    EXPECT_NEAR(plot.series[2].range.maximum, 7.35, 1e-9);
    EXPECT_EQ(plot.series[1].legend, "1234 25.0 °C");
    EXPECT_EQ(m_window->chart()->series().size(), 3);
    saveScreenshot(m_window, QStringLiteral("day"));

    // The exports hold the picture shown and exactly the points drawn.
    const QString csv = m_dir.filePath("chart.csv");
    ASSERT_TRUE(m_window->saveCsv(csv));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), PlotCsv(plot));
    ASSERT_TRUE(m_window->saveImage(m_dir.filePath("chart.png")));
    EXPECT_FALSE(QImage(m_dir.filePath("chart.png")).isNull());
}

TEST_F(ChartWindow, aSelectedPointShowsItsValueAndTheScaleBesideTheGrid)
{
    const PlotSeries &temperature = m_window->shownPlot().series[1];
    const size_t last = temperature.points.size() - 1;
    m_window->selectPoint(1, int(last));
    EXPECT_EQ(child<QLineEdit>(m_window, "Texty")->text(), "30.00 °C");
    EXPECT_EQ(child<QLineEdit>(m_window, "Textx")->text(), "21.11.2026");
    EXPECT_EQ(child<QLabel>(m_window, "Text50")->text(), "24.99 °C");
    EXPECT_EQ(child<QLabel>(m_window, "Text100")->text(), "30.50 °C");
    // Each scale text stands level with its grid line.
    QChart *chart = m_window->chart();
    const QRectF area = chart->plotArea();
    for (int j = 0; j <= 10; ++j) {
        auto *label = child<QLabel>(m_window, QStringLiteral("Text%1").arg(10 * j).toLatin1());
        const QPoint grid = chart->scene()->views().first()->mapFromScene(
            chart->mapToScene(QPointF(area.right(), area.bottom() - area.height() * j / 10)));
        const QPoint centre = label->geometry().center();
        EXPECT_NEAR(centre.y(), grid.y(), 2) << "Text" << 10 * j;
    }
    saveScreenshot(m_window, QStringLiteral("selected"));

    // Only the logbook: no point to show, no scale.
    cHydoDisplay onlyLogbook;
    m_window->init(onlyLogbook);
    m_window->plot();
    EXPECT_FALSE(child<QLineEdit>(m_window, "Texty")->isVisible());
    EXPECT_EQ(child<QLabel>(m_window, "Text50")->text(), "");
}

TEST_F(ChartWindow, settingsSwitchToOnlineAndTheTimerRestsWhileADialogIsOpen)
{
    QTimer *timer = child<QTimer>(m_window, "Timer1");
    EXPECT_FALSE(timer->isActive()) << "a fixed range needs no refresh";
    bool timerRestedInDialog = true;
    BoxAnswerer boxes;
    whenShown<TarvelonTimeSelect>([&](TarvelonTimeSelect *settings) {
        timerRestedInDialog = !timer->isActive();
        EXPECT_EQ(child<QLineEdit>(settings, "intervallAnzahl")->text(), "1");
        // Not a number: refused with a message, the dialog stays.
        child<QRadioButton>(settings, "opt_onlinedaten")->click();
        child<QLineEdit>(settings, "intervallAnzahl")->setText("two");
        child<QPushButton>(settings, "cmdOK")->click();
        EXPECT_EQ(boxes.boxes().size(), 1);
        EXPECT_TRUE(settings->isVisible());
        // The translated unit "Day" is code 2.
        child<QLineEdit>(settings, "intervallAnzahl")->setText("2");
        child<QComboBox>(settings, "intervallart")->setCurrentIndex(2);
        EXPECT_EQ(child<QComboBox>(settings, "intervallart")->currentText(), "Day");
        child<QPushButton>(settings, "cmdOK")->click();
    });
    QTest::mouseDClick(child<QChartView>(m_window, "MSChart1")->viewport(), Qt::LeftButton, {},
                       QPoint(200, 200));
    EXPECT_TRUE(timerRestedInDialog);
    EXPECT_TRUE(m_window->definition().onlinedata());
    EXPECT_EQ(m_window->definition().onlineintervall(), 2);
    EXPECT_EQ(m_window->definition().onlinenumber(), 2.0f);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 5000);
    const ChartPlot &plot = m_window->shownPlot();
    EXPECT_NEAR(plot.start.secsTo(plot.end), 2 * 86400, 3600) << "the last two days up to now";
}

TEST_F(ChartWindow, seriesListsAndValueRangesAreEditedInTheSettings)
{
    cHydoDisplay &definition = m_window->definition();
    TarvelonTimeSelect settings([] { return sensorsOf1234(); });
    settings.init(definition);
    settings.show();
    auto *chosen = child<QTreeWidget>(&settings, "ListView1");
    auto *available = child<QTreeWidget>(&settings, "ListView2");
    EXPECT_EQ(chosen->topLevelItemCount(), 2);
    EXPECT_EQ(available->topLevelItemCount(), 0) << "both sensors are chosen";
    EXPECT_EQ(chosen->topLevelItem(0)->text(3), "AUTO");
    chosen->setCurrentItem(chosen->topLevelItem(1));
    child<QPushButton>(&settings, "cmd_remove")->click();
    EXPECT_EQ(definition.count(), 2);
    ASSERT_EQ(available->topLevelItemCount(), 1);
    EXPECT_EQ(available->topLevelItem(0)->text(2), "pH");

    // Bounds of the temperature series: a value typed with a blank place reads as meant.
    whenShown<TarvelonTimeSelectYMinMax>([](TarvelonTimeSelectYMinMax *range) {
        EXPECT_EQ(child<QLabel>(range, "lb_ymin")->text(), "Lower limit of the Y axis [°C]:");
        auto *low = child<MaskedEdit>(range, "edit_ymin");
        low->setText("15.0");
        low->setModified(true);
        auto *high = child<MaskedEdit>(range, "edit_ymax");
        high->setText("35.0");
        high->setModified(true);
        child<QPushButton>(range, "cmd_ok")->click();
    });
    emit chosen->itemDoubleClicked(chosen->topLevelItem(0), 0);
    EXPECT_EQ(definition.ymin(2), 15.0f);
    EXPECT_EQ(definition.ymax(2), 35.0f);
    EXPECT_EQ(chosen->topLevelItem(0)->text(4), "35");
    saveScreenshot(&settings, QStringLiteral("settings"));
}

TEST_F(ChartWindow, logbookEntriesAreAddedMovedAndDeletedButNeverOverwritten)
{
    const QDateTime first = kDay.addSecs(6 * 3600);
    const QDateTime second = kDay.addSecs(18 * 3600);
    HydoLogbuch logbook(*m_db);
    BoxAnswerer boxes;
    // A second that holds an entry already takes no new one.
    EXPECT_FALSE(logbook.init(first, true));
    EXPECT_EQ(boxes.boxes().size(), 1);
    EXPECT_EQ(m_db->logbookText(first), "water change");

    // Moving onto another entry's time is refused; to a free time it moves.
    ASSERT_TRUE(logbook.init(first, false));
    logbook.show();
    auto *time = child<MaskedEdit>(&logbook, "mask_zeitpunkt");
    auto *text = child<QPlainTextEdit>(&logbook, "text_bemerkung");
    EXPECT_EQ(text->toPlainText(), "water change");
    time->showDateTime(second);
    time->setModified(true);
    child<QPushButton>(&logbook, "cmd_ok")->click();
    ASSERT_EQ(boxes.boxes().size(), 2);
    EXPECT_TRUE(boxes.boxes().last().text.startsWith("A logbook entry already exists"))
        << boxes.boxes().last().text.toStdString();
    EXPECT_EQ(m_db->logbookText(second), "new filter");
    time->showDateTime(first.addSecs(60));
    time->setModified(true);
    text->setPlainText("water change, 20 %");
    child<QPushButton>(&logbook, "cmd_ok")->click();
    EXPECT_FALSE(m_db->logbookText(first).has_value());
    EXPECT_EQ(m_db->logbookText(first.addSecs(60)), "water change, 20 %");

    // A new entry exists at once; discarding it asks, and No keeps the window.
    const QDateTime now = QDateTime::currentDateTime();
    ASSERT_TRUE(logbook.init(now, true));
    logbook.show();
    EXPECT_TRUE(m_db->logbookText(now).has_value());
    for (auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        boxes.script({answer});
        logbook.close();
        EXPECT_EQ(logbook.isVisible(), answer == QMessageBox::No);
    }
    EXPECT_EQ(boxes.boxes().size(), 4) << "one box for each refusal and each close";
    EXPECT_FALSE(m_db->logbookText(now).has_value());
}
