// The notification settings and language dialogs, opened from the main window's menus.

#include "gui_fixture.h"

#include "service/monitoring_service.h"

#include "store/mail.h"
#include "store/strings.h"
#include "support/smtp_server.h"
#include "support/user_input.h"
#include "ui/ostracom_language.h"
#include "ui/ostracom_notify_config.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

namespace
{

// How long a test mail may take against the local server.
constexpr int kMailTimeoutMs = 40000;

} // namespace

class SettingsDialogs : public MainWindowTest
{
protected:
    // Opens a modal dialog from the Tools menu and lets `drive` work it; returns once it
    // has closed.
    template <class Dialog>
    bool withDialog(const QString &entry, const std::function<void(Dialog *)> &drive)
    {
        bool driven = false;
        user::whenShown<Dialog>([&](Dialog *dialog) {
            drive(dialog);
            driven = true;
        });
        EXPECT_TRUE(chooseMenu("Tools", entry));
        return driven;
    }

    void withNotifyDialog(const std::function<void(OstracomNotifyConfig *)> &drive)
    {
        EXPECT_TRUE(withDialog<OstracomNotifyConfig>("Alarm notification", [&](auto *d) {
            drive(d);
            // Closed whatever happened, so that the menu command returns.
            user::waitFor([&] { return !d->testRunning(); }, kMailTimeoutMs);
            user::click(d, "Command2");
        }));
    }

    static void fill(OstracomNotifyConfig *dialog, const char *name, const QString &text)
    {
        user::retype(user::find<QLineEdit>(dialog, QLatin1String(name)), text);
    }

    // Enters an enabled account for `server` and starts the test mail; waits for its answer.
    void sendTestMail(OstracomNotifyConfig *dialog, const QString &server)
    {
        fill(dialog, "text_Server", server);
        fill(dialog, "text_Empfaenger", QStringLiteral("alarm@example.org"));
        fill(dialog, "text_Sender", QStringLiteral("ostracom@example.org"));
        auto *enabled = user::find<QCheckBox>(dialog, "email_enabled");
        if (!enabled->isChecked())
            user::click(enabled);
        EXPECT_TRUE(enabled->isChecked());
        auto *test = user::find<QPushButton>(dialog, "Command1");
        const qsizetype boxes = m_boxes->boxes().size();
        user::click(test);
        // The mail goes out on the worker; the dialog waits with its buttons off.
        EXPECT_FALSE(test->isEnabled());
        EXPECT_TRUE(
            user::waitFor([&] { return m_boxes->boxes().size() == boxes + 1; }, kMailTimeoutMs));
    }
};

