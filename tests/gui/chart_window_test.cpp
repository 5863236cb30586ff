// The chart window as a user meets it: the settings chosen in their dialog, points and
// logbook markers clicked on the plot, the legend's logbook entry, the context menu's
// exports. Every input is a mouse or key event on the widget a person would touch.

#include "gui_fixture.h"

#include "display/archive_query.h"
#include "display/hydo_display.h"
#include "display/ui/hydo_logbuch.h"
#include "display/ui/tarvelon_display.h"
#include "display/ui/tarvelon_time_select.h"
#include "store/strings.h"
#include "support/user_input.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QFile>
#include <QGraphicsTextItem>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTreeWidget>

namespace
{

const QDateTime kDay(QDate(2026, 11, 20), QTime(0, 0));
const char *const kShown = "dd.MM.yyyy HH:mm:ss";

// Sensor 1 a temperature rising 20..30 over the day, sensor 2 a pH of 7 that zigzags
// between 6.8 and 7.2 minute by minute from 08:00 to 09:00.
QList<SensorInfo> sensorsOf1234()
{
    return {{1234, 1, 2, "Temperatur", "°C", "25.0 °C", "00.0", "00.00", "##,#", 450},
            {1234, 2, 1, "pH", "pH", "7.00 pH", "00.00", "00.00", "##,##", 500}};
}

double phAt(int minute)
{
    return minute >= 8 * 60 && minute <= 9 * 60 ? 7.0 + 0.1 * (minute % 5 - 2) : 7.0;
}

void fillArchive(Database &db)
{
    std::vector<ArchiveRecord> records;
    for (int minute = 0; minute <= 24 * 60; ++minute) {
        const QString datum =
            kDay.addSecs(minute * 60).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (minute % 10 == 0)
            records.push_back({datum, 20.0 + 10.0 * minute / (24 * 60), 1234, 1});
        if (minute % 10 == 0 || phAt(minute) != 7.0)
            records.push_back({datum, phAt(minute), 1234, 2});
    }
    db.appendArchive(records, Database::SkipExisting::Yes);
    ASSERT_TRUE(db.createLogbookEntry(kDay.addSecs(6 * 3600), QStringLiteral("water change")));
    ASSERT_TRUE(db.createLogbookEntry(kDay.addSecs(18 * 3600), QStringLiteral("new filter")));
}

// A dialog the test meant to close but could not stays open no longer than the check.
void ensureClosed(QDialog *dialog)
{
    if (dialog->isVisible()) {
        ADD_FAILURE() << dialog->objectName().toStdString() << " stayed open";
        dialog->done(QDialog::Rejected);
    }
}

// Chooses a fixed range in the settings dialog and accepts it.
void chooseRange(TarvelonTimeSelect *settings, const QDateTime &from, const QDateTime &to)
{
    user::click(settings, "OPT_Zeitbereich");
    user::retype(user::find<QLineEdit>(settings, "txt1"), from.toString(kShown));
    user::retype(user::find<QLineEdit>(settings, "txt2"), to.toString(kShown));
    user::click(settings, "cmdOK");
    ensureClosed(settings);
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
        // As the main window sets it up: online, the last hour.
        cHydoDisplay definition;
        definition.set_onlinenumber(1);
        definition.set_onlineintervall(3);
        definition.add(1234, 1, 0, 0);
        definition.add(1234, 2, 0, 0);
        m_window = new TarvelonDisplay(*m_db, [] { return sensorsOf1234(); });
        m_window->init(definition);
        user::whenShown<TarvelonTimeSelect>([this](TarvelonTimeSelect *settings) {
            // The window stands behind the settings with nothing chosen yet.
            for (const char *name : {"Textx", "Textx1", "Texty"})
                if (auto *field = user::find<QLineEdit>(m_window, name); field->isVisible())
                    m_textsBeforeAPoint << field->text();
            chooseRange(settings, kDay, kDay.addDays(1));
        });
        m_window->show();
        ASSERT_TRUE(waitForChart());
    }
    void TearDown() override { delete m_window.data(); }

