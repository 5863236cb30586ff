// The programming dialog driven by mouse and keys against the controller emulator: which
// fields each kind of regulation shows, edits that survive every change of panel and reach
// the controller, the socket dialog, an alarm time that is no time, and the dialog's size.

#include "gui_fixture.h"

#include "model/ctarvelon.h"
#include "model/field_access.h"
#include "support/user_input.h"
#include "ui/tarvelon_program.h"
#include "ui/tarvelon_program_dose.h"
#include "widgets/masked_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <map>

namespace
{

// Every controller, regulation and socket field by name, as text.
std::map<QString, QString> fieldsOf(cTarvelon &c)
{
    std::map<QString, QString> fields;
    // A regulation's field names stand for each sensor and regulation; the others for one.
    for (const QString &name : controllerFieldNames())
        for (int s = 1; s <= 8; ++s)
            for (int r = 1; r <= 4; ++r) {
                const QString n = QString(name).replace(QLatin1String("(S,R)"),
                                                        QStringLiteral("(%1,%2)").arg(s).arg(r));
                fields[n] = controllerFieldText(c, n).value_or(QStringLiteral("?"));
            }
    for (int d = 1; d <= 16; ++d) {
        cHydoAktor &a = c.Aktor(d);
        fields[QStringLiteral("Aktor(%1)").arg(d)] = QStringLiteral("%1 %2 %3 %4")
                                                         .arg(a.DosenType())
                                                         .arg(a.ConnectedTo())
                                                         .arg(a.ValueOn())
                                                         .arg(a.ValueOff());
    }
    return fields;
}

QStringList changedFields(const std::map<QString, QString> &before,
                          const std::map<QString, QString> &after)
{
    QStringList changed;
    for (const auto &[name, text] : after)
        if (before.at(name) != text)
            changed << name;
    return changed;
}

// The program image without what the controller's clock moves on its own: time and date
// (bytes 1 to 8), the day of the week (68) and the next storage time (75 to 78).
QString withoutClock(QString image)
{
    for (const auto &[first, last] : {std::pair{1, 8}, {68, 68}, {75, 78}})
        image.replace(2 * first, 2 * (last - first + 1), QString(2 * (last - first + 1), '-'));
    return image;
}

// Clicks into a box, selects its text with the keyboard and types over it.
void enter(QWidget *in, const QString &box, const QString &keys)
{
    auto *edit = user::find<QLineEdit>(in, box);
    // A click into a window that a closed message box left inactive activates it first.
    ASSERT_TRUE(user::activate(edit->window()));
    ASSERT_TRUE(user::retype(edit, keys));
}

// Types into a box and leaves it with the Tab key.
void enterAndLeave(QWidget *in, const QString &box, const QString &keys)
{
    enter(in, box, keys);
    auto *edit = user::find<QWidget>(in, box);
    EXPECT_TRUE(edit->hasFocus()) << "typed into a box without the focus";
    QTest::keyClick(edit, Qt::Key_Tab);
    QTest::qWait(20);
}

} // namespace

