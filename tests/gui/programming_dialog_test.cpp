// The programming dialog driven by its widgets against the controller emulator: which
// fields each kind of regulation shows, the sensor selector, masked entry, the socket
// dialog, and a transfer that writes exactly what was changed.

#include "gui_fixture.h"

#include "model/ctarvelon.h"
#include "ui/masked_edit.h"
#include "ui/tarvelon_program.h"
#include "ui/tarvelon_program_dose.h"

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
    for (const QString &name : cTarvelon::fieldNames()) {
        if (!name.startsWith(QLatin1String("Regelung(S,R)."))) {
            fields[name] = c.fieldText(name).value_or(QStringLiteral("?"));
            continue;
        }
        for (int s = 1; s <= 8; ++s)
            for (int r = 1; r <= 4; ++r) {
                QString n = name;
                n.replace(QLatin1String("(S,R)"), QStringLiteral("(%1,%2)").arg(s).arg(r));
                fields[n] = c.fieldText(n).value_or(QStringLiteral("?"));
            }
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

} // namespace

class ProgrammingDialog : public MainWindowTest
{
protected:
    // Sensors: 1 temperature, 2 pH, 3 redox, 4 none, 5 oxygen, 6 level, 7 temperature,
    // 8 none.
    void connectSim()
    {
        SimProcess &sim = startSim({"--state", m_dir.filePath("sim.json"), "--sensor", "4=0",
                                    "--sensor", "6=7", "--sensor", "7=2"});
        m_boxes->script({QMessageBox::Ok}); // the clock question
        addByDialog(simAddress(sim));
        ASSERT_TRUE(waitUntil([&] { return m_form->tarvelonCount() == 1 && m_form->isIdle(); },
                              kConnectTimeoutMs));
    }

    TarvelonProgram *open()
    {
        QTreeWidgetItem *row = list()->topLevelItem(0);
        emit list()->itemDoubleClicked(row, 0);
        TarvelonProgram *dialog = nullptr;
        for (auto *d : m_form->findChildren<TarvelonProgram *>())
            if (d->isVisible())
                dialog = d; // one that closed may not be deleted yet
        if (dialog) {
            dialog->activateWindow();
            QApplication::setActiveWindow(dialog);
            QTest::qWait(20);
        }
        return dialog;
    }

    template <class W> W *find(QWidget *in, const QString &name)
    {
        W *w = in->findChild<W *>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }

    void chooseKind(TarvelonProgram *dialog, const QString &caption)
    {
        auto *tabs = find<QTabBar>(dialog, "TabStrip1");
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == caption)
                tabs->setCurrentIndex(i);
        ASSERT_EQ(tabs->tabText(tabs->currentIndex()), caption);
    }

    // Types `keys` into a box as a user would, then moves the focus on.
    void type(QWidget *panel, const QString &box, const QString &keys, QWidget *next)
    {
        auto *edit = find<MaskedEdit>(panel, box);
        // A modal dialog that closed may have left no window active.
        QApplication::setActiveWindow(edit->window());
        edit->setFocus(Qt::MouseFocusReason);
        QTest::qWait(10); // the whole text gets selected
        QTest::keyClicks(edit, keys);
        next->setFocus(Qt::TabFocusReason);
        QTest::qWait(10);
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
    connectSim();
    TarvelonProgram *dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(list()->isEnabled()) << "the window rests while the dialog is open";
    EXPECT_FALSE(find<QPushButton>(dialog, "Command1")->isEnabled()) << "nothing changed yet";
    auto *panel = find<QWidget>(dialog, "WerteRegelungCtl1");
    const QStringList always{"Frame_Vorgang", "Text_Beschreibung"};
    struct Case {
        const char *tab;
        int selected;       // sensor chosen by the selector, 0 for none
        QList<int> offered; // sensors that can be picked
        QStringList shown;  // fields of regulation 1 beside direction and description
    };
    const Case cases[] = {
        {"pH",
         2,
         {2},
         {"Text_SoTag", "Text_SoNacht", "Text_ObAlarm", "Text_UtAlarm", "Text_ObWarnung",
          "Text_UtWarnung", "Text_Dose"}},
        {"Temperatur",
         1,
         {1, 7},
         {"Text_SoTag", "Text_SoNacht", "Text_WiTag", "Text_WiNacht", "Text_ObAlarm",
          "Text_UtAlarm", "Text_ObWarnung", "Text_UtWarnung", "Text_Dose"}},
        // A level only has its alarm time; oxygen drives a dimmable socket.
        {"PE", 6, {6}, {"text_Alarmzeit", "Text_Dose"}},
        {"O²",
         5,
         {5},
         {"Text_SoTag", "Text_SoNacht", "Text_ObAlarm", "Text_UtAlarm", "Text_ObWarnung",
          "Text_UtWarnung", "Text_Dose", "Text_DosenEin", "Text_DosenAus"}},
        {"Leitwert", 0, {}, {}},
    };
    const QMap<QString, QString> captions{{"pH", "pH"},
                                          {"Temperatur", "Temperature"},
                                          {"PE", "PE"},
                                          {"O²", "O²"},
                                          {"Leitwert", "Conductivity"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tab);
        chooseKind(dialog, captions[c.tab]);
        for (int n = 1; n <= 8; ++n) {
            auto *option = find<QRadioButton>(dialog, QStringLiteral("Opt_Sensor%1").arg(n));
            EXPECT_EQ(option->isEnabled(), c.offered.contains(n)) << "sensor " << n;
            EXPECT_EQ(option->isChecked(), n == c.selected) << "sensor " << n;
        }
        EXPECT_EQ(visibleFields(panel), c.selected ? always + c.shown : QStringList{});
        saveScreenshot(dialog, QStringLiteral("regulation_%1").arg(c.selected));
    }
    EXPECT_EQ(find<QLabel>(dialog, "Label_Sensor7")->text(), "7-Temperature");
    EXPECT_EQ(find<QLabel>(dialog, "Label_Sensor8")->text(), "8-No sensor");

    // Picking the other temperature sensor shows its regulations.
    chooseKind(dialog, "Temperature");
    find<QRadioButton>(dialog, "Opt_Sensor7")->click();
    auto *description = find<QLineEdit>(panel, "Text_Beschreibung");
    EXPECT_EQ(description->text(), m_form->tarvelon(1).Regelung(7, 1).beschreibung());

    auto *pages = find<QTabWidget>(dialog, "TabHauptmenu");
    for (int page = 1; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        saveScreenshot(dialog, QStringLiteral("page%1").arg(page));
    }
    // Back sends nothing and gives the window back.
    find<QPushButton>(dialog, "Command2")->click();
    EXPECT_TRUE(waitIdle());
    EXPECT_TRUE(waitUntil([&] { return m_form->findChild<TarvelonProgram *>() == nullptr; }, 2000));
}

