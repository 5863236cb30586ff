#include "display/ui/hydo_logbuch.h"

#include "model/error_text.h"
#include "store/database.h"
#include "store/store_error.h"
#include "store/strings.h"
#include "widgets/gui_interaction.h"
#include "widgets/masked_edit.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{
const char *const kTimeMask = "##.##.#### ##:##:##";
constexpr int kTimeBoxTwips = 2400;

QDateTime toSecond(const QDateTime &t)
{
    return t.addMSecs(-t.time().msec());
}
} // namespace

HydoLogbuch::HydoLogbuch(Database &db, QWidget *parent) : QDialog(parent), m_db(db)
{
    setObjectName(QStringLiteral("HydoLogbuch"));
    setModal(true);
    mask_zeitpunkt = new MaskedEdit(this);
    mask_zeitpunkt->setObjectName(QStringLiteral("mask_zeitpunkt"));
    mask_zeitpunkt->setMaskAndFormat(QLatin1String(kTimeMask), QLatin1String(kDisplayFormat),
                                     kTimeBoxTwips);
    connect(mask_zeitpunkt, &MaskedEdit::validating, this,
            [this](bool *keepFocus) { *keepFocus = !checkTime(); });
    text_bemerkung = new QPlainTextEdit(this);
    text_bemerkung->setObjectName(QStringLiteral("text_bemerkung"));
    text_bemerkung->setTabChangesFocus(true);
    cmd_ok = new QPushButton(this);
    cmd_ok->setObjectName(QStringLiteral("cmd_ok"));
    cmd_ok->setDefault(true);
    cmd_delete = new QPushButton(this);
    cmd_delete->setObjectName(QStringLiteral("cmd_delete"));
    connect(cmd_ok, &QPushButton::clicked, this, &HydoLogbuch::ok);
    connect(cmd_delete, &QPushButton::clicked, this, &HydoLogbuch::deleteEntry);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(cmd_delete);
    buttons->addStretch();
    buttons->addWidget(cmd_ok);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(mask_zeitpunkt);
    layout->addWidget(text_bemerkung);
    layout->addLayout(buttons);
    resize(420, 240);
}

bool HydoLogbuch::init(const QDateTime &time, bool isNew)
{
    m_time = toSecond(time);
    m_new = isNew;
    cmd_ok->setText(ms("OK"));
    cmd_delete->setText(ms("Eintrag löschen"));
    mask_zeitpunkt->showDateTime(m_time);
    text_bemerkung->clear();
    try {
        if (!isNew) {
            setWindowTitle(ms("Logbuch Eintrag bearbeiten ..."));
            // An entry that is gone meanwhile shows an empty text; OK stores it anew.
            text_bemerkung->setPlainText(m_db.logbookText(m_time).value_or(QString()));
            return true;
        }
        setWindowTitle(ms("Neuer Logbuch Eintrag ..."));
        if (!m_db.createLogbookEntry(m_time, QString())) {
            // Never over an entry of the same second.
            warn(ms("Zum eingegeben Zeitpunkt existiert bereits ein Logbucheintrag."));
            m_new = false;
            return false;
        }
    } catch (const StoreError &e) {
        showStoreError(errorText(e.error()));
        m_new = false;
        return false;
    }
    return true;
}

bool HydoLogbuch::checkTime()
{
    const QDateTime when = mask_zeitpunkt->dateTime();
    mask_zeitpunkt->setText(mask_zeitpunkt->filledText());
    if (!when.isValid()) {
        warn(ms("Bitte Datumseingabe überprüfen !"));
        mask_zeitpunkt->setModified(true);
        return false;
    }
    try {
        if (when != m_time && m_db.logbookText(when).has_value()) {
            warn(ms("Zum eingegeben Zeitpunkt existiert bereits ein Logbucheintrag.\r\n"
                    "Datumsänderung wurde abgebrochen !"));
            mask_zeitpunkt->setModified(true);
            return false;
        }
    } catch (const StoreError &e) {
        showStoreError(errorText(e.error()));
        mask_zeitpunkt->setModified(true);
        return false;
    }
    return true;
}

void HydoLogbuch::ok()
{
    if (!mask_zeitpunkt->commit())
        return;
    const QDateTime when = mask_zeitpunkt->dateTime();
    if (!when.isValid()) {
        warn(ms("Bitte Datumseingabe überprüfen !"));
        return;
    }
    try {
        if (!m_db.moveLogbookEntry(m_time, when, text_bemerkung->toPlainText())) {
            warn(ms("Zum eingegeben Zeitpunkt existiert bereits ein Logbucheintrag.\r\n"
                    "Datumsänderung wurde abgebrochen !"));
            return;
        }
    } catch (const StoreError &e) {
        showStoreError(errorText(e.error()));
        return;
    }
    m_time = when;
    m_new = false;
    accept();
}

void HydoLogbuch::deleteEntry()
{
    const auto answer = QMessageBox::question(this, ms("Löschen bitte bestätigen ..."),
                                              ms("Diesen Logbucheintrag wirklich löschen ?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes)
        return;
    try {
        m_db.deleteLogbookEntry(m_time);
    } catch (const StoreError &e) {
        showStoreError(errorText(e.error()));
        return;
    }
    m_new = false;
    accept();
}

void HydoLogbuch::reject()
{
    // Escape and the close box: a new entry is discarded only when the user agrees.
    if (m_new) {
        const auto answer = QMessageBox::question(
            this, ms("Bitte bestätigen ..."), ms("Diesen Logbucheintrag wirklich verwerfen ?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer != QMessageBox::Yes)
            return;
        try {
            m_db.deleteLogbookEntry(m_time); // the entry made when the window opened
        } catch (const StoreError &e) {
            showStoreError(errorText(e.error()));
            return;
        }
        m_new = false;
    }
    QDialog::reject();
}

void HydoLogbuch::warn(const QString &text)
{
    QMessageBox::warning(this, ms("Achtung"), GuiInteraction::boxText(text));
}

void HydoLogbuch::showStoreError(const QString &message)
{
    QMessageBox::warning(this, ms("Logbuch"), message);
}