class ProgrammingDialog : public MainWindowTest
{
protected:
    // Each test starts with the controller connected. Sensors: 1 temperature, 2 pH, 3 redox,
    // 4 none, 5 oxygen, 6 level, 7 temperature, 8 none.
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(MainWindowTest::SetUp());
        SimProcess &sim = startSim({"--state", m_dir.filePath("sim.json"), "--sensor", "4=0",
                                    "--sensor", "6=7", "--sensor", "7=2"});
        m_boxes->script({QMessageBox::Ok}); // the clock question
        addByDialog(simAddress(sim));
        ASSERT_TRUE(user::waitFor([&] { return m_form->tarvelonCount() == 1 && m_form->isIdle(); },
                                  kConnectTimeoutMs));
    }

    // Opens the dialog by a double click on the controller's row.
    TarvelonProgram *open()
    {
        EXPECT_TRUE(user::clickIndex(list(), list()->model()->index(0, 0), true));
        TarvelonProgram *dialog = nullptr;
        user::waitFor(
            [&] {
                for (auto *d : m_form->findChildren<TarvelonProgram *>())
                    if (d->isVisible())
                        dialog = d; // one that closed may not be deleted yet
                return dialog != nullptr;
            },
            2000);
        EXPECT_TRUE(!dialog || user::activate(dialog));
        return dialog;
    }

    bool closed()
    {
        return user::waitFor([&] { return m_form->findChild<TarvelonProgram *>() == nullptr; },
                             2000);
    }
    // Back: closes the dialog without sending anything.
    void back(TarvelonProgram *dialog)
    {
        ASSERT_TRUE(user::click(dialog, "Command2"));
        EXPECT_TRUE(closed());
    }
    void showPage(TarvelonProgram *dialog, const QString &caption)
    {
        ASSERT_TRUE(user::clickTab(user::find<QTabWidget>(dialog, "TabHauptmenu"), caption));
    }

    QTabBar *kinds(TarvelonProgram *dialog) { return user::find<QTabBar>(dialog, "TabStrip1"); }
    QString kindShown(TarvelonProgram *dialog)
    {
        return kinds(dialog)->tabText(kinds(dialog)->currentIndex());
    }
    void chooseKind(TarvelonProgram *dialog, const QString &caption)
    {
        ASSERT_TRUE(user::clickTab(kinds(dialog), caption));
        ASSERT_EQ(kindShown(dialog), caption);
    }

    // The visible value fields of a regulation panel, by box name.
    QStringList visibleFields(QWidget *panel)
    {
        QStringList shown;
        for (const char *name :
             {"Frame_Vorgang", "Text_Beschreibung", "Text_SoTag", "Text_SoNacht", "Text_WiTag",
              "Text_WiNacht", "Text_ObAlarm", "Text_UtAlarm", "Text_ObWarnung", "Text_UtWarnung",
              "text_Alarmzeit", "Text_Dose", "Text_DosenEin", "Text_DosenAus"})
            if (QWidget *w = panel->findChild<QWidget *>(QLatin1String(name));
                w && w->isVisibleTo(panel))
                shown << QLatin1String(name);
        return shown;
    }

    QString stateProgram()
    {
        QFile f(m_dir.filePath("sim.json"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object().value("program").toString();
    }
};

TEST_F(ProgrammingDialog, eachKindOffersItsSensorsAndEachRegulationTheFieldsItUses)
{
    TarvelonProgram *dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(list()->isEnabled()) << "the window rests while the dialog is open";
    EXPECT_FALSE(user::find<QPushButton>(dialog, "Command1")->isEnabled()) << "nothing changed";
    // As it opens it fits a 1280 x 720 screen with its buttons in sight.
    saveScreenshot(dialog, QStringLiteral("as_opened"));
    EXPECT_LE(dialog->frameGeometry().width(), 1280);
    EXPECT_LE(dialog->frameGeometry().height(), 720);
    for (const char *button : {"Command1", "Command2"}) {
        auto *b = user::find<QWidget>(dialog, button);
        EXPECT_TRUE(dialog->rect().contains(QRect(b->mapTo(dialog, QPoint()), b->size())))
            << button;
    }

    auto *panel = user::find<QWidget>(dialog, "WerteRegelungCtl1");
    const QStringList always{"Frame_Vorgang", "Text_Beschreibung"};
    struct Case {
        const char *tab;
        int selected;       // sensor chosen by the selector, 0 for none
        QList<int> offered; // sensors that can be picked
        QStringList shown;  // fields of regulation 1 beside direction and description
    };
    // Winter set points only for a temperature, the dimmer's values only for oxygen.
    const QStringList summer{"Text_SoTag", "Text_SoNacht"}, winter{"Text_WiTag", "Text_WiNacht"};
    const QStringList limitsAndSocket{"Text_ObAlarm", "Text_UtAlarm", "Text_ObWarnung",
                                      "Text_UtWarnung", "Text_Dose"};
    const Case cases[] = {
        {"Temperature", 1, {1, 7}, summer + winter + limitsAndSocket},
        // A level has only its alarm time and its socket.
        {"PE", 6, {6}, {"text_Alarmzeit", "Text_Dose"}},
        {"O²", 5, {5}, summer + limitsAndSocket + QStringList{"Text_DosenEin", "Text_DosenAus"}},
        {"Conductivity", 0, {}, {}},
        {"pH", 2, {2}, summer + limitsAndSocket},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tab);
        chooseKind(dialog, c.tab);
        for (int n = 1; n <= 8; ++n) {
            auto *option = user::find<QRadioButton>(dialog, QStringLiteral("Opt_Sensor%1").arg(n));
            EXPECT_EQ(option->isEnabled(), c.offered.contains(n)) << "sensor " << n;
            EXPECT_EQ(option->isChecked(), n == c.selected) << "sensor " << n;
        }
        EXPECT_EQ(visibleFields(panel), c.selected ? always + c.shown : QStringList{});
        saveScreenshot(dialog, QStringLiteral("regulation_%1").arg(c.selected));
    }
    EXPECT_EQ(user::find<QLabel>(dialog, "Label_Sensor7")->text(), "7-Temperature");
    EXPECT_EQ(user::find<QLabel>(dialog, "Label_Sensor8")->text(), "8-No sensor");

    // Picking the other temperature sensor by its option shows its regulations.
    chooseKind(dialog, "Temperature");
    ASSERT_TRUE(user::click(dialog, "Opt_Sensor7"));
    EXPECT_EQ(user::find<QLineEdit>(panel, "Text_Beschreibung")->text(),
              m_form->tarvelon(1).Regelung(7, 1).beschreibung());

    for (const char *page : {"Measurement settings", "System"}) {
        showPage(dialog, page);
        saveScreenshot(dialog, QLatin1String(page));
    }
    // Back sends nothing and gives the window back.
    back(dialog);
    EXPECT_TRUE(waitIdle());
    EXPECT_TRUE(list()->isEnabled());
}

