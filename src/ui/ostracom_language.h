#pragma once

#include <QDialog>

class OstracomForm;
class QComboBox;
class QPushButton;

// Chooses the language of the program from the languages of the database. The choice
// re-labels the main window at once and is stored for the next start.
class OstracomLanguage : public QDialog
{
    Q_OBJECT
public:
    explicit OstracomLanguage(OstracomForm &form);

private:
    void Command_ok_Click();

    OstracomForm &m_form;
    QComboBox *combo_languageselect = nullptr;
    QPushButton *Command_ok = nullptr;
};
