// The SMS controller window as a user meets it: rows clicked in the table, fields typed
// into, menus opened with the mouse, file dialogs answered by typing a name, and transfers
// against telvara-sim.

#include "gui_fixture.h"

#include "sms/ui/vek_sms_modul_konfig.h"
#include "store/strings.h"
#include "widgets/infoform.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <utility>

class SmsWindow : public EnglishSuite
{
protected:
    static constexpr int kTransferMs = 30000;

    void SetUp() override { open(); }

    // A fresh window on the ports of m_ports, after it has probed them.
    void open()
    {
        m_window = nullptr;
        vekSMSModulKonfig::Environment env;
        env.clock = std::make_shared<FastClock>();
        env.availablePorts = [this] { return m_ports; };
        env.portsInUse = m_portsInUse;
        m_window = std::make_unique<vekSMSModulKonfig>(env);
        m_window->show();
        m_boxes = std::make_unique<BoxAnswerer>(
            [](QMessageBox *box, int n) { saveScreenshot(box, QStringLiteral("box%1").arg(n)); });
        ASSERT_TRUE(user::waitFor([&] { return !m_window->busy(); }, 10000));
    }
    // Starts telvara-sim with `arguments` and opens a fresh window on its port.
    void openOn(SimProcess &sim, const QStringList &arguments)
    {
        ASSERT_TRUE(sim.launch(arguments));
        m_ports = {sim.ptyDevice()};
        open();
    }

    template <typename T = QWidget> T *child(const char *name) const
    {
        return user::find<T>(m_window.get(), QString::fromLatin1(name));
    }
    QLineEdit *edit(const char *name) const { return child<QLineEdit>(name); }
    QTableWidget *table() const { return child<QTableWidget>("paramlistfield"); }
    int number() const { return edit("Text1")->text().toInt(); }
    QString cell(int n, int column) const { return table()->item(n - 1, column)->text(); }
    void expectRow(int n, const QStringList &cells) const
    {
        for (int c = 0; c < cells.size(); ++c)
            EXPECT_EQ(cell(n, c), cells[c]) << "row " << n << ", column " << c;
    }
    bool idle() const { return !m_window->busy(); }
    bool transferEnds() const
    {
        return user::waitFor([this] { return idle(); }, kTransferMs);
    }

    void goTo(int n) { user::clickIndex(table(), table()->model()->index(n - 1, 0)); }
    void chooseCause(const char *key) { user::choose(child<QComboBox>("Combo1"), ms(key)); }
    // Empties the field with the keyboard, then types `text` key by key.
    void typeAnew(const char *field, const QString &text)
    {
        QLineEdit *e = edit(field);
        ASSERT_TRUE(user::retype(e, QString()));
        QTest::keyClick(e, Qt::Key_Backspace);
        QTest::keyClicks(e, text);
    }
    void accept() { user::click(m_window.get(), QStringLiteral("Einstellungenuebernehmen")); }
    void menu(const char *title, const char *entry)
    {
        ASSERT_TRUE(user::chooseFromMenuBar(m_window->menuBar(), ms(title), ms(entry))) << entry;
    }
    auto boxesTitled(const QString &title) const
    {
        const auto &boxes = m_boxes->boxes();
        return std::count_if(boxes.begin(), boxes.end(), [&](auto &b) { return b.title == title; });
    }

    QStringList m_ports;
    QStringList m_portsInUse;
    std::unique_ptr<vekSMSModulKonfig> m_window;
    std::unique_ptr<BoxAnswerer> m_boxes;
};

TEST_F(SmsWindow, reservedNumbersAreRefusedAndTheArrowsWrapAround)
{
    EXPECT_EQ(number(), 2) << "the window opens on the first number the device can store";
    saveScreenshot(m_window.get(), QStringLiteral("fresh"));
    const struct {
        int row; // clicked first
        const char *button;
        int expected;
        int boxes;
    } steps[] = {
        {2, "Ab", 2, 1},      // 1 is reserved: moved on to 2
        {30, "Auf", 2, 1},    // wraps to 1, moved on to 2
        {8, "Auf", 10, 1},    // 9 is reserved
        {14, "Ab", 14, 1},    // 13 is reserved: moved on to 14
        {3, "Auf", 4, 0},     //
        {17, nullptr, 18, 1}, // a reserved row clicked in the table
    };
    for (const auto &s : steps) {
        const int before = int(m_boxes->boxes().size());
        goTo(s.row);
        if (s.button)
            user::click(m_window.get(), QString::fromLatin1(s.button));
        ASSERT_TRUE(
            user::waitFor([&] { return int(m_boxes->boxes().size()) - before >= s.boxes; }, 2000));
        EXPECT_EQ(number(), s.expected) << s.row << " " << (s.button ? s.button : "");
        EXPECT_EQ(int(m_boxes->boxes().size()) - before, s.boxes) << s.row;
        EXPECT_EQ(table()->currentRow(), s.expected - 1) << "the table shows the number's row";
    }
    ASSERT_FALSE(m_boxes->boxes().isEmpty());
    EXPECT_EQ(m_boxes->boxes().first().title, ms("Fehler"));
    EXPECT_TRUE(m_boxes->boxes().first().text.contains(
        ms("Verwenden Sie eine andere Konfigurationsnummer !")));
}

