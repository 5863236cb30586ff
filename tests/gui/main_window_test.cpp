// The main window driven by its widgets against the controller emulator: start-up, adding,
// polling, removing, sorting, the deferred exit, new and refused controllers.

#include "gui_fixture.h"

#include "display/ui/tarvelon_display.h"
#include "display/ui/tarvelon_time_select.h"
#include "model/ctarvelon.h"
#include "service/link_worker.h"
#include "service/monitoring_service.h"
#include "sms/ui/vek_sms_modul_konfig.h"
#include "store/strings.h"
#include "support/smtp_server.h"
#include "support/user_input.h"
#include "ui/tarvelon_add.h"
#include "ui/tarvelon_program.h"

#include <QColor>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

namespace
{

// A yes/no or OK/cancel question with the first button as the default.
void expectQuestion(const BoxAnswerer::Box &box, const char *title, const char *text,
                    QMessageBox::StandardButtons buttons)
{
    EXPECT_EQ(box.title, title);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.buttons, buttons);
    EXPECT_EQ(box.defaultButton, buttons & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok);
}

// Firmware versions show two decimals in the locale's form.
QString version(double number)
{
    return QLocale().toString(number, 'f', 2);
}

} // namespace

class MainWindowFlow : public MainWindowTest
{
protected:
    QTimer *timer() const { return user::find<QTimer>(m_form.get(), "Timer1"); }
    QLabel *statusText() const { return user::find<QLabel>(m_form.get(), "statustext1"); }
    QProgressBar *progressBar() const
    {
        return user::find<QProgressBar>(m_form.get(), "ProgressBar1");
    }
    // The commands that act on the selected controller.
    bool controllerCommandsEnabled() const
    {
        const bool remove = action("menu_Tarvelon_entfernen")->isEnabled();
        EXPECT_EQ(action("menu_Tarvelon_programmieren")->isEnabled(), remove);
        return remove;
    }
    bool connected(int count)
    {
        return user::waitFor([&] { return m_form->tarvelonCount() == count && m_form->isIdle(); },
                             kConnectTimeoutMs);
    }
};

TEST_F(MainWindowFlow, startsEmptyInEnglishWithTheControllerCommandsDisabled)
{
    saveScreenshot(m_form.get(), QStringLiteral("main"));
    EXPECT_EQ(currentLanguage(), "ENGLISH");
    EXPECT_EQ(m_form->windowTitle(), "Ostracom version " OSTRACOM_PROJECT_VERSION);
    EXPECT_EQ(actionTexts(m_form->menuBar()), (QStringList{"File", "Edit", "Tools", "?"}));
    auto *edit = user::find<QMenu>(m_form.get(), "Menu_Bearbeiten");
    EXPECT_EQ(actionTexts(edit), (QStringList{"New Tarvelon", "Remove Tarvelon", "Program Tarvelon",
                                              "Show Tarvelon measurements"}));
    EXPECT_FALSE(action("menu_Tarvelon_messwerte_anzeigen")->isEnabled());
    EXPECT_TRUE(action("menu_smsmodul")->isEnabled()) << "usable without any controller";
    ASSERT_TRUE(chooseMenu("Tools", "SMS Modul"));
    vekSMSModulKonfig *sms = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<vekSMSModulKonfig *>(w); found && found->isVisible())
            sms = found;
    ASSERT_NE(sms, nullptr);
    EXPECT_EQ(sms->parent(), nullptr) << "without owner";
    EXPECT_TRUE(m_form->isIdle()) << "polling goes on";
    delete sms;

    EXPECT_EQ(list()->topLevelItemCount(), 0);
    QStringList headers;
    for (int c = 0; c < list()->columnCount(); ++c)
        headers << list()->headerItem()->text(c);
    EXPECT_EQ(headers,
              (QStringList{"ID", "Tarvelon version", "Sensor 1", "Sensor 2", "Sensor 3", "Sensor 4",
                           "Sensor 5", "Sensor 6", "Sensor 7", "Sensor 8", "Status"}));
    // 1000 and 1500 twips at least, and wide enough for every header.
    EXPECT_GE(list()->columnWidth(0), 67);
    EXPECT_GE(list()->columnWidth(1), 100);
    for (int c = 0; c < list()->columnCount(); ++c)
        EXPECT_GT(list()->columnWidth(c),
                  list()->header()->fontMetrics().horizontalAdvance(headers[c]))
            << headers[c].toStdString();

    EXPECT_FALSE(controllerCommandsEnabled());
    EXPECT_TRUE(action("menu_Neuer_Tarvelon")->isEnabled());
    EXPECT_EQ(m_form->mailSettings(), MailSettings{});
    ASSERT_NE(timer(), nullptr);
    EXPECT_TRUE(timer()->isActive());
    EXPECT_EQ(timer()->interval(), 1000);

    // The window stays usable when the empty list is double-clicked or its menu is asked for.
    user::doubleClickAt(list()->viewport(), QPoint(10, 10));
    EXPECT_TRUE(waitIdle(2000));
    EXPECT_EQ(m_form->findChild<TarvelonProgram *>(), nullptr);
    user::rightClickAt(list()->viewport(), QPoint(10, 10));
    EXPECT_TRUE(user::waitFor([&] { return edit->isVisible(); }, 2000));
    saveScreenshot(edit, QStringLiteral("popup"));
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(edit->isVisible());
    EXPECT_TRUE(m_form->isIdle());
}

