#pragma once

#include <QDialog>

class OstracomForm;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The alarm e-mail settings: server, addresses and account, the on/off switch, and a test
// mail that goes out with the settings just saved.
class OstracomNotifyConfig : public QDialog
{
    Q_OBJECT
public:
    explicit OstracomNotifyConfig(OstracomForm &form);

    // True while the test mail is on its way; the dialog cannot be closed then.
    bool testRunning() const { return m_testRunning; }

private:
    // Writes the six values and the no-data alarm to the settings row and hands them to the
    // main window.
    bool save();
    void Command1_Click();
    void reject() override;

    OstracomForm &m_form;
    bool m_testRunning = false;

    QLineEdit *text_Server = nullptr;
    QLineEdit *text_Empfaenger = nullptr;
    QLineEdit *text_Sender = nullptr;
    QLineEdit *text_username = nullptr;
    QLineEdit *text_passwort = nullptr;
    QCheckBox *email_enabled = nullptr;
    QSpinBox *text_KeineDaten = nullptr; // seconds without data before the alarm, 0: off
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
};