// A value typed and not yet left, then a change of panel, of sensor, or the dialog's end:
// the value is in the image, and the transfer takes it to the controller.
TEST_F(ProgrammingDialog, aValueTypedBeforeATabSwitchReachesTheControllerOnTransfer)
{
    cTarvelon &controller = m_form->tarvelon(1);
    TarvelonProgram *dialog = open();
    ASSERT_NE(dialog, nullptr);
    struct Case {
        const char *kind;
        const char *panel;
        const char *box;
        const char *keys;
        const char *shown;
        const char *away, *back; // a tab or a widget clicked next, and the way back
        const char *field;
        QString stored;
    };
    const Case cases[] = {
        {"pH", "WerteRegelungCtl1", "Text_SoTag", "8.3", "08.30", "Redox", "pH",
         "Regelung(2,1).RW_SommerTag", "8.3"},
        {"Temperature", "WerteRegelungCtl1", "Text_SoTag", "26.5", "26.5", "Label_Sensor7",
         "Label_Sensor1", "Regelung(1,1).RW_SommerTag", "26.5"},
        {"Temperature", "WerteRegelungCtl2", "Text_Beschreibung", "Heater 2", "Heater 2", "pH",
         "Temperature", "Regelung(1,2).beschreibung", "Heater 2"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.box);
        chooseKind(dialog, c.kind);
        auto *panel = user::find<QWidget>(dialog, c.panel);
        auto *box = user::find<QLineEdit>(panel, c.box);
        enter(panel, c.box, c.keys);
        ASSERT_TRUE(box->hasFocus()) << "the box is still being edited";
        for (const char *name : {c.away, c.back})
            if (auto *widget = dialog->findChild<QWidget *>(QLatin1String(name)))
                user::click(widget);
            else
                user::clickTab(kinds(dialog), name);
        EXPECT_TRUE(box->text().startsWith(QLatin1String(c.shown))) << box->text().toStdString();
        EXPECT_EQ(controllerFieldText(controller, c.field).value_or(QString()), c.stored);
    }
    // One more typed and never left; the transfer button ends the editing.
    chooseKind(dialog, "pH");
    auto *panel = user::find<QWidget>(dialog, "WerteRegelungCtl1");
    enter(panel, "Text_ObAlarm", "9.1");
    saveScreenshot(dialog, QStringLiteral("edited"));
    m_boxes->script({QMessageBox::Yes, QMessageBox::Ok}); // start? - done
    ASSERT_TRUE(user::click(dialog, "Command1"));
    // The whole program goes out paced as the controller needs it: about a minute.
    ASSERT_TRUE(
        user::waitFor([&] { return m_form->isIdle() && m_boxes->unusedAnswers() == 0; }, 150000));
    EXPECT_EQ(m_boxes->boxes().last().text, "Tarvelon programming successful !");

    // The emulator holds the program the PC holds, with every typed value; the description
    // is the PC's own.
    EXPECT_EQ(withoutClock(stateProgram()), withoutClock(controller.HydoProgramString()));
    for (const auto &[field, stored] : {std::pair{cases[0].field, cases[0].stored},
                                        {cases[1].field, cases[1].stored},
                                        {"Regelung(2,1).RW_ObererAlarm", QStringLiteral("9.1")}})
        EXPECT_EQ(controllerFieldText(controller, field).value_or(QString()), stored) << field;
    const auto row = m_db->regulationRow(1234, 1, 2);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->beschreibung, "Heater 2");

    // What was written is what later edits are measured against.
    EXPECT_FALSE(controller.programming_is_dirty());
    dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(user::find<QPushButton>(dialog, "Command1")->isEnabled());
    back(dialog);
}