    bool waitForChart()
    {
        return user::waitFor([this] {
            return m_window && !m_window->shownPlot().series.empty() && m_window->chart() &&
                   !m_window->chart()->plotArea().isEmpty() && !QApplication::activeModalWidget();
        });
    }
    QChartView *view() const { return user::find<QChartView>(m_window, "MSChart1"); }
    QWidget *viewport() const { return view()->viewport(); }
    // Where a value (day number, 0..100) is drawn on the viewport.
    QPoint onViewport(double day, double y) const
    {
        QChart *chart = m_window->chart();
        return view()->mapFromScene(chart->mapToScene(chart->mapToPosition(QPointF(day, y))));
    }
    // A spot of the plot area, by fractions of its width and height from its lower left.
    QPoint plotSpot(double across, double up) const
    {
        const QRectF area = m_window->chart()->plotArea();
        return view()->mapFromScene(m_window->chart()->mapToScene(
            QPointF(area.left() + across * area.width(), area.bottom() - up * area.height())));
    }
    // The symbol of the legend entry called `name`, as it stands on the viewport.
    QPoint legendEntry(const QString &name) const
    {
        QList<QGraphicsItem *> items = m_window->chart()->legend()->childItems();
        while (!items.isEmpty()) {
            QGraphicsItem *item = items.takeFirst();
            items += item->childItems();
            auto *text = dynamic_cast<QGraphicsTextItem *>(item);
            if (!text || text->toPlainText() != name || !text->parentItem())
                continue;
            for (QGraphicsItem *symbol : text->parentItem()->childItems())
                if (symbol != text && symbol->isVisible())
                    return view()->mapFromScene(symbol->sceneBoundingRect().center());
        }
        ADD_FAILURE() << "no legend entry " << name.toStdString();
        return {};
    }
    QString text(const char *name) const { return user::find<QLineEdit>(m_window, name)->text(); }
    // Runs `answer` on the window of type W the next click opens; true once it ran.
    template <typename W> std::shared_ptr<bool> onShown(std::function<void(W *)> answer)
    {
        auto ran = std::make_shared<bool>(false);
        user::whenShown<W>([ran, answer](W *window) {
            answer(window);
            ensureClosed(window);
            *ran = true;
        });
        return ran;
    }
    bool ranAndRedrawn(const std::shared_ptr<bool> &ran)
    {
        return user::waitFor([&] { return *ran; }) && waitForChart();
    }

    QTemporaryDir m_dir;
    std::unique_ptr<Database> m_db;
    QPointer<TarvelonDisplay> m_window;
    QStringList m_textsBeforeAPoint;
};

// A clicked point shows its reading and the scale of its series; on a long range, drawn from
// summaries, also the span its value lies in.
TEST_F(ChartWindow, aClickedPointShowsItsReadingItsScaleAndOnALongRangeItsSpan)
{
    EXPECT_TRUE(m_textsBeforeAPoint.isEmpty()) << m_textsBeforeAPoint.join(' ').toStdString();
    // Round times along the axis.
    auto *time = qobject_cast<QCategoryAxis *>(m_window->chart()->axes(Qt::Horizontal).first());
    ASSERT_NE(time, nullptr);
    const QStringList ticks = time->categoriesLabels();
    EXPECT_GE(ticks.size(), 4);
    for (const QString &tick : ticks)
        EXPECT_TRUE(
            QRegularExpression("^\\d\\d\\.11 (00|03|06|09|12|15|18|21):00$").match(tick).hasMatch())
            << tick.toStdString();

    // 28.33 °C at 20:00, on the temperature's range 19.475..30.5.
    user::clickAt(viewport(), onViewport(DayNumber(kDay.addSecs(20 * 3600)),
                                         (20 + 10 * 20 / 24.0 - 19.475) * 100 / 11.025));
    EXPECT_EQ(text("Textx"), "20.11.2026");
    EXPECT_EQ(text("Textx1"), "20:00:00");
    EXPECT_EQ(text("Texty"), "28.33 °C");
    EXPECT_EQ(user::find<QLabel>(m_window, "Text50")->text(), "24.99 °C");
    EXPECT_EQ(user::find<QLabel>(m_window, "Text100")->text(), "30.50 °C");
    // Each scale text stands level with its grid line.
    for (int j = 0; j <= 10; ++j) {
        auto *label = user::find<QLabel>(m_window, QStringLiteral("Text%1").arg(10 * j));
        const QPoint grid = view()->mapTo(m_window, plotSpot(1, j / 10.0));
        EXPECT_NEAR(label->mapTo(m_window, label->rect().center()).y(), grid.y(), 2) << 10 * j;
    }
    saveScreenshot(m_window, QStringLiteral("point"));

    // A double click on the plot reopens the settings: three days are drawn from summaries.
    auto ran = onShown<TarvelonTimeSelect>([](TarvelonTimeSelect *settings) {
        chooseRange(settings, kDay.addDays(-1), kDay.addDays(2));
    });
    user::doubleClickAt(viewport(), plotSpot(0.1, 0.95));
    ASSERT_TRUE(ranAndRedrawn(ran));
    const PlotSeries &ph = m_window->shownPlot().series[2];
    const auto spanned = std::find_if(ph.points.begin(), ph.points.end(), [](const ChartPoint &p) {
        return p.hasSpan() && p.y > 7.15;
    });
    ASSERT_NE(spanned, ph.points.end()) << "a highest value inside a column";
    const size_t index = size_t(spanned - ph.points.begin());
    user::clickAt(viewport(), onViewport(ph.scaled[index].x, ph.scaled[index].y));

    EXPECT_EQ(text("Textx"), "20.11.2026");
    EXPECT_EQ(text("Texty"), "7.20 pH");
    const auto span =
        QRegularExpression("^(\\d\\d):(\\d\\d)–(\\d\\d):(\\d\\d)$").match(text("Textx1"));
    ASSERT_TRUE(span.hasMatch()) << text("Textx1").toStdString();
    const int from = span.captured(1).toInt() * 60 + span.captured(2).toInt();
    const int to = span.captured(3).toInt() * 60 + span.captured(4).toInt();
    bool archivedThere = false;
    for (int minute = from; minute < to; ++minute)
        archivedThere = archivedThere || qFuzzyCompare(phAt(minute), 7.2);
    EXPECT_TRUE(archivedThere) << "7.20 was archived between " << from << " and " << to;
    saveScreenshot(m_window, QStringLiteral("span"));
}

