#include "ui/ostracom_language.h"

#include "model/error_text.h"
#include "store/store_error.h"
#include "store/strings.h"
#include "ui/ostracom_form.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>

OstracomLanguage::OstracomLanguage(OstracomForm &form) : QDialog(&form), m_form(form)
{
    setObjectName(QStringLiteral("OstracomLanguage"));
    setWindowTitle(ms("Sprache - Language"));
    combo_languageselect = new QComboBox(this);
    combo_languageselect->setObjectName(QStringLiteral("combo_languageselect"));
    combo_languageselect->setMinimumContentsLength(16);
    Command_ok = new QPushButton(ms("OK"), this);
    Command_ok->setObjectName(QStringLiteral("Command_ok"));
    Command_ok->setDefault(true);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(combo_languageselect, 1);
    layout->addWidget(Command_ok);

    QStringList languages;
    try {
        languages = form.database().languages();
    } catch (const StoreError &e) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), errorText(e.error()), QMessageBox::Ok,
                        &form);
        box.exec();
    }
    combo_languageselect->addItems(languages);
    // Nothing is selected when the current language is not among them.
    combo_languageselect->setCurrentIndex(
        combo_languageselect->findText(currentLanguage(), Qt::MatchFixedString));

    connect(Command_ok, &QPushButton::clicked, this, &OstracomLanguage::Command_ok_Click);
}

void OstracomLanguage::Command_ok_Click()
{
    const QString language = combo_languageselect->currentText();
    if (language.isEmpty()) {
        reject();
        return;
    }
    if (const Error problem = initProgram(m_form.database(), language); !problem.ok()) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), errorText(problem), QMessageBox::Ok,
                        this);
        box.exec();
        return;
    }
    m_form.display_language();
    try {
        m_form.database().saveLanguageSetting(language);
    } catch (const StoreError &e) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), errorText(e.error()), QMessageBox::Ok,
                        this);
        box.exec();
    }
    accept();
}