TEST_F(MainWindowFlow, addedControllerShowsItsRowAndEachPollArchivesUpdatesAndAlarms)
{
    SimProcess &sim = startSim({"--speed", "60", "--values", valuesFile("values.txt", "1=25.0\n")});

    m_boxes->script({QMessageBox::Ok}); // the clock question
    addByDialog(simAddress(sim));
    // Busy while the worker connects: list and menus off, no ticks.
    EXPECT_FALSE(list()->isEnabled());
    EXPECT_FALSE(timer()->isActive());
    ASSERT_TRUE(connected(1));
    saveScreenshot(m_form.get(), QStringLiteral("added"));

    ASSERT_GE(m_boxes->boxes().size(), 1);
    expectQuestion(m_boxes->boxes()[0], "Action required to continue",
                   "Synchronise the Tarvelon clock with the PC ?",
                   QMessageBox::Ok | QMessageBox::Cancel);

    QStringList row = rowTexts(0);
    ASSERT_EQ(row.size(), 11);
    EXPECT_EQ(row[0], "1234");
    EXPECT_EQ(row[1], version(2.20) + "-5");
    EXPECT_TRUE(row[2].startsWith(QLocale().toString(25.0, 'f', 1))) << row[2].toStdString();
    EXPECT_TRUE(row[2].endsWith("C")) << row[2].toStdString();
    for (int sensor = 2; sensor <= 5; ++sensor)
        EXPECT_FALSE(row[sensor + 1].isEmpty()) << "sensor " << sensor;
    for (int sensor = 6; sensor <= 8; ++sensor)
        EXPECT_TRUE(row[sensor + 1].isEmpty()) << "sensor " << sensor << " is not fitted";
    EXPECT_TRUE(controllerCommandsEnabled());

    // The first tick after adding polls; each poll archives what the controller stored.
    valuesFile("values.txt", "1=26.5\n");
    ASSERT_TRUE(user::waitFor(
        [&] {
            const auto newest = m_db->newestArchived(1234, 1);
            return newest && qAbs(newest->wert - 26.5) < 1e-6 && m_form->isIdle();
        },
        25000));
    ArchiveQuery query;
    query.tarvelonId = 1234;
    query.asid = 1;
    EXPECT_GT(m_db->archiveValues(query).size(), 1u);
    query.asid = 5;
    EXPECT_GT(m_db->archiveValues(query).size(), 0u) << "every fitted sensor is archived";
    query.asid = 6;
    EXPECT_EQ(m_db->archiveValues(query).size(), 0u);

    row = rowTexts(0);
    EXPECT_TRUE(row[2].startsWith(QLocale().toString(26.5, 'f', 1))) << row[2].toStdString();
    EXPECT_EQ(row[2], m_form->tarvelon(1).Sensor(1).formatierter_wert());
    EXPECT_EQ(row[10], m_form->service().status().controllers[0].lastDownload.toString("HH:mm:ss"));
    saveScreenshot(m_form.get(), QStringLiteral("polled"));

    // The chart of the selected controller: its settings come first, online over the last
    // hour; then every fitted sensor is drawn beside the logbook, and polling goes on.
    QString online, unit;
    user::whenShown<TarvelonTimeSelect>([&](TarvelonTimeSelect *settings) {
        online = settings->findChild<QLineEdit *>("intervallAnzahl")->text();
        unit = settings->findChild<QComboBox *>("intervallart")->currentText();
        saveScreenshot(settings, QStringLiteral("chart_settings"));
        user::click(settings, "cmdOK");
    });
    ASSERT_TRUE(clickRow(0));
    ASSERT_TRUE(chooseMenu("Edit", "Show Tarvelon measurements"));
    auto *chart = m_form->findChild<TarvelonDisplay *>();
    ASSERT_NE(chart, nullptr);
    ASSERT_TRUE(user::waitFor([&] { return !chart->shownPlot().series.empty(); }, 5000));
    EXPECT_TRUE(chart->isVisible());
    EXPECT_EQ(online, "1");
    EXPECT_EQ(unit, "Hour");
    EXPECT_EQ(chart->shownPlot().series.size(), 6u) << "the logbook and five sensors";
    EXPECT_TRUE(m_form->isIdle() || m_form->service().cycleRunning()) << "polling goes on";
    saveScreenshot(chart, QStringLiteral("chart"));
    user::closeBox(chart);

    // A poll that finds the temperature above its alarm limit of 27.0 sends the alarm mail
    // (its wording is the poll service's), to settings stored as another program would: the
    // window's cycle takes them up.
    SmtpServer smtp;
    ASSERT_TRUE(smtp.start()) << smtp.error().toStdString();
    m_db->saveMailSettings(
        {smtp.address(), "alarm@example.org", "ostracom@example.org", QString(), QString(), 1});
    valuesFile("values.txt", "1=28.0\n");
    auto alarmMailed = [&] {
        const QList<ReceivedMail> mails = smtp.messages();
        return std::any_of(mails.begin(), mails.end(), [](const ReceivedMail &m) {
            return m.header("Subject").endsWith("Alarm");
        });
    };
    ASSERT_TRUE(user::waitFor([&] { return alarmMailed() && m_form->isIdle(); }, 25000));

    // The alarm shows without any box: the row turns red.
    QTreeWidgetItem *item = list()->topLevelItem(0);
    EXPECT_EQ(item->background(0).color(), QColor(255, 160, 160));
    EXPECT_TRUE(rowTexts(0)[10].startsWith("Alarm")) << rowTexts(0)[10].toStdString();
    EXPECT_FALSE(item->icon(0).isNull()) << "a mark that a selected row still shows";
    saveScreenshot(m_form.get(), QStringLiteral("alarm-row"));

    // A controller that stops answering: the service keeps its last good download and
    // reports the failed connection; the error is in the status column and the tooltip,
    // still without a box.
    const int boxes = int(m_boxes->boxes().size());
    ASSERT_TRUE(waitIdle());
    const QDateTime lastGood = m_form->service().status().controllers[0].lastDownload;
    ASSERT_TRUE(lastGood.isValid());
    sim.stop();
    auto controller = [&] { return m_form->service().status().controllers.value(0); };
    ASSERT_TRUE(user::waitFor(
        [&] {
            return controller().lastError.error.code == ErrorCode::ConnectFailed &&
                   rowTexts(0)[10].contains("Error: ");
        },
        25000))
        << rowTexts(0)[10].toStdString();
    EXPECT_FALSE(controller().connected);
    EXPECT_EQ(controller().lastDownload, lastGood) << "the last good download is kept";
    EXPECT_EQ(m_form->service().status().spoolBacklog, 0);
    EXPECT_TRUE(item->toolTip(0).contains("Error: ")) << item->toolTip(0).toStdString();
    EXPECT_EQ(int(m_boxes->boxes().size()), boxes);
    saveScreenshot(m_form.get(), QStringLiteral("download-error"));
}