TEST_F(ProgrammingDialog, editsByMouseAndKeysGoIntoTheImageAndBackSendsNothing)
{
    cTarvelon &controller = m_form->tarvelon(1);
    const auto before = fieldsOf(controller);
    const QString asRead = stateProgram();
    TarvelonProgram *dialog = open();
    ASSERT_NE(dialog, nullptr);
    auto *transfer = user::find<QPushButton>(dialog, "Command1");
    auto *panel = user::find<QWidget>(dialog, "WerteRegelungCtl1");

    // "," and "." both type the separator; a blank among the integer places is no digit.
    chooseKind(dialog, "pH");
    enterAndLeave(panel, "Text_SoTag", "8,1");
    EXPECT_EQ(user::find<QLineEdit>(panel, "Text_SoTag")->text(), "08.10");
    enterAndLeave(panel, "Text_ObWarnung", "8.35");
    EXPECT_TRUE(transfer->isEnabled()) << "the set point changed the image";

    // A dimmable socket's values are limited to 100.
    chooseKind(dialog, "O²");
    enterAndLeave(panel, "Text_DosenAus", "250");
    EXPECT_EQ(user::find<QLineEdit>(panel, "Text_DosenAus")->text(), "100");

    // The fan moves from socket 2 to socket 4.
    chooseKind(dialog, "Temperature");
    auto *fan = user::find<QWidget>(dialog, "WerteRegelungCtl2");
    bool answered = false;
    user::whenShown<TarvelonProgramDose>([&](TarvelonProgramDose *sockets) {
        answered = true;
        saveScreenshot(sockets, QStringLiteral("sockets"));
        auto *list = user::find<QTreeWidget>(sockets, "ListView1");
        EXPECT_EQ(list->topLevelItemCount(), 8) << "the fitted sockets";
        for (int r = 0; r < list->topLevelItemCount(); ++r)
            if (list->topLevelItem(r)->text(0) == "4")
                user::clickIndex(list, list->model()->index(r, 0));
        user::click(sockets, "Command1");
    });
    ASSERT_TRUE(user::click(fan, "Cmd_Dose"));
    EXPECT_TRUE(answered);
    EXPECT_EQ(user::find<QLineEdit>(fan, "Text_Dose")->text(), "4");
    EXPECT_EQ(kindShown(dialog), "Temperature") << "shown anew where it was";

    // A display unit, an interval, a compression value, the programming level.
    showPage(dialog, "Measurement settings");
    ASSERT_TRUE(user::click(dialog, "Opt_Anzeige_Temperatur_Fahrenheit"));
    ASSERT_TRUE(user::click(dialog, "Opt_Anzeige_InternesDisplay_3Sekunden"));
    enterAndLeave(dialog, "edit_hd_ph", "0,25");
    EXPECT_FLOAT_EQ(controller.aq_hd_ph(), 0.25f);
    saveScreenshot(dialog, QStringLiteral("changed"));
    showPage(dialog, "System");
    ASSERT_TRUE(user::click(dialog, "OPT_Programmierstufe_Normal"));
    EXPECT_EQ(controller.aq_ProgStufe(), 0);
    back(dialog);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(
        changedFields(before, fieldsOf(controller)),
        (QStringList{"Aktor(2)", "Aktor(4)", "Aktor(6)", "Regelung(1,2).DosenNr",
                     "Regelung(2,1).RW_SommerTag", "Regelung(2,1).SW_ObereWarnung",
                     "aq_AnzeigeIntervallInt", "aq_ProgStufe", "aq_anzTemperatur", "aq_hd_ph"}));
    const auto after = fieldsOf(controller);
    EXPECT_EQ(after.at("Aktor(2)"), "1 0 100 0") << "the old socket is free";
    EXPECT_EQ(after.at("Aktor(4)"), "1 2 100 0") << "the new one serves a temperature";
    EXPECT_EQ(after.at("Aktor(6)"), "2 6 100 100");
    EXPECT_EQ(after.at("aq_AnzeigeIntervallInt"), "2");
    EXPECT_EQ(after.at("aq_anzTemperatur"), "1");
    EXPECT_TRUE(controller.programming_is_dirty()) << "kept in the object";
    EXPECT_EQ(withoutClock(stateProgram()), withoutClock(asRead)) << "nothing was sent";
    const auto row = m_db->regulationRow(1234, 2, 1);
    ASSERT_TRUE(row.has_value());
    EXPECT_NEAR(row->upperWarning, 8.35, 1e-5) << "the warning limit is kept on the PC";
}

