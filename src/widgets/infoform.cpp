#include "widgets/infoform.h"

#include "store/strings.h"

#include "ostracom_version.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QSysInfo>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QVersionNumber>

namespace
{

const char *const kProgramTitle = "Ostracom";

QFrame *separator(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

Infoform::Infoform(QWidget *parent) : QDialog(parent)
{
    const QString title = QString::fromLatin1(kProgramTitle);
    setWindowTitle(ms("Info zu ") + title);

    picIcon = new QLabel(this);
    picIcon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(48, 48));
    picIcon->setAlignment(Qt::AlignTop);
    lblTitle = new QLabel(title, this);
    QFont big = lblTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    lblTitle->setFont(big);
    const QVersionNumber version = QVersionNumber::fromString(QLatin1String(kOstracomVersion));
    lblVersion = new QLabel(ms("Version ") + QStringLiteral("%1.%2.%3")
                                                 .arg(version.majorVersion())
                                                 .arg(version.minorVersion())
                                                 .arg(version.microVersion()),
                            this);
    lblDescription = new QLabel(
        ms("Konfiguration des SMS Controllers und Überwachung der Tarvelon Regler"), this);
    QString notice = ms("Dieses Programm wird ohne jede Gewährleistung bereitgestellt.");
    if (!QCoreApplication::organizationName().isEmpty())
        notice += u'\n' + QCoreApplication::organizationName();
    lblDisclaimer = new QLabel(notice, this);
    lblDisclaimer->setWordWrap(true);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(ms("&Systeminfo..."), this);

    auto *texts = new QVBoxLayout;
    texts->addWidget(lblTitle);
    texts->addWidget(lblVersion);
    texts->addWidget(lblDescription);
    auto *head = new QHBoxLayout;
    head->addWidget(picIcon);
    head->addLayout(texts, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdSysInfo);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(separator(this));
    layout->addWidget(lblDisclaimer);
    layout->addWidget(separator(this));
    layout->addLayout(buttons);

    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(cmdSysInfo, &QPushButton::clicked, this, [this] { StartSysInfo(this); });
}

QList<QPair<QString, QString>> Infoform::systemFacts()
{
    return {
        {QString::fromUtf8(msKey("Programm")),
         QStringLiteral("%1 %2").arg(QLatin1String(kProgramTitle),
                                     QLatin1String(kOstracomVersion))},
        {QString::fromUtf8(msKey("Qt Version")),
         QStringLiteral("%1 (%2)").arg(QLatin1String(qVersion()), QLatin1String(QT_VERSION_STR))},
        {QString::fromUtf8(msKey("Betriebssystem")), QSysInfo::prettyProductName()},
        {QString::fromUtf8(msKey("Kernel")),
         QSysInfo::kernelType() + u' ' + QSysInfo::kernelVersion()},
        {QString::fromUtf8(msKey("Prozessorarchitektur")), QSysInfo::currentCpuArchitecture()},
        {QString::fromUtf8(msKey("Prozessoren")), QString::number(QThread::idealThreadCount())},
        {QString::fromUtf8(msKey("Rechnername")), QSysInfo::machineHostName()},
        {QString::fromUtf8(msKey("Sprache")), QLocale().name()},
        {QString::fromUtf8(msKey("Datenordner")),
         QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)},
    };
}

void Infoform::StartSysInfo(QWidget *parent)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("sysInfo"));
    dialog.setWindowTitle(ms("Systeminformationen"));
    auto *list = new QTreeWidget(&dialog);
    list->setColumnCount(2);
    list->setHeaderHidden(true);
    list->setRootIsDecorated(false);
    for (const auto &[key, value] : systemFacts())
        list->addTopLevelItem(new QTreeWidgetItem({ms(key), value}));
    list->resizeColumnToContents(0);
    auto *close = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(close, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    layout->addWidget(close);
    dialog.resize(560, 300);
    dialog.exec();
}