TEST_F(SmsWindow, acceptStoresTheFieldsWith75MinutesAs59AndDeleteClears)
{
    goTo(5);
    typeAnew("Text2", QStringLiteral("+49 171.123,4567"));
    typeAnew("Text4", QStringLiteral("+491722270880"));
    typeAnew("Text3", QStringLiteral("Pumpe aus"));
    chooseCause("Tägl. Info"); // a time, no input wiring
    user::retype(edit("Stunden"), QStringLiteral("1"));
    user::retype(edit("Minuten"), QStringLiteral("75"));
    saveScreenshot(m_window.get(), QStringLiteral("edited"));
    accept();

    expectRow(
        5, {"+491711234567", "+491722270880", "Pumpe aus", ms("Tägl. Info"), ms("kein"), "01:59"});
    EXPECT_EQ(m_window->record().ee_time(5), 119);
    EXPECT_EQ(number(), 6) << "accepting moves on to the next number";
    saveScreenshot(m_window.get(), QStringLiteral("accepted"));

    goTo(5);
    EXPECT_EQ(edit("Text2")->text(), QStringLiteral("+491711234567"));
    EXPECT_EQ(edit("Minuten")->text(), QStringLiteral("59"));
    user::click(m_window.get(), QStringLiteral("Einstellungenloeschen"));
    expectRow(5, {"", "", "", ms("AUS"), ms("kein"), "00:00"});
    EXPECT_EQ(m_window->record().ee_cause(5), 0);
    EXPECT_EQ(edit("Text2")->text(), QString());
    EXPECT_EQ(edit("Stunden")->text(), QStringLiteral("0"));
    EXPECT_EQ(m_boxes->boxes().size(), 0) << m_boxes->boxes().value(0).text.toStdString();
}

TEST_F(SmsWindow, typedFieldsTakeOnlyWhatTheyCanStore)
{
    const QString examples = ms("Die Nummer der Kurzmitteilungszentrale muß mit der "
                                "internationalen Vorwahl beginnen !");
    const QString noPrefix = ms("Die Nummer der Rufnummer enthält keine internationale Vorwahl, "
                                "die mit '+' beginnt (z.B. +49 für Deutschland) ! ");
    const struct {
        const char *field;
        const char *typed;
        const char *shown;
        const QString *box; // the box that appears, if any
    } cases[] = {
        {"Text2", "+49 (30)", "+4930", nullptr},
        {"Text2", "+4x9", "+49", nullptr},
        {"Text2", "++", "+", nullptr},
        {"Text2", "0", "0", &noPrefix},
        {"Text2", "-1", "1", &noPrefix}, // the sign is refused, the 1 stays with a warning
        {"Text4", "+4x", "+4", nullptr},
        {"Text4", "0", "", &examples},
        // A double quote would end the text's field in a saved file.
        {"Text3", "say \"hi\"", "say hi", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.typed);
        const int before = int(m_boxes->boxes().size());
        typeAnew(c.field, QString::fromLatin1(c.typed));
        QTest::qWait(60); // the answerer looks every 20 ms
        EXPECT_EQ(edit(c.field)->text(), QString::fromLatin1(c.shown));
        const auto shown = m_boxes->boxes().mid(before);
        ASSERT_EQ(shown.size(), c.box ? 1 : 0);
        if (c.box) {
            EXPECT_TRUE(shown.first().text.startsWith(*c.box));
            EXPECT_EQ(shown.first().title, ms("Nummer der Kurzmitteilungszentrale"));
        }
    }
}