// An alarm time that is no time is named when the user wants to go on, whichever way; he
// corrects it or undoes the dialog's changes.
TEST_F(ProgrammingDialog, anAlarmTimeThatIsNoTimeIsNamedAndCanBeCorrectedOrDiscarded)
{
    cTarvelon &controller = m_form->tarvelon(1);
    struct Case {
        const char *leave; // what the user does after typing the time
        QMessageBox::StandardButton answer;
        bool closes;
    };
    const Case cases[] = {
        {"tab", QMessageBox::Ok, false},
        {"Command2", QMessageBox::Ok, false},
        {"close box", QMessageBox::Discard, true},
        {"Command1", QMessageBox::Discard, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.leave);
        const QString imageBefore = controller.HydoProgramString();
        const bool dirtyBefore = controller.programming_is_dirty();
        TarvelonProgram *dialog = open();
        ASSERT_NE(dialog, nullptr);
        chooseKind(dialog, "pH");
        auto *panel = user::find<QWidget>(dialog, "WerteRegelungCtl1");
        enterAndLeave(panel, "Text_SoNacht", "6.5"); // undone by a discard
        chooseKind(dialog, "PE");
        auto *alarmTime = user::find<MaskedEdit>(panel, "text_Alarmzeit");
        enter(panel, "text_Alarmzeit", "259900");
        const int boxes = int(m_boxes->boxes().size());
        m_boxes->script({c.answer});
        // A transfer goes on once the changes are undone; the older edit is not sent.
        if (QLatin1String(c.leave) == QLatin1String("Command1"))
            m_boxes->script({QMessageBox::No});
        if (QLatin1String(c.leave) == QLatin1String("tab"))
            user::clickTab(kinds(dialog), "pH");
        else if (QLatin1String(c.leave) == QLatin1String("close box"))
            user::closeBox(dialog);
        else
            user::click(dialog, c.leave);
        ASSERT_TRUE(user::waitFor([&] { return m_boxes->boxes().size() > boxes; }, 2000))
            << "nothing says why the dialog stays";
        const QString said = m_boxes->boxes().at(boxes).text;
        EXPECT_TRUE(said.contains("The alarm time is not a valid time of day: 25:99:00"))
            << said.toStdString();
        EXPECT_TRUE(said.contains("6-PE, Regulation 1")) << said.toStdString();
        EXPECT_EQ(closed(), c.closes);
        if (!c.closes) {
            EXPECT_EQ(kindShown(dialog), "PE") << "the time stays shown";
            EXPECT_TRUE(user::waitFor([&] { return dialog->focusWidget() == alarmTime; }, 1000));
            saveScreenshot(dialog, QStringLiteral("alarm_time_%1").arg(c.leave));
            enter(panel, "text_Alarmzeit", "013000");
            back(dialog);
            EXPECT_EQ(controller.Regelung(6, 1).PegelAlarmzeit(), QTime(1, 30));
            EXPECT_NEAR(controller.Regelung(2, 1).RW_SommerNacht(), 6.5, 1e-6);
        } else {
            EXPECT_EQ(controller.HydoProgramString(), imageBefore) << "as the dialog found it";
            EXPECT_EQ(controller.programming_is_dirty(), dirtyBefore);
        }
        ASSERT_TRUE(waitIdle());
    }
    EXPECT_EQ(m_boxes->unusedAnswers(), 0);
}