TEST_F(ProgrammingDialog, editsGoIntoTheImageAndTheTransferWritesExactlyThem)
{
    connectSim();
    cTarvelon &controller = m_form->tarvelon(1);
    const auto before = fieldsOf(controller);
    TarvelonProgram *dialog = open();
    ASSERT_NE(dialog, nullptr);
    auto *transfer = find<QPushButton>(dialog, "Command1");
    auto *panel = find<QWidget>(dialog, "WerteRegelungCtl1");
    auto *description = find<QLineEdit>(panel, "Text_Beschreibung");

    // A set point and a warning limit of the pH regulation; "," and "." both type the
    // separator, and a blank left among the integer places is no digit.
    chooseKind(dialog, "pH");
    type(panel, "Text_SoTag", "8,1", description);
    EXPECT_EQ(find<MaskedEdit>(panel, "Text_SoTag")->text(), "08.10");
    type(panel, "Text_ObWarnung", "8.35", description);
    EXPECT_TRUE(transfer->isEnabled()) << "the set point changed the image";

    // A dimmable socket's values are limited to 100.
    chooseKind(dialog, "O²");
    type(panel, "Text_DosenAus", "250", description);
    EXPECT_EQ(find<MaskedEdit>(panel, "Text_DosenAus")->text(), "100");

    // An alarm time that is no time keeps the focus until it is corrected.
    chooseKind(dialog, "PE");
    auto *alarmTime = find<MaskedEdit>(panel, "text_Alarmzeit");
    type(panel, "text_Alarmzeit", "259900", description);
    QTest::qWait(20);
    EXPECT_TRUE(alarmTime->hasFocus());
    EXPECT_EQ(alarmTime->selectedText(), "25:99:00");
    transfer->click();
    EXPECT_TRUE(dialog->isVisible()) << "refused while the box is wrong";
    type(panel, "text_Alarmzeit", "013000", description);
    EXPECT_FALSE(alarmTime->hasFocus());

    // The fan moves from socket 2 to socket 4.
    chooseKind(dialog, "Temperature");
    auto *fan = find<QWidget>(dialog, "WerteRegelungCtl2");
    QTimer::singleShot(0, [&] {
        auto *sockets = QApplication::activeModalWidget()
                            ? QApplication::activeModalWidget()->findChild<QTreeWidget *>()
                            : nullptr;
        auto *socketDialog = qobject_cast<TarvelonProgramDose *>(QApplication::activeModalWidget());
        ASSERT_NE(sockets, nullptr);
        saveScreenshot(socketDialog, QStringLiteral("sockets"));
        EXPECT_EQ(sockets->topLevelItemCount(), 8) << "the fitted sockets";
        for (int r = 0; r < sockets->topLevelItemCount(); ++r)
            if (sockets->topLevelItem(r)->text(0) == "4")
                sockets->setCurrentItem(sockets->topLevelItem(r));
        socketDialog->findChild<QPushButton *>("Command1")->click();
    });
    find<QPushButton>(fan, "Cmd_Dose")->click();
    EXPECT_EQ(find<QLineEdit>(fan, "Text_Dose")->text(), "4");
    EXPECT_EQ(find<QTabBar>(dialog, "TabStrip1")
                  ->tabText(find<QTabBar>(dialog, "TabStrip1")->currentIndex()),
              "Temperature")
        << "the dialog is shown anew where it was";

    // A display unit, a compression value, the programming level.
    find<QRadioButton>(dialog, "Opt_Anzeige_Temperatur_Fahrenheit")->click();
    find<QRadioButton>(dialog, "Opt_Anzeige_InternesDisplay_3Sekunden")->click();
    find<QTabWidget>(dialog, "TabHauptmenu")->setCurrentIndex(2);
    auto *compression = find<MaskedEdit>(dialog, "edit_hd_ph");
    type(dialog, "edit_hd_ph", "0,25", find<MaskedEdit>(dialog, "edit_ld_ph"));
    EXPECT_EQ(compression->text(), "00.25");
    saveScreenshot(dialog, QStringLiteral("changed"));

    const auto after = fieldsOf(controller);
    EXPECT_EQ(changedFields(before, after),
              (QStringList{"Aktor(2)", "Aktor(4)", "Aktor(6)", "Regelung(1,2).DosenNr",
                           "Regelung(2,1).RW_SommerTag", "Regelung(2,1).SW_ObereWarnung",
                           "Regelung(6,1).PegelAlarmzeit", "aq_AnzeigeIntervallInt",
                           "aq_anzTemperatur", "aq_hd_ph"}));
    EXPECT_EQ(after.at("Aktor(2)"), "1 0 100 0") << "the old socket is free";
    EXPECT_EQ(after.at("Aktor(4)"), "1 2 100 0") << "the new one serves a temperature";
    EXPECT_EQ(after.at("Aktor(6)"), "2 6 100 100");
    EXPECT_EQ(after.at("Regelung(6,1).PegelAlarmzeit"), "01:30:00");
    EXPECT_EQ(after.at("aq_AnzeigeIntervallInt"), "2");
    EXPECT_EQ(after.at("aq_anzTemperatur"), "1");

    m_boxes->script({QMessageBox::Yes, QMessageBox::Ok}); // start? - done
    transfer->click();
    // The whole program goes out paced as the controller needs it: about a minute.
    ASSERT_TRUE(
        waitUntil([&] { return m_form->isIdle() && m_boxes->unusedAnswers() == 0; }, 150000))
        << m_boxes->boxes().last().text.toStdString();
    EXPECT_EQ(m_boxes->boxes().last().text, "Tarvelon programming successful !");
    // The emulator holds exactly the edited image; the warning limit is in the database.
    EXPECT_EQ(withoutClock(stateProgram()), withoutClock(controller.HydoProgramString()));
    const auto row = m_db->regulationRow(1234, 2, 1);
    ASSERT_TRUE(row.has_value());
    EXPECT_NEAR(row->upperWarning, 8.35, 1e-5);
}

