// The SMS controller window: its editing rules, files, the exit question, the about box,
// and transfers against telvara-sim.

#include "gui_fixture.h"

#include "sms/ui/vek_sms_modul_konfig.h"
#include "store/database.h"
#include "store/strings.h"
#include "support/telvara_process.h"
#include "ui/infoform.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

class SmsWindow : public EnglishSuite
{
protected:
    void SetUp() override
    {
        vekSMSModulKonfig::Environment env;
        env.clock = std::make_shared<FastClock>();
        env.availablePorts = [this] { return m_ports; };
        env.portsInUse = m_portsInUse;
        env.chooseFile = [this](QWidget *, bool) { return m_file; };
        m_window = std::make_unique<vekSMSModulKonfig>(env);
        m_window->show();
        m_boxes = std::make_unique<BoxAnswerer>();
        // The ports are probed on the worker first.
        ASSERT_TRUE(waitUntil([&] { return !m_window->busy(); }, 10000));
    }

    template <typename T> T *child(const char *name) const
    {
        T *w = m_window->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QLineEdit *edit(const char *name) const { return child<QLineEdit>(name); }
    int number() const { return edit("Text1")->text().toInt(); }
    QString cell(int n, int column) const
    {
        return child<QTableWidget>("paramlistfield")->item(n - 1, column)->text();
    }
    void goTo(int n) { child<QTableWidget>("paramlistfield")->cellClicked(n - 1, 0); }
    void chooseCause(int index)
    {
        auto *combo = child<QComboBox>("Combo1");
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void trigger(const char *action)
    {
        m_window->findChild<QAction *>(QString::fromLatin1(action))->trigger();
    }
    int boxesTitled(const QString &title) const
    {
        int n = 0;
        for (const auto &b : m_boxes->boxes())
            n += b.title == title ? 1 : 0;
        return n;
    }

    QStringList m_ports;
    QStringList m_portsInUse;
    QString m_file;
    std::unique_ptr<vekSMSModulKonfig> m_window;
    std::unique_ptr<BoxAnswerer> m_boxes;
};

TEST_F(SmsWindow, reservedNumbersAreRefusedAndTheArrowsWrapAround)
{
    EXPECT_EQ(number(), 2) << "the window opens on the first number the device can store";
    saveScreenshot(m_window.get(), QStringLiteral("fresh"));
    const struct {
        const char *button;
        int from;
        int expected;
        int boxes;
    } steps[] = {
        {"Ab", 2, 2, 1},   // 1 is reserved: moved on to 2
        {"Auf", 30, 2, 1}, // wraps to 1, moved on to 2
        {"Auf", 8, 10, 1}, // 9 is reserved
        {"Ab", 14, 14, 1}, // 13 is reserved: moved on to 14
        {"Auf", 3, 4, 0},
    };
    for (const auto &s : steps) {
        goTo(s.from);
        const int before = int(m_boxes->boxes().size());
        child<QToolButton>(s.button)->click();
        EXPECT_EQ(number(), s.expected) << s.button << " from " << s.from;
        EXPECT_EQ(int(m_boxes->boxes().size()) - before, s.boxes) << s.button << " from " << s.from;
    }
    ASSERT_FALSE(m_boxes->boxes().isEmpty());
    EXPECT_EQ(m_boxes->boxes().first().title, ms("Fehler"));
    EXPECT_TRUE(m_boxes->boxes().first().text.contains(ms("Verwenden Sie eine andere "
                                                          "Konfigurationsnummer !")));

    // "Übernehmen" on a reserved number stores nothing.
    child<QTableWidget>("paramlistfield")->setCurrentCell(8, 0);
    edit("Text1")->setText(QStringLiteral("9"));
    edit("Text2")->setText(QStringLiteral("+4930"));
    child<QPushButton>("Einstellungenuebernehmen")->click();
    EXPECT_EQ(cell(9, 0), QString());
    EXPECT_EQ(number(), 10);
}

TEST_F(SmsWindow, acceptStoresTheFieldsWith75MinutesAs59AndDeleteClears)
{
    goTo(5);
    QTest::keyClicks(edit("Text2"), QStringLiteral("+49 171.123,4567"));
    QTest::keyClicks(edit("Text4"), QStringLiteral("+491722270880"));
    QTest::keyClicks(edit("Text3"), QStringLiteral("Pumpe aus"));
    chooseCause(3); // daily info: a time, no input wiring
    edit("Stunden")->setText(QStringLiteral("1"));
    edit("Minuten")->setText(QStringLiteral("75"));
    saveScreenshot(m_window.get(), QStringLiteral("edited"));
    child<QPushButton>("Einstellungenuebernehmen")->click();

    const cHydoSmsModul &record = m_window->record();
    EXPECT_EQ(cHydoSmsModul::textOf(record.ee_mobile_number(5)), QStringLiteral("+491711234567"));
    EXPECT_EQ(cHydoSmsModul::textOf(record.ee_service_number(5)), QStringLiteral("+491722270880"));
    EXPECT_EQ(cHydoSmsModul::textOf(record.ee_cause_name(5)), QStringLiteral("Pumpe aus"));
    EXPECT_EQ(record.ee_cause(5), 3);
    EXPECT_EQ(record.ee_time(5), 119);
    EXPECT_EQ(cell(5, 5), QStringLiteral("01:59"));
    EXPECT_EQ(cell(5, 3), ms("Tägl. Info"));
    EXPECT_EQ(number(), 6);
    saveScreenshot(m_window.get(), QStringLiteral("accepted"));

    goTo(5);
    EXPECT_EQ(edit("Minuten")->text(), QStringLiteral("59"));
    child<QPushButton>("Einstellungenloeschen")->click();
    EXPECT_EQ(record.ee_cause(5), 0);
    EXPECT_EQ(cHydoSmsModul::textOf(record.ee_mobile_number(5)), QString());
    EXPECT_EQ(cell(5, 5), QStringLiteral("00:00"));
    EXPECT_EQ(edit("Stunden")->text(), QStringLiteral("0"));
    EXPECT_EQ(m_boxes->boxes().size(), 0);
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
        QLineEdit *field = edit(c.field);
        field->clear();
        const int before = int(m_boxes->boxes().size());
        QTest::keyClicks(field, QString::fromLatin1(c.typed));
        EXPECT_EQ(field->text(), QString::fromLatin1(c.shown)) << c.field << " " << c.typed;
        const auto shown = m_boxes->boxes().mid(before);
        if (c.box) {
            ASSERT_EQ(shown.size(), 1) << c.field << " " << c.typed;
            EXPECT_TRUE(shown.first().text.startsWith(*c.box)) << c.typed;
            EXPECT_EQ(shown.first().title, ms("Nummer der Kurzmitteilungszentrale"));
        } else {
            EXPECT_TRUE(shown.isEmpty()) << c.field << " " << c.typed;
        }
    }
}

TEST_F(SmsWindow, theCauseDecidesWhichFieldsAreOpen)
{
    auto *wiring = child<QComboBox>("Combo2");
    auto *hours = edit("Stunden");
    edit("Text2")->setText(QStringLiteral("+4930"));
    for (int cause = 0; cause <= 10; ++cause) {
        hours->setText(QStringLiteral("7"));
        chooseCause(cause);
        const bool input = cause >= 5 && cause <= 8;
        const bool timed = cause != 0 && cause != 4 && cause != 10;
        EXPECT_EQ(wiring->isEnabled(), input) << cause;
        EXPECT_EQ(hours->isEnabled(), timed) << cause;
        EXPECT_EQ(child<QComboBox>("Combo1")->currentIndex(), cause);
        EXPECT_EQ(hours->text(), QStringLiteral("0")) << "a new cause starts from time 0";
        if (!input) {
            EXPECT_EQ(wiring->currentIndex(), 0) << cause;
        }
    }
    EXPECT_TRUE(m_boxes->boxes().isEmpty());

    // "Anruf Info" needs an international number first.
    edit("Text2")->clear();
    chooseCause(4);
    EXPECT_EQ(child<QComboBox>("Combo1")->currentIndex(), 0);
    ASSERT_EQ(m_boxes->boxes().size(), 1);
    EXPECT_EQ(m_boxes->boxes().first().title, ms("Ursache: Anruf Info "));

    // A time for anything but the daily info needs one too, said whenever the hour or
    // minute field is left, changed, untouched or empty.
    auto *minutes = edit("Minuten");
    const struct {
        int cause;
        QLineEdit *field;
        const char *typed;
        int boxes;
    } leaves[] = {
        {1, hours, "", 1}, {1, minutes, "5", 1}, {2, minutes, nullptr, 1}, {3, hours, "2", 0}};
    for (const auto &l : leaves) {
        // Focus moves only in the active window; a box shown before may have taken it.
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        chooseCause(l.cause);
        l.field->setFocus();
        if (l.typed) {
            l.field->clear();
            QTest::keyClicks(l.field, QString::fromLatin1(l.typed));
        }
        const int before = int(m_boxes->boxes().size());
        QTest::keyClick(l.field, Qt::Key_Tab);
        EXPECT_FALSE(l.field->hasFocus());
        EXPECT_EQ(int(m_boxes->boxes().size()) - before, l.boxes)
            << l.cause << (l.typed ? l.typed : "untouched");
    }
}

TEST_F(SmsWindow, savedFileReopensAndABadFileIsRefusedWithItsName)
{
    QTemporaryDir dir;
    // A port a connected controller uses is not offered.
    m_ports = {QStringLiteral("/dev/ttyS3"), QStringLiteral("/dev/ttyS12")};
    m_portsInUse = {QStringLiteral("/dev/ttyS3")};
    m_window = nullptr;
    SetUp();
    EXPECT_EQ(child<QComboBox>("Schnittstelle")->count(), 1);
    goTo(7);
    edit("Text2")->setText(QStringLiteral("+4930"));
    chooseCause(5);
    child<QComboBox>("Combo2")->setCurrentIndex(2);
    child<QPushButton>("Einstellungenuebernehmen")->click();
    m_file = dir.filePath(QStringLiteral("module.cfg"));
    trigger("mnuSaveAs");
    const QString saved = m_file;
    ASSERT_TRUE(QFile::exists(saved));

    // A fresh window takes the file back, after saying that the table is replaced.
    m_window = nullptr;
    SetUp();
    m_file = saved;
    m_boxes->script({QMessageBox::Yes});
    trigger("mnuOpen");
    EXPECT_EQ(cell(7, 0), QStringLiteral("+4930"));
    EXPECT_EQ(cell(7, 3), ms("Eingang 1"));
    EXPECT_EQ(cell(7, 4), ms("Öffner"));
    EXPECT_TRUE(child<QPlainTextEdit>("EingabeText")->toPlainText().startsWith("12\x03"));
    saveScreenshot(m_window.get(), QStringLiteral("opened"));

    QFile bad(dir.filePath(QStringLiteral("broken.cfg")));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("1\x03\"\"\t\"\"\r\n\x03");
    bad.close();
    m_file = bad.fileName();
    m_boxes->script({QMessageBox::Yes});
    trigger("mnuOpen");
    EXPECT_EQ(cell(7, 0), QStringLiteral("+4930")) << "a refused file changes nothing";
    ASSERT_EQ(m_boxes->boxes().size(), 3);
    EXPECT_TRUE(m_boxes->boxes().last().text.contains(QStringLiteral("broken.cfg")));

    // No to the question leaves the file dialog closed.
    m_file.clear();
    m_boxes->script({QMessageBox::No});
    trigger("mnuOpen");
    EXPECT_EQ(m_boxes->boxes().size(), 4);
    EXPECT_EQ(m_boxes->unexpected(), 1) << "only the refusal was unscripted";
}

TEST_F(SmsWindow, aStoredRowIsShownAndAcceptedAsItIsWithoutTheTypingRules)
{
    QTemporaryDir dir;
    cHydoSmsModul stored;
    for (int n = 1; n <= 30; ++n)
        stored.clear(n);
    stored.set_ee_mobile_number(4, "0049-30");
    stored.set_ee_service_number(4, "5");
    stored.set_ee_mobile_number(5, "7");
    stored.set_ee_cause(5, 4);
    m_file = dir.filePath(QStringLiteral("stored.cfg"));
    ASSERT_TRUE(saveSmsConfigFile(m_file, stored, 1).ok());
    m_boxes->script({QMessageBox::Yes});
    trigger("mnuOpen");
    goTo(2);
    QTest::keyClicks(edit("Text2"), QStringLiteral("+4930"));

    goTo(5);
    EXPECT_EQ(edit("Text2")->text(), QStringLiteral("7"));
    EXPECT_EQ(child<QComboBox>("Combo1")->currentIndex(), 4);
    goTo(4);
    EXPECT_EQ(edit("Text2")->text(), QStringLiteral("0049-30"));
    EXPECT_EQ(edit("Text4")->text(), QStringLiteral("5"));
    child<QPushButton>("Einstellungenuebernehmen")->click();
    EXPECT_EQ(m_window->record().ee_mobile_number(4).left(8), QByteArray("0049-30\0", 8));
    EXPECT_EQ(m_window->record().ee_service_number(4).left(2), QByteArray("5\0", 2));
    EXPECT_EQ(m_window->record().ee_cause(5), 4);
    EXPECT_EQ(m_boxes->boxes().size(), 1) << "only the question before opening";
}

TEST_F(SmsWindow, closingIsAskedOnTheNextTickAndNoKeepsTheWindowOpen)
{
    m_boxes->script({QMessageBox::No});
    m_window->close();
    EXPECT_TRUE(m_window->isVisible()) << "the first attempt is only a request";
    ASSERT_TRUE(waitUntil([&] { return m_boxes->boxes().size() == 1; }, 3000));
    EXPECT_EQ(m_boxes->boxes().first().text, ms("Telvara wirklich beenden ?"));
    QTest::qWait(1500);
    EXPECT_EQ(m_boxes->boxes().size(), 1) << "No withdraws the request";
    EXPECT_TRUE(m_window->isVisible());

    m_boxes->script({QMessageBox::Yes});
    m_window->close();
    ASSERT_TRUE(waitUntil([&] { return !m_window->isVisible(); }, 3000));
}

TEST_F(SmsWindow, aboutBoxShowsTitleVersionAndTheSystemFacts)
{
    Infoform box(m_window.get());
    box.show();
    EXPECT_EQ(box.windowTitle(), ms("Info zu ") + QStringLiteral("Ostracom"));
    const auto labels = box.findChildren<QLabel *>();
    bool version = false;
    for (const QLabel *l : labels)
        version = version || l->text() == ms("Version ") + QStringLiteral(OSTRACOM_PROJECT_VERSION);
    EXPECT_TRUE(version);
    saveScreenshot(&box, QStringLiteral("about"));

    const auto facts = Infoform::systemFacts();
    ASSERT_FALSE(facts.isEmpty());
    for (const auto &[name, value] : facts)
        EXPECT_FALSE(value.isEmpty()) << name.toStdString();
    auto found = std::make_shared<bool>(false);
    QTimer::singleShot(200, [found] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("sysInfo") && w->isVisible()) {
                *found = true;
                saveScreenshot(w, QStringLiteral("sysinfo"));
                EXPECT_EQ(w->findChild<QTreeWidget *>()->topLevelItemCount(),
                          Infoform::systemFacts().size());
            }
        // Whatever runs modally is closed, so the test fails instead of waiting for ever.
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    Infoform::StartSysInfo(&box);
    EXPECT_TRUE(*found) << "no visible system information dialog";
}

TEST_F(SmsWindow, configurationGoesToTheEmulatorAndComesBackWithVersionAndReset)
{
    TelvaraProcess sim;
    QString error;
    ASSERT_TRUE(sim.start({QStringLiteral("--firmware"), QStringLiteral("03.1C")}, &error))
        << error.toStdString();
    m_ports = {sim.ptyDevice()};
    m_window = nullptr;
    SetUp();
    auto *menuBar = m_window->menuBar();
    auto idle = [&] { return !m_window->busy(); };

    goTo(3);
    edit("Text2")->setText(QStringLiteral("+491711234567"));
    edit("Text3")->setText(QStringLiteral("Alarm Becken"));
    chooseCause(1);
    child<QPushButton>("Einstellungenuebernehmen")->click();
    const QByteArray image = m_window->record().HydoSmsModulString();

    // Nothing that edits the table or picks the port takes input while a transfer runs.
    const QList<QWidget *> controls{child<QTableWidget>("paramlistfield"), edit("Text2"),
                                    child<QPushButton>("Einstellungenuebernehmen"),
                                    child<QComboBox>("Schnittstelle")};
    auto enabled = [&](bool expected) {
        for (QWidget *w : controls)
            EXPECT_EQ(w->isEnabled(), expected) << w->objectName().toStdString();
        EXPECT_EQ(menuBar->actions().first()->isEnabled(), expected);
    };
    trigger("mnuWriteDevice");
    enabled(false);
    saveScreenshot(m_window.get(), QStringLiteral("writing"));
    ASSERT_TRUE(waitUntil(idle, 30000));
    EXPECT_EQ(m_boxes->boxes().size(), 0) << m_boxes->boxes().value(0).text.toStdString();
    enabled(true);

    // Another table in the window, then the device's configuration read back over it.
    child<QPushButton>("Einstellungenloeschen")->click();
    goTo(3);
    child<QPushButton>("Einstellungenloeschen")->click();
    m_boxes->script({QMessageBox::Yes});
    trigger("mnuReadDevice");
    ASSERT_TRUE(waitUntil(idle, 30000));
    EXPECT_EQ(m_window->record().HydoSmsModulString(), image);
    EXPECT_EQ(cell(3, 0), QStringLiteral("+491711234567"));
    EXPECT_EQ(cell(3, 2), QStringLiteral("Alarm Becken"));
    EXPECT_EQ(cell(3, 3), ms("Alarm"));
    // Rows never edited went out as the table showed them.
    EXPECT_EQ(cell(4, 3), ms("AUS"));
    EXPECT_EQ(cell(4, 5), QStringLiteral("00:00"));

    trigger("mnuVersion");
    EXPECT_EQ(edit("release")->text(), QStringLiteral("??"));
    ASSERT_TRUE(waitUntil(idle, 30000));
    EXPECT_EQ(edit("release")->text(), QStringLiteral("03"));
    EXPECT_EQ(edit("subrelease")->text(), QStringLiteral("1C"));

    trigger("mnuReset");
    ASSERT_TRUE(waitUntil(idle, 30000));
    EXPECT_TRUE(sim.log().contains(QStringLiteral("reset")));
    EXPECT_EQ(m_boxes->unexpected(), 0);
    saveScreenshot(m_window.get(), QStringLiteral("read_back"));

    // A device that says nothing: both boxes, and the table stays.
    sim.stop();
    ASSERT_TRUE(sim.start({QStringLiteral("--mute")}, &error)) << error.toStdString();
    child<QComboBox>("Schnittstelle")->setEditText(sim.ptyDevice());
    m_boxes->script({QMessageBox::Yes});
    trigger("mnuReadDevice");
    ASSERT_TRUE(waitUntil(idle, 30000));
    EXPECT_EQ(boxesTitled(ms("Fehler bei Verbindungsaufnahme")), 2);
    EXPECT_EQ(m_window->record().HydoSmsModulString(), image);
    enabled(true);
}