TEST_F(ProgrammingDialog, closeBoxKeepsTheEditsUnsentAndAnsweringNoWritesNothing)
{
    cTarvelon &controller = m_form->tarvelon(1);
    const QString asRead = controller.programAsRead();
    // A regulation in alarm state says so when it is shown (pH is the first kind).
    controller.Regelung(2, 3).set_Regelart(3);
    m_boxes->script({QMessageBox::Ok});
    TarvelonProgram *dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(m_boxes->withText("alarm state").size(), 1);
    // An air pressure compression beyond what the controller's word holds is refused.
    showPage(dialog, "Measurement settings");
    m_boxes->script({QMessageBox::Ok});
    enterAndLeave(dialog, "edit_hd_press", "9999");
    EXPECT_TRUE(user::waitFor([&] { return m_boxes->withText("too large").size() == 1; }, 2000));
    enterAndLeave(dialog, "edit_hd_press", "20");
    EXPECT_EQ(controller.aq_hd_press(), 20);
    // The hold time of the pH regulation is the PC's own, stored however the dialog ends.
    showPage(dialog, "Regulation");
    auto *panel = user::find<QWidget>(dialog, "WerteRegelungCtl1");
    auto *hold = user::find<QSpinBox>(panel, "Text_Haltezeit");
    ASSERT_TRUE(user::retype(hold->findChild<QLineEdit *>(), "45"));
    QTest::keyClick(hold, Qt::Key_Tab);
    saveScreenshot(dialog, QStringLiteral("alarm_quality"));
    user::closeBox(dialog);
    EXPECT_TRUE(closed());
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(m_db->alarmQuality(1234, 2, 1), (AlarmQuality{0, 45, 0}));
    EXPECT_TRUE(controller.programming_is_dirty()) << "kept in the object";
    EXPECT_TRUE(action("menu_Tarvelon_programmieren")->isEnabled());

    m_boxes->script({QMessageBox::Ok}); // the alarm state, once each time it is shown
    dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(m_boxes->withText("alarm state").size(), 2);
    m_boxes->script({QMessageBox::No});
    ASSERT_TRUE(user::click(dialog, "Command1"));
    ASSERT_TRUE(waitIdle());
    ASSERT_FALSE(m_boxes->boxes().isEmpty());
    EXPECT_EQ(m_boxes->boxes().last().text, "Start programming the Tarvelon ?");
    EXPECT_EQ(withoutClock(stateProgram()), withoutClock(asRead)) << "nothing was written";
    EXPECT_TRUE(controller.programming_is_dirty()) << "the refused program stays to be written";
}

TEST(MaskedEntry, typingPastingAndSeparatorsGiveTheValueMeant)
{
    ensureGuiApplication();
    const QLocale locale;
    struct Case {
        const char *locale;
        const char *mask;
        const char *format;
        const char *action; // "type" or "paste"
        QString input;
        QString shown; // after leaving the box
        double number; // the value stored, -1 when nothing is
    };
    const Case cases[] = {
        // Both separators typed in English are covered by the programming dialog's tests.
        {"de_DE", "##,##", "00.00", "type", "7.2", "07,20", 7.2},
        {"de_DE", "##,#", "00.0", "paste", "25.46", "25,5", 25.5},
        {"en_GB", "##,#", "00.0", "paste", "25,5 °C", "25.5", 25.5},
        {"en_GB", "###", "000", "type", "5", "005", 5},
        {"en_GB", "###", "000", "paste", "1500", "000", -1}, // too long: refused, box unchanged
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2 %3").arg(c.locale, c.action, c.input).toStdString());
        QLocale::setDefault(QLocale(QLatin1String(c.locale)));
        QWidget window;
        auto *box = new MaskedEdit(&window);
        box->setObjectName("box");
        auto *other = new QLineEdit(&window);
        other->move(0, 40);
        box->setMaskAndFormat(c.mask, c.format, 450);
        box->showNumber(0);
        double stored = -1;
        QObject::connect(box, &MaskedEdit::validating, [&](bool *) {
            stored = box->number();
            box->showNumber(stored);
        });
        window.show();
        ASSERT_TRUE(user::activate(&window));
        if (QLatin1String(c.action) == QLatin1String("type")) {
            enterAndLeave(&window, "box", c.input);
        } else {
            ASSERT_TRUE(user::click(box));
            QApplication::clipboard()->setText(c.input);
            QTest::keySequence(box, QKeySequence::Paste);
            QTest::keyClick(box, Qt::Key_Tab);
        }
        EXPECT_FALSE(box->hasFocus());
        EXPECT_EQ(box->text(), c.shown);
        EXPECT_NEAR(stored, c.number, 1e-9);
    }
    QLocale::setDefault(locale);
}