TEST_F(ProgrammingDialog, closeBoxKeepsTheEditsUnsentAndAnsweringNoWritesNothing)
{
    connectSim();
    cTarvelon &controller = m_form->tarvelon(1);
    const QString asRead = controller.programAsRead();
    // A regulation in alarm state says so when it is shown (pH is the first kind).
    controller.Regelung(2, 3).set_Regelart(3);
    m_boxes->script({QMessageBox::Ok});
    TarvelonProgram *dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(m_boxes->withText("alarm state").size(), 1);
    // An air pressure compression beyond what the controller's word holds is refused.
    find<QTabWidget>(dialog, "TabHauptmenu")->setCurrentIndex(2);
    m_boxes->script({QMessageBox::Ok});
    type(dialog, "edit_hd_press", "9999", find<MaskedEdit>(dialog, "edit_ld_press"));
    EXPECT_TRUE(waitUntil([&] { return m_boxes->withText("too large").size() == 1; }, 2000));
    type(dialog, "edit_hd_press", "20", find<MaskedEdit>(dialog, "edit_ld_press"));
    EXPECT_EQ(controller.aq_hd_press(), 20);
    find<QRadioButton>(dialog, "Opt_Programmierstufe_Profi")->click();
    find<QRadioButton>(dialog, "OPT_Programmierstufe_Normal")->click();
    EXPECT_EQ(controller.aq_ProgStufe(), 0);
    // The hold time of the pH regulation is the PC's own, stored however the dialog ends.
    find<QTabWidget>(dialog, "TabHauptmenu")->setCurrentIndex(0);
    auto *panel = find<QWidget>(dialog, "WerteRegelungCtl1");
    auto *hold = find<QSpinBox>(panel, "Text_Haltezeit");
    QApplication::setActiveWindow(dialog);
    hold->setFocus(Qt::MouseFocusReason);
    hold->selectAll();
    QTest::keyClicks(hold, "45");
    find<QWidget>(panel, "Text_Beschreibung")->setFocus(Qt::TabFocusReason);
    saveScreenshot(dialog, QStringLiteral("alarm_quality"));
    dialog->close();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(m_db->alarmQuality(1234, 2, 1), (AlarmQuality{0, 45, 0}));
    EXPECT_TRUE(controller.programming_is_dirty()) << "kept in the object";
    EXPECT_TRUE(action("menu_Tarvelon_programmieren")->isEnabled());

    m_boxes->script({QMessageBox::Ok}); // the alarm state, once each time it is shown
    dialog = open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(m_boxes->withText("alarm state").size(), 2);
    EXPECT_TRUE(find<QPushButton>(dialog, "Command1")->isEnabled());
    m_boxes->script({QMessageBox::No});
    find<QPushButton>(dialog, "Command1")->click();
    ASSERT_TRUE(waitIdle());
    ASSERT_FALSE(m_boxes->boxes().isEmpty());
    EXPECT_EQ(m_boxes->boxes().last().text, "Start programming the Tarvelon ?");
    EXPECT_EQ(withoutClock(stateProgram()), withoutClock(asRead)) << "nothing was written";
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
        double number;
    };
    const Case cases[] = {
        {"en_GB", "##,##", "00.00", "type", "7.25", "07.25", 7.25},
        {"en_GB", "##,##", "00.00", "type", "7,2", "07.20", 7.2},
        {"de_DE", "##,##", "00.00", "type", "7.2", "07,20", 7.2},
        {"de_DE", "##,#", "00.0", "paste", "25.46", "25,5", 25.5},
        {"en_GB", "##,#", "00.0", "paste", "25,5 °C", "25.5", 25.5},
        {"en_GB", "###", "000", "type", "5", "005", 5},
        {"en_GB", "###", "000", "paste", "1500", "", 0}, // too long: refused, box unchanged
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2 %3").arg(c.locale, c.action, c.input).toStdString());
        QLocale::setDefault(QLocale(QLatin1String(c.locale)));
        QWidget window;
        auto *box = new MaskedEdit(&window);
        auto *other = new QLineEdit(&window);
        other->move(0, 40);
        box->setMaskAndFormat(c.mask, c.format, 450);
        box->showNumber(0);
        const QString untouched = box->text();
        double stored = -1;
        QObject::connect(box, &MaskedEdit::validating, [&](bool *) {
            stored = box->number();
            box->showNumber(stored);
        });
        window.show();
        window.activateWindow();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        box->setFocus(Qt::MouseFocusReason);
        QTest::qWait(10);
        if (QLatin1String(c.action) == QLatin1String("type")) {
            QTest::keyClicks(box, c.input);
        } else {
            QApplication::clipboard()->setText(c.input);
            QTest::keySequence(box, QKeySequence::Paste);
        }
        other->setFocus(Qt::TabFocusReason);
        QTest::qWait(10);
        if (c.shown.isEmpty()) {
            EXPECT_EQ(box->text(), untouched);
            EXPECT_EQ(stored, -1) << "nothing to store";
        } else {
            EXPECT_EQ(box->text(), c.shown);
            EXPECT_NEAR(stored, c.number, 1e-9);
        }
    }
    QLocale::setDefault(locale);
}