// Rows sorted by a column keep their controllers' values, a double click on any row opens
// the programming dialog, and removing asks, takes the clicked row's controller and
// renumbers the rest.
TEST_F(MainWindowFlow, sortedRowsKeepTheirValuesOpenTheProgramAndRemoveTheirController)
{
    SimProcess &a =
        startSim({"--id", "2345", "--values", valuesFile("warm.txt", "1=27.0\n"), "--speed", "60"});
    SimProcess &b =
        startSim({"--id", "1234", "--values", valuesFile("cool.txt", "1=24.0\n"), "--speed", "60"});
    m_boxes->script({QMessageBox::Ok, QMessageBox::Ok});
    m_form->connectAtStart({a.tcpLink(), b.tcpLink()});
    ASSERT_TRUE(connected(2));
    ASSERT_EQ(rowTexts(0)[0], "2345");

    QHeaderView *header = list()->header();
    user::clickAt(header->viewport(), QPoint(header->sectionPosition(0) + 5, header->height() / 2));
    EXPECT_EQ(rowTexts(0)[0], "1234");
    EXPECT_EQ(rowTexts(1)[0], "2345");

    // The next poll must write each controller's values into its own row, wherever sorting
    // put it.
    const int cycles = m_form->service().status().cycles;
    ASSERT_TRUE(user::waitFor(
        [&] { return m_form->service().status().cycles > cycles && m_form->isIdle(); }, 25000));
    EXPECT_EQ(rowTexts(0)[0], "1234");
    EXPECT_EQ(rowTexts(0)[2], m_form->tarvelon(2).Sensor(1).formatierter_wert());
    EXPECT_TRUE(rowTexts(0)[2].startsWith(QLocale().toString(24.0, 'f', 1)));
    EXPECT_EQ(rowTexts(1)[0], "2345");
    EXPECT_TRUE(rowTexts(1)[2].startsWith(QLocale().toString(27.0, 'f', 1)));
    saveScreenshot(m_form.get(), QStringLiteral("sorted"));

    // A double click on any row opens the programming dialog; Back gives the window back.
    ASSERT_TRUE(clickRow(1, true));
    auto *program = m_form->findChild<TarvelonProgram *>();
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(user::click(program, "Command2"));
    ASSERT_TRUE(waitIdle());

    // No keeps the list; the pop-up menu of the list offers the same command.
    m_boxes->script({QMessageBox::No});
    ASSERT_TRUE(clickRow(0));
    const QRect row0 = list()->visualItemRect(list()->topLevelItem(0));
    user::rightClickAt(list()->viewport(), row0.center());
    ASSERT_TRUE(user::chooseInMenu(user::openMenu(), "Remove Tarvelon"));
    ASSERT_EQ(m_boxes->boxes().size(), 3);
    expectQuestion(m_boxes->boxes()[2], "Confirm removal", "Really remove the Tarvelon ?",
                   QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(m_form->tarvelonCount(), 2);
    EXPECT_EQ(list()->topLevelItemCount(), 2);
    EXPECT_TRUE(m_form->isIdle());

    // Yes removes the clicked row's controller, the first connected.
    m_boxes->script({QMessageBox::Yes});
    ASSERT_TRUE(clickRow(1));
    ASSERT_TRUE(chooseMenu("Edit", "Remove Tarvelon"));
    ASSERT_EQ(m_form->tarvelonCount(), 1);
    ASSERT_EQ(list()->topLevelItemCount(), 1);
    EXPECT_EQ(rowTexts(0)[0], "1234");
    EXPECT_EQ(m_form->tarvelon(1).aq_id(), 1234);
    saveScreenshot(m_form.get(), QStringLiteral("one_left"));

    // The remaining row now stands for position 1: removing it empties the list.
    m_boxes->script({QMessageBox::Yes});
    ASSERT_TRUE(clickRow(0));
    ASSERT_TRUE(chooseMenu("Edit", "Remove Tarvelon"));
    EXPECT_EQ(m_form->tarvelonCount(), 0);
    EXPECT_EQ(list()->topLevelItemCount(), 0);
    EXPECT_FALSE(controllerCommandsEnabled());
    EXPECT_TRUE(m_form->isIdle());
}

TEST_F(MainWindowFlow, closingAsksAtTheNextTickAndOnlyYesCloses)
{
    m_boxes->script({QMessageBox::No});
    ASSERT_TRUE(chooseMenu("File", "Exit Ostracom"));
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_EQ(statusText()->text(), "Exit of the Ostracom software requested");
    saveScreenshot(m_form.get(), QStringLiteral("exit_requested"));

    ASSERT_TRUE(user::waitFor([&] { return m_boxes->boxes().size() == 1; }, 3000));
    expectQuestion(m_boxes->boxes()[0], "Please confirm", "Really exit Ostracom ?",
                   QMessageBox::Yes | QMessageBox::No);
    ASSERT_TRUE(waitIdle(3000));
    EXPECT_TRUE(m_form->isVisible());

    // Ticks go on and no second question comes unasked.
    QTest::qWait(1500);
    EXPECT_EQ(m_boxes->boxes().size(), 1);
    EXPECT_TRUE(timer()->isActive());

    m_boxes->script({QMessageBox::Yes});
    ASSERT_TRUE(chooseMenu("File", "Exit Ostracom"));
    ASSERT_TRUE(user::waitFor([&] { return !m_form->isVisible(); }, 3000));
    EXPECT_EQ(m_boxes->boxes().size(), 2);
    EXPECT_FALSE(timer()->isActive());
}

// A download takes seconds when the answers come paced as on a serial line and in pieces.
// Exit answered during it ends the service at once, and the archive agrees with what the
// controller was told to forget.
TEST_F(MainWindowFlow, exitDuringADownloadGivesItUpAtOnceAndLosesNothing)
{
    const QString journal = m_dir.filePath(QStringLiteral("journal.txt"));
    SimProcess &sim =
        startSim({"--speed", "600", "--pace-9600", "--split", "2:1500", "--journal", journal});
    m_boxes->script({QMessageBox::Ok});
    addByDialog(simAddress(sim));
    // Adding polls at once: wait until the download is under way.
    ASSERT_TRUE(user::waitFor(
        [&] {
            return m_form->tarvelonCount() == 1 && m_form->service().cycleRunning() &&
                   progressBar()->isVisible();
        },
        kConnectTimeoutMs));
    EXPECT_FALSE(list()->isEnabled());
    saveScreenshot(m_form.get(), QStringLiteral("downloading"));

    m_boxes->script({QMessageBox::Yes});
    ASSERT_TRUE(chooseMenu("File", "Exit Ostracom"));
    ASSERT_TRUE(user::waitFor([&] { return !m_form->isVisible(); }, 3000));
    EXPECT_TRUE(m_form->service().cycleRunning()) << "the question came during the download";
    ASSERT_EQ(m_boxes->boxes().size(), 2);
    EXPECT_EQ(m_boxes->boxes()[1].text, "Really exit Ostracom ?");
    // A generous ceiling: the rest of the download alone would take several seconds.
    EXPECT_TRUE(user::waitFor(
        [&] { return !m_form->linkWorker().busy() && !m_form->service().cycleRunning(); }, 2000));

    // Every record the controller forgot is archived exactly once, and nothing twice.
    ASSERT_TRUE(sim.stop());
    for (const QString &record : readJournal(journal).forgotten) {
        QList<SimRecord> records;
        ASSERT_TRUE(decodeRecords(QStringLiteral("0001") + record, &records));
        QSqlQuery q(m_db->connection());
        q.prepare("SELECT COUNT(*) FROM HYDOARCHIVE WHERE TARVELONID=1234 AND ASID=? AND DATUM=?");
        q.addBindValue(records[0].sensor);
        q.addBindValue(records[0].when.toString("yyyy-MM-dd HH:mm:ss"));
        ASSERT_TRUE(q.exec() && q.next());
        EXPECT_EQ(q.value(0).toInt(), 1) << record.toStdString();
    }
    QSqlQuery q(m_db->connection());
    ASSERT_TRUE(q.exec("SELECT COUNT(*) - COUNT(DISTINCT ASID || ' ' || DATUM) FROM HYDOARCHIVE") &&
                q.next());
    EXPECT_EQ(q.value(0).toInt(), 0);
}

TEST_F(MainWindowFlow, newControllerIsAddedOnlyAfterItsInitialProgramming)
{
    SimProcess &sim = startSim({"--id", "0"});

    // Cancel: not added.
    m_boxes->script({QMessageBox::Ok, QMessageBox::Cancel});
    addByDialog(simAddress(sim));
    ASSERT_TRUE(user::waitFor([&] { return m_boxes->boxes().size() == 2 && m_form->isIdle(); },
                              kConnectTimeoutMs));
    expectQuestion(m_boxes->boxes()[1], "New VEK hardware detected",
                   "New Tarvelon found.\n\nAn initial programming is required before first use !",
                   QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(m_form->tarvelonCount(), 0);
    EXPECT_FALSE(controllerCommandsEnabled());
    for (const char *table : {"TARVELON", "HYDOREGELUNG"}) {
        QSqlQuery q(m_db->connection());
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(table)) && q.next());
        EXPECT_EQ(q.value(0).toInt(), 0) << table << ": Cancel leaves the database unchanged";
    }

    // OK: the whole program goes to the controller with a fresh identifier. The progress
    // bar moves meanwhile, which the UI thread could not show if it were blocked.
    m_boxes->script({QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok});
    addByDialog(simAddress(sim));
    bool sawProgress = false;
    ASSERT_TRUE(user::waitFor(
        [&] {
            if (progressBar()->isVisible() && statusText()->text().contains("current")) {
                if (!sawProgress) {
                    saveScreenshot(m_form.get(), QStringLiteral("programming"));
                    // The bar and the text sit side by side inside the status bar.
                    EXPECT_LE(progressBar()->geometry().right(), statusText()->geometry().left());
                }
                sawProgress = true;
            }
            return m_form->tarvelonCount() == 1 && m_form->isIdle();
        },
        180000));
    EXPECT_TRUE(sawProgress);
    ASSERT_EQ(m_boxes->boxes().size(), 5);
    EXPECT_EQ(m_boxes->boxes()[4].text, "Tarvelon programming successful !");
    EXPECT_EQ(m_boxes->boxes()[4].icon, QMessageBox::Information);
    const int id = rowTexts(0)[0].toInt();
    EXPECT_GT(id, 0);
    EXPECT_LT(id, 32000);
    saveScreenshot(m_form.get(), QStringLiteral("programmed"));

    // The controller kept its new identifier: connecting again asks nothing new, and adding
    // a controller that is in the list already replaces its entry.
    m_boxes->script({QMessageBox::Ok});
    addByDialog(simAddress(sim));
    ASSERT_TRUE(connected(1));
    EXPECT_EQ(m_boxes->boxes().size(), 6);
    EXPECT_EQ(list()->topLevelItemCount(), 1);
    EXPECT_EQ(rowTexts(0)[0].toInt(), id);
}