TEST_F(ChartWindow, aNoteWrittenFromTheLegendIsStored)
{
    BoxAnswerer boxes;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    auto ran = onShown<HydoLogbuch>([&](HydoLogbuch *logbook) {
        EXPECT_EQ(logbook->windowTitle(), "New logbook entry ...");
        // Escape would discard the new entry: No keeps the window.
        boxes.script({QMessageBox::No});
        user::press(logbook, Qt::Key_Escape);
        EXPECT_EQ(boxes.boxes().size(), 1);
        EXPECT_TRUE(logbook->isVisible());
        user::type(user::find<QPlainTextEdit>(logbook, "text_bemerkung"), "fed the fish");
        saveScreenshot(logbook, QStringLiteral("logbook"));
        user::click(logbook, "cmd_ok");
    });
    user::clickAt(viewport(), legendEntry("Logbook"));
    ASSERT_TRUE(ranAndRedrawn(ran));
    const auto entries = m_db->logbookEntries(before, QDateTime::currentDateTime().addSecs(1));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].bemerkung, "fed the fish");
    EXPECT_EQ(boxes.unexpected(), 0);
}

TEST_F(ChartWindow, aNoteOpenedByItsMarkerIsMovedAndThenDeleted)
{
    const QDateTime six = kDay.addSecs(6 * 3600), seven = kDay.addSecs(7 * 3600);
    auto refusals = std::make_unique<BoxAnswerer>();
    auto moved = onShown<HydoLogbuch>([&](HydoLogbuch *logbook) {
        EXPECT_EQ(user::find<QPlainTextEdit>(logbook, "text_bemerkung")->toPlainText(),
                  "water change");
        auto *time = user::find<QLineEdit>(logbook, "mask_zeitpunkt");
        // Onto the other entry's second: refused, the field keeps the focus.
        refusals->script({QMessageBox::Ok, QMessageBox::Ok});
        user::retype(time, kDay.addSecs(18 * 3600).toString(kShown));
        user::click(logbook, "cmd_ok");
        EXPECT_GE(refusals->withText("A logbook entry already exists").size(), 1);
        EXPECT_TRUE(logbook->isVisible());
        user::retype(time, seven.toString(kShown));
        user::click(logbook, "cmd_ok");
    });
    user::clickAt(viewport(), onViewport(DayNumber(six), 50));
    ASSERT_TRUE(ranAndRedrawn(moved));
    EXPECT_FALSE(m_db->logbookText(six).has_value());
    EXPECT_EQ(m_db->logbookText(seven), "water change");
    EXPECT_EQ(m_db->logbookText(kDay.addSecs(18 * 3600)), "new filter");
    EXPECT_EQ(refusals->unexpected(), 0);
    refusals.reset();

    BoxAnswerer boxes;

    auto deleted = onShown<HydoLogbuch>([&](HydoLogbuch *logbook) {
        EXPECT_EQ(user::find<QPlainTextEdit>(logbook, "text_bemerkung")->toPlainText(),
                  "water change");
        boxes.script({QMessageBox::Yes});
        user::click(logbook, "cmd_delete");
    });
    user::clickAt(viewport(), onViewport(DayNumber(seven), 50));
    ASSERT_TRUE(ranAndRedrawn(deleted));
    EXPECT_FALSE(m_db->logbookText(seven).has_value());
    EXPECT_EQ(boxes.unexpected(), 0);
}