TEST_F(SmsWindow, theCauseDecidesWhichFieldsAreOpen)
{
    auto *wiring = child<QComboBox>("Combo2");
    auto *causes = child<QComboBox>("Combo1");
    auto *hours = edit("Stunden");
    auto *minutes = edit("Minuten");
    typeAnew("Text2", QStringLiteral("+4930"));
    // From a timed cause with 7 hours typed to each cause in turn.
    for (int cause = 0; cause <= 10; ++cause) {
        chooseCause("Alarm");
        user::retype(hours, QStringLiteral("7"));
        user::choose(causes, causes->itemText(cause));
        const bool input = cause >= 5 && cause <= 8;
        const bool timed = cause != 0 && cause != 4 && cause != 10;
        EXPECT_EQ(causes->currentIndex(), cause);
        EXPECT_EQ(wiring->isEnabled(), input) << cause;
        EXPECT_EQ(hours->isEnabled(), timed) << cause;
        EXPECT_EQ(minutes->isEnabled(), timed) << cause;
        EXPECT_EQ(hours->text(), cause == 1 ? QStringLiteral("7") : QStringLiteral("0"))
            << "a new cause starts from time 0: " << cause;
        EXPECT_TRUE(input || wiring->currentIndex() == 0) << "no wiring for " << cause;
    }
    EXPECT_TRUE(m_boxes->boxes().isEmpty());

    // "Anruf Info" needs an international number first.
    typeAnew("Text2", QString());
    chooseCause("Anruf Info");
    ASSERT_TRUE(user::waitFor([&] { return m_boxes->boxes().size() == 1; }, 2000));
    EXPECT_EQ(causes->currentIndex(), 0);
    EXPECT_EQ(m_boxes->boxes().first().title, ms("Ursache: Anruf Info "));

    // A time for anything but the daily info needs one too, said whenever the hour or
    // minute field is left, changed, untouched or empty.
    const struct {
        const char *cause;
        QLineEdit *field;
        const char *typed; // nullptr: only clicked into
        int boxes;
    } leaves[] = {{"Alarm", hours, "", 1},
                  {"Alarm", minutes, "5", 1},
                  {"Keine Kontrolle", minutes, nullptr, 1},
                  {"Tägl. Info", hours, "2", 0}};
    for (const auto &l : leaves) {
        // Leaving the field of the case before for the cause list may bring the box too.
        chooseCause(l.cause);
        // Focus moves only in the active window; a box shown before has taken it.
        ASSERT_TRUE(user::activate(m_window.get()));
        if (l.typed)
            user::retype(l.field, QString::fromLatin1(l.typed));
        else
            user::click(l.field);
        const int before = int(m_boxes->boxes().size());
        QTest::keyClick(l.field, Qt::Key_Tab);

        QTest::qWait(60);
        EXPECT_NE(m_window->focusWidget(), l.field) << "Tab leaves the field";
        EXPECT_EQ(int(m_boxes->boxes().size()) - before, l.boxes)
            << l.cause << " " << (l.typed ? l.typed : "untouched");
    }
}