// A controller that is not taken is not added, and a warning says why: its firmware is too
// old (naming the version it needs and the one it has), or the clock question was refused.
TEST_F(MainWindowFlow, aControllerNotTakenIsNotAddedAndAWarningSaysWhy)
{
    const struct {
        QStringList arguments;
        std::initializer_list<QMessageBox::StandardButton> answers;
        QStringList said; // the start of the last box's text, then parts of it
    } cases[] = {
        {{"--version", "2.19R23"},
         {QMessageBox::Ok},
         {"Firmware update required !\n", version(2.19) + " R24", version(2.19) + " R23"}},
        {{},
         {QMessageBox::Cancel, QMessageBox::Ok},
         {"Time synchronisation of Tarvelon and "
          "Ostracom was refused !"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.said[0].toStdString());
        SimProcess &sim = startSim(c.arguments);
        const qsizetype boxes = m_boxes->boxes().size();
        m_boxes->script(c.answers);
        addByDialog(simAddress(sim));
        ASSERT_TRUE(user::waitFor(
            [&] {
                return m_boxes->boxes().size() == boxes + qsizetype(c.answers.size()) &&
                       m_form->isIdle();
            },
            kConnectTimeoutMs));
        const auto &refusal = m_boxes->boxes().last();
        EXPECT_EQ(refusal.title, "");
        EXPECT_EQ(refusal.icon, QMessageBox::Warning);
        EXPECT_TRUE(refusal.text.startsWith(c.said[0])) << refusal.text.toStdString();
        for (const QString &part : c.said)
            EXPECT_TRUE(refusal.text.contains(part)) << part.toStdString();
        EXPECT_EQ(m_form->tarvelonCount(), 0);
        EXPECT_FALSE(controllerCommandsEnabled());
    }
}

// Escape, Cancel or the close box: nothing is connected and the window takes input again.
TEST_F(MainWindowFlow, addDialogClosedOrCancelledBringsTheWindowBack)
{
    for (const QString way : {"Escape", "Command1", "close box"}) {
        SCOPED_TRACE(way.toStdString());
        ASSERT_TRUE(chooseMenu("Edit", "New Tarvelon"));
        auto *dialog = m_form->findChild<TarvelonAdd *>();
        ASSERT_NE(dialog, nullptr);
        EXPECT_FALSE(list()->isEnabled());
        EXPECT_FALSE(timer()->isActive());
        EXPECT_EQ(statusText()->text(), "Add Tarvelon");
        saveScreenshot(m_form.get(), QStringLiteral("adding"));
        if (way == "Escape")
            QTest::keyClick(dialog, Qt::Key_Escape);
        else if (way == "close box")
            user::closeBox(dialog);
        else
            ASSERT_TRUE(user::click(dialog, way));
        EXPECT_TRUE(m_form->isIdle());
        EXPECT_TRUE(
            user::waitFor([&] { return m_form->findChild<TarvelonAdd *>() == nullptr; }, 2000));
    }
    EXPECT_EQ(m_form->tarvelonCount(), 0);
}
