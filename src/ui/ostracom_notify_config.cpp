#include "ui/ostracom_notify_config.h"

#include "model/error_text.h"
#include "service/link_worker.h"
#include "store/alarm_quality.h"
#include "store/database.h"
#include "store/mail.h"
#include "store/strings.h"
#include "ui/ostracom_form.h"
#include "widgets/gui_interaction.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <memory>

namespace
{

QLineEdit *textBox(const char *name, const QString &text, QWidget *parent)
{
    auto *box = new QLineEdit(text, parent);
    box->setObjectName(QLatin1String(name));
    box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 36);
    return box;
}

} // namespace

OstracomNotifyConfig::OstracomNotifyConfig(OstracomForm &form) : QDialog(&form), m_form(form)
{
    setObjectName(QStringLiteral("OstracomNotifyConfig"));
    setWindowTitle(ms("Notify config"));

    const MailSettings settings = form.mailSettings();
    text_Server = textBox("text_Server", settings.servername, this);
    text_Empfaenger = textBox("text_Empfaenger", settings.receiver, this);
    text_Sender = textBox("text_Sender", settings.sender, this);
    text_username = textBox("text_username", settings.username, this);
    text_passwort = textBox("text_passwort", settings.passwort, this);
    text_passwort->setEchoMode(QLineEdit::Password);
    email_enabled = new QCheckBox(ms("Email"), this);
    email_enabled->setObjectName(QStringLiteral("email_enabled"));
    email_enabled->setChecked(settings.enabled != 0);
    text_KeineDaten = new QSpinBox(this);
    text_KeineDaten->setObjectName(QStringLiteral("text_KeineDaten"));
    text_KeineDaten->setRange(0, kAlarmQualityMaxSeconds);
    text_KeineDaten->setSpecialValueText(ms("Aus"));
    try {
        text_KeineDaten->setValue(form.database().staleAlarmSeconds());
    } catch (const StoreError &e) {
        // Shown as off; saving writes the value the box holds then.
        text_KeineDaten->setToolTip(errorText(e.error()));
    }
    Command1 = new QPushButton(ms("Einstellungen speichern und jetzt testen"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2 = new QPushButton(ms("OK"), this);
    Command2->setObjectName(QStringLiteral("Command2"));

    auto *fields = new QFormLayout;
    fields->addRow(ms("SMTP Server"), text_Server);
    fields->addRow(ms("Username"), text_username);
    fields->addRow(ms("Password"), text_passwort);
    fields->addRow(ms("Sender Email adress"), text_Sender);
    fields->addItem(new QSpacerItem(0, fontMetrics().height() / 2));
    fields->addRow(QString(), email_enabled);
    fields->addRow(new QLabel(ms("Warnings and alarms will be sent to:"), this));
    fields->addRow(ms("Receiver Email adress"), text_Empfaenger);
    fields->addRow(ms("Alarm, wenn ein Tarvelon keine Daten liefert, nach [s]"), text_KeineDaten);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addSpacing(fontMetrics().height());
    layout->addLayout(buttons);

    connect(Command1, &QPushButton::clicked, this, &OstracomNotifyConfig::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &OstracomNotifyConfig::reject);
}

bool OstracomNotifyConfig::save()
{
    MailSettings settings;
    settings.servername = text_Server->text();
    settings.receiver = text_Empfaenger->text();
    settings.sender = text_Sender->text();
    settings.username = text_username->text();
    settings.passwort = text_passwort->text();
    settings.enabled = email_enabled->isChecked() ? 1 : 0;
    text_KeineDaten->interpretText();
    const int staleSeconds = text_KeineDaten->value();
    try {
        m_form.database().saveMailSettings(settings);
        m_form.database().saveStaleAlarmSeconds(staleSeconds);
    } catch (const StoreError &e) {
        QMessageBox box(QMessageBox::Warning, ms("Ostracom Warnungs- und Alarmnotifikation"),
                        errorText(e.error()), QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    m_form.setMailSettings(settings);
    return true;
}

void OstracomNotifyConfig::Command1_Click()
{
    if (m_testRunning || !save())
        return;
    const MailSettings account = m_form.mailSettings();
    const QString dataDir = m_form.dataDir();
    const QString subject = ms("Ostracom---Testnachricht");
    const QString body = ms("Nachricht wurde gesendet am ") + OstracomForm::nowText();

    // Sending may take up to the mail time-out: it goes to the worker, and the dialog waits
    // with its buttons off.
    m_testRunning = true;
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    setCursor(Qt::BusyCursor);
    auto result = std::make_shared<QString>();
    m_form.linkWorker().run(
        [account, dataDir, subject, body, result] {
            const Notification sent = sendNotification(account, dataDir, subject, body);
            // The mail may have gone out, but the user must hear that the log failed.
            *result = !sent.status.isEmpty() || sent.logFailure.ok() ? sent.status
                                                                     : errorText(sent.logFailure);
        },
        [this, result](const QString &failure) {
            m_testRunning = false;
            unsetCursor();
            Command1->setEnabled(true);
            Command2->setEnabled(true);
            const QString outcome = failure.isEmpty() ? *result : failure;
            const QString text =
                outcome.isEmpty()
                    ? ms("Der Test wurde erfolgreich initiert. Bitte prüfen Sie nun Ihre "
                         "Benachrichtigung.")
                    : ms("Beim starten des Test ist folgender aufgetreten: ") + outcome;
            QMessageBox box(QMessageBox::Information,
                            ms("Ostracom Warnungs- und Alarmnotifikation"),
                            GuiInteraction::boxText(text), QMessageBox::Ok, this);
            box.exec();
        });
}

void OstracomNotifyConfig::reject()
{
    // Closing waits for the test's answer, which comes back to this dialog.
    if (m_testRunning)
        return;
    QDialog::reject();
}