TEST_F(SmsWindow, savedFileReopensABadOneIsRefusedAndAStoredRowIsTakenAsItIs)
{
    QTemporaryDir dir;
    // A port a connected controller uses is not offered.
    m_ports = {QStringLiteral("/dev/ttyS3"), QStringLiteral("/dev/ttyS12")};
    m_portsInUse = {QStringLiteral("/dev/ttyS3")};
    open();
    EXPECT_EQ(child<QComboBox>("Schnittstelle")->count(), 1);
    goTo(7);
    typeAnew("Text2", QStringLiteral("+4930"));
    chooseCause("Eingang 1");
    user::choose(child<QComboBox>("Combo2"), ms("Öffner"));
    accept();
    const QString saved = dir.filePath(QStringLiteral("module.cfg"));
    auto shown = answerFileDialog(saved);
    menu("&Datei", "Speichern &unter...");
    EXPECT_TRUE(*shown);
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.startsWith("12\x03")) << "the port's number, then code 3";
    EXPECT_TRUE(text.contains("\"+4930\"\t\"\"\t\"\"\t\"5\"\t\"2\"\t\"0\"\t\"0\"\r\n"))
        << text.toStdString();

    // A fresh window takes the file back, after saying that the table is replaced.
    open();
    m_boxes->script({QMessageBox::Yes});
    shown = answerFileDialog(saved);
    menu("&Datei", "&Öffnen...");
    EXPECT_TRUE(*shown);
    expectRow(7, {"+4930", "", "", ms("Eingang 1"), ms("Öffner")});
    EXPECT_TRUE(child<QPlainTextEdit>("EingabeText")->toPlainText().startsWith("12\x03"));
    saveScreenshot(m_window.get(), QStringLiteral("opened"));

    const QString bad = dir.filePath(QStringLiteral("broken.cfg"));
    ASSERT_TRUE(writeTestFile(bad, "1\x03\"\"\t\"\"\r\n\x03"));
    m_boxes->script({QMessageBox::Yes});
    answerFileDialog(bad);
    menu("&Datei", "&Öffnen...");
    EXPECT_EQ(cell(7, 0), QStringLiteral("+4930")) << "a refused file changes nothing";
    ASSERT_EQ(m_boxes->boxes().size(), 3);
    EXPECT_TRUE(m_boxes->boxes().last().text.contains(QStringLiteral("broken.cfg")));

    // No to the question leaves the file dialog closed; the answer waits no longer than
    // this test, so that no later dialog meets it.
    m_boxes->script({QMessageBox::No});
    shown = answerFileDialog(bad, 1000);
    menu("&Datei", "&Öffnen...");
    QTest::qWait(1100);
    EXPECT_FALSE(*shown);
    EXPECT_EQ(m_boxes->boxes().size(), 4);
    EXPECT_EQ(m_boxes->unexpected(), 1) << "only the refusal was unscripted";

    // A stored row is shown and accepted as it is, without the typing rules.
    cHydoSmsModul stored;
    for (int n = 1; n <= 30; ++n)
        stored.clear(n);
    stored.set_ee_mobile_number(4, "0049-30");
    stored.set_ee_service_number(4, "5");
    stored.set_ee_mobile_number(5, "7");
    stored.set_ee_cause(5, 4);
    const QString path = dir.filePath(QStringLiteral("stored.cfg"));
    ASSERT_TRUE(saveSmsConfigFile(path, stored, 1).ok());
    m_boxes->script({QMessageBox::Yes});
    answerFileDialog(path);
    menu("&Datei", "&Öffnen...");
    goTo(5);
    EXPECT_EQ(edit("Text2")->text(), QStringLiteral("7"));
    EXPECT_EQ(child<QComboBox>("Combo1")->currentIndex(), 4);
    goTo(4);
    EXPECT_EQ(edit("Text2")->text(), QStringLiteral("0049-30"));
    EXPECT_EQ(edit("Text4")->text(), QStringLiteral("5"));
    accept();
    EXPECT_EQ(m_window->record().ee_mobile_number(4).left(8), QByteArray("0049-30\0", 8));
    EXPECT_EQ(m_window->record().ee_service_number(4).left(2), QByteArray("5\0", 2));
    EXPECT_EQ(m_window->record().ee_cause(5), 4);
    EXPECT_EQ(m_boxes->boxes().size(), 5) << "only the question before opening";
}

TEST_F(SmsWindow, closingIsAskedOnTheNextTickAndNoKeepsTheWindowOpen)
{
    m_boxes->script({QMessageBox::No});
    menu("&Datei", "&Beenden");
    EXPECT_TRUE(m_window->isVisible()) << "the first attempt is only a request";
    ASSERT_TRUE(user::waitFor([&] { return m_boxes->boxes().size() == 1; }, 3000));
    EXPECT_EQ(m_boxes->boxes().first().text, ms("Telvara wirklich beenden ?"));
    QTest::qWait(1500);
    EXPECT_EQ(m_boxes->boxes().size(), 1) << "No withdraws the request";
    EXPECT_TRUE(m_window->isVisible());

    m_boxes->script({QMessageBox::Yes});
    menu("&Datei", "&Beenden");
    ASSERT_TRUE(user::waitFor([&] { return !m_window->isVisible(); }, 3000));
}