// The notification settings are saved before their test mail is sent. One the server
// refuses shows the sender's status; alarm mails it does not take wait and show in the
// status bar. Once the user names a working server in the dialog, the test mail and the
// alarms go out, and the note goes.
TEST_F(SettingsDialogs, notificationSettingsAreSavedAndMailsWaitUntilTheServerTakesThem)
{
    const QString closed = QStringLiteral("127.0.0.1:%1").arg(closedLocalPort());
    m_boxes->script({QMessageBox::Ok});
    withNotifyDialog([&](OstracomNotifyConfig *dialog) {
        // Loaded from the window's (empty) settings.
        EXPECT_EQ(user::find<QLineEdit>(dialog, "text_Server")->text(), "");
        EXPECT_FALSE(user::find<QCheckBox>(dialog, "email_enabled")->isChecked());
        fill(dialog, "text_passwort", QStringLiteral("geheim"));
        auto *noData = user::find<QSpinBox>(dialog, "text_KeineDaten");
        user::retype(noData->findChild<QLineEdit *>(), QStringLiteral("600"));
        saveScreenshot(dialog, QStringLiteral("notify_dialog"));
        sendTestMail(dialog, closed);
    });
    ASSERT_EQ(m_boxes->boxes().size(), 1);
    EXPECT_EQ(m_boxes->boxes()[0].icon, QMessageBox::Information);
    // Connection refused: result code 1 with its status text.
    EXPECT_TRUE(m_boxes->boxes()[0].text.startsWith("Starting the test reported the following: "
                                                    "1 --- "))
        << m_boxes->boxes()[0].text.toStdString();
    EXPECT_EQ(m_db->mailSettings()->servername, closed) << "saved before the test";
    EXPECT_EQ(m_db->staleAlarmSeconds(), 600) << "the no-data alarm is saved with them";

    // Above the emulated temperature's upper alarm limit of 27.0.
    SimProcess &sim = startSim({"--speed", "60", "--values", valuesFile("values.txt", "1=28.0\n")});
    m_boxes->script({QMessageBox::Ok});
    addByDialog(simAddress(sim));
    auto *status = user::find<QLabel>(m_form.get(), "statustext1");
    ASSERT_TRUE(user::waitFor(
        [&] {
            return status->text().contains("Mails waiting to be sent: ") &&
                   status->text().contains("(Last failure: 1 --- ");
        },
        kConnectTimeoutMs))
        << status->text().toStdString();
    saveScreenshot(m_form.get(), QStringLiteral("mails-waiting"));

    SmtpServer smtp;
    ASSERT_TRUE(smtp.start()) << smtp.error().toStdString();
    m_boxes->script({QMessageBox::Ok});
    withNotifyDialog([&](OstracomNotifyConfig *dialog) { sendTestMail(dialog, smtp.address()); });
    const MailSettings expected{
        smtp.address(), "alarm@example.org", "ostracom@example.org", QString(), "geheim", 1};
    EXPECT_EQ(m_db->mailSettings(), expected);
    EXPECT_EQ(m_form->mailSettings(), expected);
    ASSERT_EQ(m_boxes->boxes().size(), 3) << "the refusal, the clock question, the start";
    const auto &box = m_boxes->boxes()[2];
    EXPECT_EQ(box.title, "Ostracom warning and alarm notification");
    EXPECT_EQ(box.text, "The test was started successfully. Please check your notification now.");
    EXPECT_EQ(box.icon, QMessageBox::Information);
    auto titled = [&](const QString &subject) {
        QList<ReceivedMail> found;
        for (const ReceivedMail &m : smtp.messages())
            if (m.header("Subject") == subject)
                found << m;
        return found;
    };
    const auto tests = titled("Ostracom---Test message");
    ASSERT_EQ(tests.size(), 1);
    EXPECT_EQ(tests[0].rcptTos, QStringList{"alarm@example.org"});
    EXPECT_TRUE(tests[0].body.startsWith("Message was sent on ")) << tests[0].body.toStdString();
    QFile log(m_dir.filePath(QStringLiteral("ostracom.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Ostracom---Test message"));

    // The note goes with the next refresh of the idle window, not while a cycle shows its
    // progress there.
    ASSERT_TRUE(user::waitFor(
        [&] {
            return !titled("Ostracom---Alarm").isEmpty() && m_form->isIdle() &&
                   !status->text().contains("Mails waiting");
        },
        kConnectTimeoutMs))
        << status->text().toStdString();
    EXPECT_EQ(m_form->service().status().mailsWaiting, 0);
    saveScreenshot(m_form.get(), QStringLiteral("mails-delivered"));

    // A log that cannot be written is told, though the mail itself went out.
    log.close();
    ASSERT_TRUE(log.remove() && QDir(m_dir.path()).mkdir(QStringLiteral("ostracom.log")));
    m_boxes->script({QMessageBox::Ok});
    withNotifyDialog([&](OstracomNotifyConfig *dialog) { sendTestMail(dialog, smtp.address()); });
    ASSERT_EQ(m_boxes->boxes().size(), 4);
    EXPECT_TRUE(m_boxes->boxes()[3].text.startsWith(
        "Starting the test reported the following: Cannot open log file " + log.fileName()))
        << m_boxes->boxes()[3].text.toStdString();
    EXPECT_EQ(titled("Ostracom---Test message").size(), 2);

    // Closed without a test, a changed server is not saved.
    withNotifyDialog([&](OstracomNotifyConfig *dialog) {
        fill(dialog, "text_Server", QStringLiteral("mail.example.org"));
    });
    EXPECT_EQ(m_db->mailSettings(), expected);
    EXPECT_EQ(m_form->mailSettings(), expected);
}

TEST_F(SettingsDialogs, choosingAnotherLanguageRelabelsTheWindowAndIsStored)
{
    ASSERT_TRUE(withDialog<OstracomLanguage>("Language", [&](OstracomLanguage *dialog) {
        // Two languages: the one in use, and the other chosen below.
        auto *combo = user::find<QComboBox>(dialog, "combo_languageselect");
        EXPECT_EQ(combo->count(), 2);
        EXPECT_EQ(combo->currentText(), "ENGLISH");
        EXPECT_EQ(dialog->windowTitle(), "Language - Sprache");
        saveScreenshot(dialog, QStringLiteral("language_dialog"));
        user::choose(combo, QStringLiteral("DEUTSCH"));
        user::click(dialog, "Command_ok");
    }));

    EXPECT_EQ(actionTexts(m_form->menuBar()), (QStringList{"Datei", "Bearbeiten", "Extras", "?"}));
    EXPECT_EQ(action("menu_Neuer_Tarvelon")->text(), "Neuer Tarvelon");
    EXPECT_EQ(m_form->windowTitle(), "Ostracom Version " OSTRACOM_PROJECT_VERSION);
    EXPECT_EQ(list()->headerItem()->text(1), "Tarvelon Version");
    EXPECT_EQ(currentLanguage(), "DEUTSCH");
    EXPECT_EQ(m_db->languageSetting(), "DEUTSCH");
    EXPECT_TRUE(m_form->isIdle());
    saveScreenshot(m_form.get(), QStringLiteral("german"));
}