TEST_F(ChartWindow, settingsChooseSeriesTheirValueRangeAndOnlineMode)
{
    BoxAnswerer boxes;
    auto ran = onShown<TarvelonTimeSelect>([&](TarvelonTimeSelect *settings) {
        auto *chosen = user::find<QTreeWidget>(settings, "ListView1");
        auto *available = user::find<QTreeWidget>(settings, "ListView2");
        EXPECT_EQ(available->topLevelItemCount(), 0) << "both sensors are chosen";
        user::clickIndex(chosen, chosen->model()->index(1, 0));
        user::click(settings, "cmd_remove");
        ASSERT_EQ(available->topLevelItemCount(), 1);
        EXPECT_EQ(available->topLevelItem(0)->text(2), "pH");

        // The temperature's bounds, by a double click on its row.
        auto range = std::make_shared<bool>(false);
        user::whenShown<TarvelonTimeSelectYMinMax>([range](TarvelonTimeSelectYMinMax *dialog) {
            EXPECT_EQ(user::find<QLabel>(dialog, "lb_ymin")->text(),
                      "Lower limit of the Y axis [°C]:");
            user::retype(user::find<QLineEdit>(dialog, "edit_ymin"), "15.0");
            user::retype(user::find<QLineEdit>(dialog, "edit_ymax"), "35.0");
            saveScreenshot(dialog, QStringLiteral("range"));
            user::click(dialog, "cmd_ok");
            ensureClosed(dialog);
            *range = true;
        });
        user::clickIndex(chosen, chosen->model()->index(0, 0), true);
        EXPECT_TRUE(*range);
        EXPECT_EQ(chosen->topLevelItem(0)->text(3), "15");
        EXPECT_EQ(chosen->topLevelItem(0)->text(4), "35");

        // The last two days; a count that is no number is refused first.
        user::click(settings, "opt_onlinedaten");
        auto *count = user::find<QLineEdit>(settings, "intervallAnzahl");
        boxes.script({QMessageBox::Ok});
        user::retype(count, "two");
        user::click(settings, "cmdOK");
        EXPECT_EQ(boxes.boxes().size(), 1);
        EXPECT_TRUE(settings->isVisible());
        user::retype(count, "2");
        // The unit's list opened with a click, the entry typed and taken with Return.
        auto *unit = user::find<QComboBox>(settings, "intervallart");
        user::clickAt(unit);
        EXPECT_TRUE(user::waitFor([unit] { return unit->view()->isVisible(); }));
        QTest::keyClicks(unit->view(), "Day");
        QTest::keyClick(unit->view(), Qt::Key_Return);
        EXPECT_EQ(unit->currentText(), "Day");
        saveScreenshot(settings, QStringLiteral("settings"));
        user::click(settings, "cmdOK");
    });
    user::doubleClickAt(viewport(), plotSpot(0.1, 0.95));
    ASSERT_TRUE(ranAndRedrawn(ran));
    const ChartPlot &plot = m_window->shownPlot();
    ASSERT_EQ(plot.series.size(), 2u) << "the logbook and the temperature";
    EXPECT_EQ(plot.series[1].range, (ChartRange{15, 35}));
    EXPECT_NEAR(plot.start.secsTo(plot.end), 2 * 86400, 60) << "the last two days up to now";
    auto *timer = user::find<QTimer>(m_window, "Timer1");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 5000);

    // The online refresh rests while the settings are open again.
    bool restedMeanwhile = false;
    ran = onShown<TarvelonTimeSelect>([&](TarvelonTimeSelect *settings) {
        restedMeanwhile = !timer->isActive();
        user::click(settings, "cmdOK");
    });
    user::doubleClickAt(viewport(), plotSpot(0.1, 0.95));
    ASSERT_TRUE(ranAndRedrawn(ran));
    EXPECT_TRUE(restedMeanwhile);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(boxes.unexpected(), 0);
}

TEST_F(ChartWindow, theContextMenuSavesThePictureAndTheValues)
{
    const struct {
        const char *entry;
        const char *file;
    } exports[] = {{"Save the chart as a picture ...", "chart.png"},
                   {"Save the values as CSV ...", "chart.csv"}};
    for (const auto &e : exports) {
        const QString path = m_dir.filePath(QLatin1String(e.file));
        auto saved = answerFileDialog(path);
        user::whenShown<QMenu>([&e](QMenu *menu) { user::chooseInMenu(menu, e.entry); });
        user::rightClickAt(viewport(), plotSpot(0.1, 0.95));
        EXPECT_TRUE(user::waitFor([&] { return *saved && QFile::exists(path); })) << e.file;
    }
    const QImage picture(m_dir.filePath("chart.png"));
    EXPECT_EQ(picture.size(), viewport()->size());
    QFile csv(m_dir.filePath("chart.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.value(0), "TARVELONID,ASID,DATUM,WERT");
    EXPECT_TRUE(lines.contains("1234,1,2026-11-20 12:00:00,25"));
    EXPECT_TRUE(lines.contains("-1,0,2026-11-20 06:00:00,100"));
    EXPECT_TRUE(lines.contains("1234,2,2026-11-20 08:31:00,6.9"));
}