TEST_F(SmsWindow, aboutBoxShowsTitleVersionAndTheSystemFacts)
{
    auto facts = std::make_shared<int>(-1);
    auto seen = std::make_shared<bool>(false);
    user::whenShown<Infoform>([facts, seen](Infoform *box) {
        *seen = true;
        EXPECT_EQ(box->windowTitle(), ms("Info zu ") + QStringLiteral("Ostracom"));
        bool version = false;
        for (const QLabel *l : box->findChildren<QLabel *>())
            version =
                version || l->text() == ms("Version ") + QStringLiteral(OSTRACOM_PROJECT_VERSION);
        EXPECT_TRUE(version);
        saveScreenshot(box, QStringLiteral("about"));
        user::whenShown<QDialog>([facts](QDialog *dialog) {
            if (dialog->objectName() == QLatin1String("sysInfo")) {
                saveScreenshot(dialog, QStringLiteral("sysinfo"));
                *facts = dialog->findChild<QTreeWidget *>()->topLevelItemCount();
                user::click(
                    dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Close));
            } else {
                dialog->reject();
            }
        });
        user::click(user::buttonShowing(box, ms("&Systeminfo...")));
        user::click(user::buttonShowing(box, QStringLiteral("OK")));
    });
    menu("&Info", "&Info über Telvara...");
    EXPECT_TRUE(*seen);
    EXPECT_EQ(*facts, Infoform::systemFacts().size());
    for (const auto &[name, value] : Infoform::systemFacts())
        EXPECT_FALSE(value.isEmpty()) << name.toStdString();
}

TEST_F(SmsWindow, configurationGoesToTheEmulatorAndComesBackWithVersionAndReset)
{
    SimProcess sim{SimProcess::Emulator::Telvara};
    ASSERT_NO_FATAL_FAILURE(openOn(sim, {"--firmware", "03.1C"}));

    goTo(3);
    typeAnew("Text2", QStringLiteral("+491711234567"));
    typeAnew("Text3", QStringLiteral("Alarm Becken"));
    chooseCause("Alarm");
    accept();
    const QByteArray image = m_window->record().HydoSmsModulString();

    // Nothing that edits the table or picks the port takes input while a transfer runs.
    const QList<QWidget *> controls{table(), edit("Text2"), child("Einstellungenuebernehmen"),
                                    child("Schnittstelle")};
    auto enabled = [&](bool expected) {
        for (QWidget *w : controls)
            EXPECT_EQ(w->isEnabled(), expected) << w->objectName().toStdString();
        for (QAction *a : m_window->menuBar()->actions())
            EXPECT_EQ(a->isEnabled(), expected) << a->text().toStdString();
    };
    menu("&Konfiguration...", "... an SMS &Controller übertragen");
    enabled(false);
    saveScreenshot(m_window.get(), QStringLiteral("writing"));
    ASSERT_TRUE(transferEnds());
    EXPECT_EQ(m_boxes->boxes().size(), 0) << m_boxes->boxes().value(0).text.toStdString();
    enabled(true);
    const QByteArray eeprom = sim.savedExternalMemory();
    EXPECT_EQ(eeprom.left(2), QByteArray("\x61\x19")) << "marked valid";
    EXPECT_EQ(eeprom.mid(0x400, 1800), image);
    EXPECT_EQ(eeprom.mid(0x400 + 2 * 60, 14), QByteArray("+491711234567\0", 14));
    EXPECT_EQ(child<QLabel>("statustext2")->text(),
              ms("Konfiguration an SMS Controller übertragen und geprüft !"));
    saveScreenshot(m_window.get(), QStringLiteral("written"));

    // The row emptied in the window, then the device's configuration read back over it.
    goTo(3);
    user::click(m_window.get(), QStringLiteral("Einstellungenloeschen"));
    ASSERT_EQ(cell(3, 0), QString());
    m_boxes->script({QMessageBox::Yes});
    menu("&Konfiguration...", "... &aus SMS Controller laden");
    ASSERT_TRUE(transferEnds());
    EXPECT_EQ(m_window->record().HydoSmsModulString(), image);
    expectRow(3, {"+491711234567", "", "Alarm Becken", ms("Alarm"), ms("kein"), "00:00"});
    EXPECT_EQ(cell(4, 3), ms("AUS")) << "rows never edited went out as the table showed them";

    menu("&Info", "SMS Controller &Version auslesen");
    EXPECT_EQ(edit("release")->text(), QStringLiteral("??"));
    ASSERT_TRUE(transferEnds());
    EXPECT_EQ(edit("release")->text(), QStringLiteral("03"));
    EXPECT_EQ(edit("subrelease")->text(), QStringLiteral("1C"));

    menu("&Info", "Reset SMS Controller");
    ASSERT_TRUE(transferEnds());
    EXPECT_TRUE(sim.log().contains(QStringLiteral("reset")));
    EXPECT_EQ(m_boxes->unexpected(), 0);
    saveScreenshot(m_window.get(), QStringLiteral("read_back"));

    // A device that says nothing, its port typed in: both boxes, and the table stays.
    ASSERT_TRUE(sim.stop());
    ASSERT_TRUE(sim.launch({QStringLiteral("--mute")}));
    user::retype(child<QComboBox>("Schnittstelle")->lineEdit(), sim.ptyDevice());
    m_boxes->script({QMessageBox::Yes});
    menu("&Konfiguration...", "... &aus SMS Controller laden");
    ASSERT_TRUE(transferEnds());
    EXPECT_EQ(boxesTitled(ms("Fehler bei Verbindungsaufnahme")), 2);
    EXPECT_EQ(m_window->record().HydoSmsModulString(), image);
    enabled(true);
}

