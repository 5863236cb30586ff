#include "ui/tarvelon_add.h"

#include "store/strings.h"
#include "ui/ostracom_form.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TarvelonAdd::TarvelonAdd(std::function<QStringList(int)> availablePorts, QWidget *parent)
    : QDialog(parent), m_availablePorts(std::move(availablePorts))
{
    setObjectName(QStringLiteral("TarvelonAdd"));
    setAttribute(Qt::WA_DeleteOnClose);

    ComCon = new QRadioButton(ms("RS232/ComPort"), this);
    ComCon->setObjectName(QStringLiteral("ComCon"));
    ComCon->setChecked(true);
    SockCom = new QRadioButton(ms("TCP/IP"), this);
    SockCom->setObjectName(QStringLiteral("SockCom"));
    lbadress = new QLabel(this);
    lbadress->setObjectName(QStringLiteral("lbadress"));
    lbadress->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    combo_comport = new QComboBox(this);
    combo_comport->setObjectName(QStringLiteral("combo_comport"));
    combo_comport->setMinimumContentsLength(16);
    txtadress = new QLineEdit(QString::fromLatin1(kDefaultAddress), this);
    txtadress->setObjectName(QStringLiteral("txtadress"));
    txtadress->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 24);
    lbadress->setBuddy(txtadress);
    cmdAdd = new QPushButton(this);
    cmdAdd->setObjectName(QStringLiteral("cmdAdd"));
    cmdAdd->setDefault(true);
    Command1 = new QPushButton(ms("Abbrechen"), this);
    Command1->setObjectName(QStringLiteral("Command1"));

    auto *kinds = new QHBoxLayout;
    kinds->addWidget(ComCon);
    kinds->addWidget(SockCom);
    kinds->addStretch();
    auto *address = new QHBoxLayout;
    address->addWidget(lbadress);
    address->addWidget(combo_comport, 1);
    address->addWidget(txtadress, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdAdd);
    buttons->addWidget(Command1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(kinds);
    layout->addLayout(address);
    layout->addStretch();
    layout->addLayout(buttons);

    connect(ComCon, &QRadioButton::clicked, this, &TarvelonAdd::showSerialLayout);
    connect(SockCom, &QRadioButton::clicked, this, &TarvelonAdd::showTcpLayout);
    connect(cmdAdd, &QPushButton::clicked, this, &TarvelonAdd::accept);
    connect(Command1, &QPushButton::clicked, this, &TarvelonAdd::reject);

    display_language();
}

LinkParams TarvelonAdd::tcpTarget(const QString &text)
{
    if (const auto parsed = parseControllerAddress(QStringLiteral("tcp:") + text, nullptr))
        return *parsed;
    return LinkParams{false, text, QString::fromLatin1(kTcpPort)};
}

void TarvelonAdd::display_language()
{
    cmdAdd->setText(ms("OK"));
    lbadress->setText(ms("Com Port Nr:"));
    txtadress->hide();
    combo_comport->show();
    setWindowTitle(ms("Neuen Tarvelon hinzufügen"));

    combo_comport->clear();
    if (m_availablePorts)
        combo_comport->addItems(m_availablePorts(OstracomForm::kMaxComports));
    if (combo_comport->count() > 0) {
        combo_comport->setCurrentIndex(0);
    } else {
        // No free port: only TCP can be chosen.
        SockCom->setChecked(true);
        showTcpLayout();
        ComCon->setEnabled(false);
    }
}

void TarvelonAdd::showSerialLayout()
{
    lbadress->setText(ms("Com Port Nr:"));
    txtadress->hide();
    combo_comport->show();
}

void TarvelonAdd::showTcpLayout()
{
    lbadress->setText(ms("IP Adresse:"));
    txtadress->show();
    combo_comport->hide();
}

void TarvelonAdd::accept()
{
    bool serial = false;
    QString address;
    QString setting;
    if (ComCon->isChecked()) {
        serial = true;
        address = combo_comport->currentText();
        setting = QString::fromLatin1(kSerialSetting);
    } else {
        const LinkParams target = tcpTarget(txtadress->text());
        address = target.address;
        setting = target.setting;
    }
    m_answered = true;
    QDialog::accept();
    emit TryConnect(serial, address, setting);
}

void TarvelonAdd::reject()
{
    // Also reached through the close box, which must act as Cancel, and while an accepted
    // dialog closes, which must not.
    const bool first = !m_answered;
    m_answered = true;
    QDialog::reject();
    if (first)
        emit CancelConnect();
}