TEST_F(SmsWindow, aBlockTheDeviceLostIsNamedAndTheConfigurationLeftUnmarked)
{
    SimProcess sim{SimProcess::Emulator::Telvara};
    // Row 2 begins at 0x0400 + 60.
    ASSERT_NO_FATAL_FAILURE(openOn(sim, {"--lose-write-at", "0x043C"}));
    goTo(2);
    typeAnew("Text2", QStringLiteral("+4930222"));
    accept();
    menu("&Konfiguration...", "... an SMS &Controller übertragen");
    ASSERT_TRUE(transferEnds());
    const auto differs =
        m_boxes->withText(ms("Die Konfiguration im SMS Controller weicht von der gesendeten ab ! "
                             "Abweichende Konfigurationen: ") +
                          QStringLiteral("2"));
    ASSERT_EQ(differs.size(), 1);
    EXPECT_TRUE(differs.first().text.contains(ms("Erste Abweichung an Adresse ") +
                                              QStringLiteral("0x043C")));
    EXPECT_EQ(boxesTitled(ms("Übertragung wiederholen ")), 1);
    EXPECT_NE(child<QLabel>("statustext2")->text(),
              ms("Konfiguration an SMS Controller übertragen und geprüft !"));
    ASSERT_TRUE(sim.stop());
    EXPECT_EQ(sim.savedExternalMemory().left(2), QByteArray(2, '\0')) << "left unmarked";
}

TEST_F(SmsWindow, aWriteCutShortIsReadBackWithAWarningThatItMayBeIncomplete)
{
    SimProcess sim{SimProcess::Emulator::Telvara};
    // Both markers and 8 blocks: rows 1 and 2 arrive, row 4 does not.
    ASSERT_NO_FATAL_FAILURE(openOn(sim, {"--mute-after-writes", "10"}));
    for (const auto &[row, mobile] : {std::pair{2, "+4930222"}, std::pair{4, "+4930444"}}) {
        goTo(row);
        typeAnew("Text2", QString::fromLatin1(mobile));
        accept();
    }
    menu("&Konfiguration...", "... an SMS &Controller übertragen");
    ASSERT_TRUE(transferEnds());
    EXPECT_FALSE(m_boxes->withText(ms("Konfiguration nicht komplett übertragen !")).isEmpty());
    ASSERT_TRUE(sim.stop());
    EXPECT_EQ(sim.savedExternalMemory().left(2), QByteArray(2, '\0')) << "left unmarked";

    // The device answers again; a fresh window reads what it holds.
    ASSERT_NO_FATAL_FAILURE(openOn(sim, {}));
    m_boxes->script({QMessageBox::Yes});
    menu("&Konfiguration...", "... &aus SMS Controller laden");
    ASSERT_TRUE(user::waitFor([&] { return idle() && m_boxes->boxes().size() >= 2; }, kTransferMs));
    EXPECT_EQ(cell(2, 0), QStringLiteral("+4930222"));
    EXPECT_EQ(cell(4, 0), QString()) << "never arrived";
    EXPECT_EQ(boxesTitled(ms("Übertragung wiederholen ")), 0);
    const auto warnings = m_boxes->withText(
        ms("Die Konfiguration im SMS Controller ist nicht als gültig gekennzeichnet und kann "
           "unvollständig sein ! Prüfen Sie die Einträge, bevor Sie sie an den SMS Controller "
           "übertragen !"));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_EQ(warnings.first().title, ms("Warnung"));
    EXPECT_EQ(warnings.first().icon, QMessageBox::Warning);
    saveScreenshot(m_window.get(), QStringLiteral("unmarked_read"));
}
