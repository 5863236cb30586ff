#include "sms/ui/vek_sms_modul_konfig.h"

#include "link/hydo_connect.h"
#include "service/link_worker.h"
#include "store/strings.h"
#include "widgets/form_table.h"
#include "widgets/gui_interaction.h"
#include "widgets/infoform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStatusBar>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace
{

constexpr int kTimerMs = 1000;
// As many ports as the list ever offered (numbers 1 to 16).
constexpr int kMaxPorts = 16;
constexpr int kNumberWidth = 20;
constexpr int kTextWidth = 16;
constexpr int kLastMinute = 59;
// Causes by list index, where the window's rules differ.
constexpr int kCauseOff = 0;
constexpr int kCauseDailyInfo = 3;
constexpr int kCauseCallInfo = 4;
constexpr int kCauseFirstInput = 5;
constexpr int kCauseLastInput = 8;
constexpr int kCausePowerFailure = 10;

enum Column { ColMobile, ColService, ColText, ColCause, ColWiring, ColTime, ColumnCount };

const QString kCr = QStringLiteral("\r");

QString listText(const QStringList &keys, int code)
{
    // A code beyond the list (a blank or foreign device) shows as empty.
    return code >= 0 && code < keys.size() ? ms(keys.at(code)) : QString();
}

int listIndex(const QStringList &keys, const QString &text)
{
    for (int i = 0; i < keys.size(); ++i)
        if (ms(keys.at(i)) == text)
            return i;
    return -1;
}

// What the raw image looks like as text: one line per configuration, anything that is no
// printable character as ".".
QString imageText(const QByteArray &image)
{
    QString text;
    for (int n = 0; n * cHydoSmsModul::kRecordLength < image.size(); ++n) {
        const QByteArray record =
            image.mid(n * cHydoSmsModul::kRecordLength, cHydoSmsModul::kRecordLength);
        for (const char c : record)
            text += quint8(c) >= 0x20 && quint8(c) != 0x7F ? QChar(quint8(c)) : QChar(u'.');
        text += u'\n';
    }
    return text;
}

QString hexByte(quint8 value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

vekSMSModulKonfig::vekSMSModulKonfig(QWidget *parent) : vekSMSModulKonfig(Environment{}, parent)
{
}

vekSMSModulKonfig::vekSMSModulKonfig(Environment environment, QWidget *parent)
    : QMainWindow(parent), m_env(std::move(environment))
{
    if (!m_env.availablePorts)
        m_env.availablePorts = [] { return cHydoConnect::Avaible_Comports(kMaxPorts); };
    if (!m_env.chooseFile)
        m_env.chooseFile = [](QWidget *parent, bool save) {
            QFileDialog dialog(parent, ms("Konfigurationsdatei öffnen"), QDir::currentPath(),
                               ms("Konfigurationsdateien") + QStringLiteral(" (*.cfg)"));
            // The program's own dialog, the same on every desktop, so that its file name box can
            // be typed into and confirmed with Enter wherever the program runs.
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
            dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
            // The dialog adds the extension itself, so its question before replacing a file
            // is about the file that is really written.
            dialog.setDefaultSuffix(QStringLiteral("cfg"));
            return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
        };
    m_interaction = new GuiInteraction(this, this);
    m_progress = std::make_unique<GuiProgress>(
        this, [this](const QString &text, qint64 current, qint64 maximum) {
            statustext2->setText(text);
            ProgressBar1->setMaximum(int(qMax<qint64>(1, maximum)));
            ProgressBar1->setValue(int(qBound<qint64>(0, current, qMax<qint64>(1, maximum))));
        });
    m_worker = std::make_unique<LinkWorker>();

    buildWindow();
    buildMenus();
    display_language();

    for (int n = 1; n <= cHydoSmsModul::kConfigurations; ++n) {
        paramlistfield->setItem(n - 1, ColMobile, new QTableWidgetItem);
        paramlistfield->setItem(n - 1, ColService, new QTableWidgetItem);
        paramlistfield->setItem(n - 1, ColText, new QTableWidgetItem);
        paramlistfield->setItem(n - 1, ColCause, new QTableWidgetItem(ms("AUS")));
        paramlistfield->setItem(n - 1, ColWiring, new QTableWidgetItem(ms("kein")));
        paramlistfield->setItem(n - 1, ColTime, new QTableWidgetItem(QStringLiteral("00:00")));
        // The device cannot store these: shown greyed, refused when chosen.
        if (cHydoSmsModul::isReserved(n))
            for (int c = 0; c < ColumnCount; ++c)
                paramlistfield->item(n - 1, c)->setForeground(
                    palette().brush(QPalette::Disabled, QPalette::Text));
    }
    // The record starts as the table shows it: every configuration off, time 0. A blank
    // record (spaces) would reach the device as cause 32 and a time of 137:04.
    for (int n = 1; n <= cHydoSmsModul::kConfigurations; ++n)
        m_record.clear(n);
    Combo1->setCurrentIndex(0);
    Combo2->setCurrentIndex(0);
    Avaible_ComportsSms();
    // The first number the device can store.
    setNumber(2);
    loadRow(2);

    connect(&Timer1, &QTimer::timeout, this, &vekSMSModulKonfig::Timer1_Timer);
    Timer1.start(kTimerMs);
    Timer1_Timer();
}

vekSMSModulKonfig::~vekSMSModulKonfig()
{
    Stunden->removeEventFilter(this);
    Minuten->removeEventFilter(this);
    // Boxes a job still asks for get the cautious answer, so the job can end.
    m_interaction->shutDown();
    m_worker.reset();
}

vekSMSModulKonfig *vekSMSModulKonfig::showModal(const QStringList &portsInUse)
{
    Environment environment;
    environment.portsInUse = portsInUse;
    auto *window = new vekSMSModulKonfig(std::move(environment));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowModality(Qt::ApplicationModal);
    window->show();
    return window;
}

bool vekSMSModulKonfig::busy() const
{
    return m_busy;
}

QGroupBox *vekSMSModulKonfig::buildEditGroup(QWidget *parent)
{
    using form::Kind;
    auto *edit = new QGroupBox(parent);
    edit->setObjectName(QStringLiteral("editGroup"));
    auto *grid = new QGridLayout(edit);
    // Columns 1 to 3 hold the small boxes of the number and the time, column 4 stretches;
    // the wide fields span all four.
    form::build(edit, grid,
                {
                    {Kind::Label, "lblNumber", msKey("Konfigurationsnummer"), 0, 0},
                    {Kind::LineEdit, "Text1", nullptr, 0, 1, 1, 1, Qt::AlignLeft},
                    {Kind::ToolButton, "Auf", nullptr, 0, 2},
                    {Kind::ToolButton, "Ab", nullptr, 0, 3, 1, 1, Qt::AlignLeft},
                    {Kind::Label, "lblMobile", msKey("Rufnummer"), 1, 0},
                    {Kind::LineEdit, "Text2", nullptr, 1, 1, 1, 4},
                    {Kind::Label, "lblService", msKey("Nr. Kurzmitteilungszentrale"), 2, 0},
                    {Kind::LineEdit, "Text4", nullptr, 2, 1, 1, 4},
                    {Kind::Label, "lblText", msKey("SMS Nachrichtentext"), 3, 0},
                    {Kind::LineEdit, "Text3", nullptr, 3, 1, 1, 4},
                    {Kind::Label, "lblCause", msKey("Ursache"), 4, 0},
                    {Kind::ComboBox, "Combo1", nullptr, 4, 1, 1, 4},
                    {Kind::Label, "lblWiring", msKey("Digitaler Eingang"), 5, 0},
                    {Kind::ComboBox, "Combo2", nullptr, 5, 1, 1, 4},
                    {Kind::Label, "lblTime", msKey("Zeit  / Intervall"), 6, 0},
                    {Kind::LineEdit, "Stunden", nullptr, 6, 1, 1, 1, Qt::AlignLeft},
                    {Kind::Label, "lblTimeSeparator", nullptr, 6, 2, 1, 1, Qt::AlignCenter},
                    {Kind::LineEdit, "Minuten", nullptr, 6, 3, 1, 1, Qt::AlignLeft},
                    {Kind::PushButton, "Einstellungenuebernehmen", msKey("Übernehmen"), 7, 0, 1, 3,
                     Qt::AlignRight},
                    {Kind::PushButton, "Einstellungenloeschen", msKey("Löschen"), 7, 3, 1, 2,
                     Qt::AlignRight},
                });
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(8, 1);
    form::control<QLabel>(edit, "lblTimeSeparator")->setText(QStringLiteral(":"));

    Text1 = form::control<QLineEdit>(edit, "Text1"); // the configuration number shown
    Text1->setReadOnly(true);
    Text1->setAlignment(Qt::AlignCenter);
    Text1->setMaximumWidth(48);
    Auf = form::control<QToolButton>(edit, "Auf");
    Auf->setArrowType(Qt::UpArrow);
    Ab = form::control<QToolButton>(edit, "Ab");
    Ab->setArrowType(Qt::DownArrow);
    Text2 = form::control<QLineEdit>(edit, "Text2"); // mobile number
    Text2->setMaxLength(kNumberWidth);
    Text4 = form::control<QLineEdit>(edit, "Text4"); // service centre number
    Text4->setMaxLength(kNumberWidth);
    Text3 = form::control<QLineEdit>(edit, "Text3"); // message text
    Text3->setMaxLength(kTextWidth);
    // The device stores 8-bit characters; control characters would end a line of the file
    // and a double quote its field.
    Text3->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[\\x{20}\\x{21}\\x{23}-\\x{7E}\\x{A0}-\\x{FF}]*")),
        Text3));
    Combo1 = form::control<QComboBox>(edit, "Combo1"); // cause
    Combo2 = form::control<QComboBox>(edit, "Combo2"); // digital input wiring
    Stunden = form::control<QLineEdit>(edit, "Stunden");
    Minuten = form::control<QLineEdit>(edit, "Minuten");
    for (QLineEdit *e : {Stunden, Minuten}) {
        e->setValidator(new QIntValidator(0, 99, e));
        e->setMaximumWidth(40);
    }
    Einstellungenuebernehmen = form::control<QPushButton>(edit, "Einstellungenuebernehmen");
    Einstellungenloeschen = form::control<QPushButton>(edit, "Einstellungenloeschen");
    return edit;
}

QGroupBox *vekSMSModulKonfig::buildDeviceGroup(QWidget *parent)
{
    using form::Kind;
    auto *device = new QGroupBox(parent);
    device->setObjectName(QStringLiteral("deviceGroup"));
    auto *grid = new QGridLayout(device);
    form::build(device, grid,
                {
                    {Kind::Label, "lblPort", msKey("PC Com Schnittstelle :"), 0, 0},
                    {Kind::ComboBox, "Schnittstelle", nullptr, 0, 1, 1, 3},
                    {Kind::Label, "lblVersion", msKey("SMS Controller Version :"), 1, 0},
                    {Kind::LineEdit, "release", nullptr, 1, 1},
                    {Kind::LineEdit, "subrelease", nullptr, 1, 2},
                    {Kind::PushButton, "Stringanzeigen", msKey("TestString anzeigen"), 2, 0, 1, 4},
                    {Kind::PlainTextEdit, "EingabeText", nullptr, 3, 0, 1, 4},
                });
    grid->setColumnStretch(3, 1);
    Schnittstelle = form::control<QComboBox>(device, "Schnittstelle"); // the device's port
    // Pseudo-terminals and links to devices are not listed: they can be typed in.
    Schnittstelle->setEditable(true);
    release = form::control<QLineEdit>(device, "release");
    subrelease = form::control<QLineEdit>(device, "subrelease");
    for (QLineEdit *e : {release, subrelease}) {
        e->setReadOnly(true);
        e->setMaximumWidth(40);
        e->setAlignment(Qt::AlignCenter);
        e->setText(QStringLiteral("??"));
    }
    Stringanzeigen = form::control<QPushButton>(device, "Stringanzeigen");
    EingabeText = form::control<QPlainTextEdit>(device, "EingabeText"); // the raw record
    EingabeText->setReadOnly(true);
    EingabeText->setLineWrapMode(QPlainTextEdit::NoWrap);
    EingabeText->setFont(QFont(QStringLiteral("Monospace")));
    return device;
}

QGroupBox *vekSMSModulKonfig::buildTableGroup(QWidget *parent)
{
    auto *table = new QGroupBox(ms("Konfigurationstabelle"), parent);
    table->setObjectName(QStringLiteral("tableGroup"));
    auto *layout = new QVBoxLayout(table);
    paramlistfield = new QTableWidget(cHydoSmsModul::kConfigurations, ColumnCount, table);
    paramlistfield->setObjectName(QStringLiteral("paramlistfield"));
    paramlistfield->setEditTriggers(QAbstractItemView::NoEditTriggers);
    paramlistfield->setSelectionBehavior(QAbstractItemView::SelectRows);
    paramlistfield->setSelectionMode(QAbstractItemView::SingleSelection);
    paramlistfield->verticalHeader()->setDefaultSectionSize(paramlistfield->fontMetrics().height() +
                                                            6);
    paramlistfield->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(paramlistfield);
    return table;
}

void vekSMSModulKonfig::buildWindow()
{
    auto *central = new QWidget(this);
    auto *left = new QVBoxLayout;
    left->addWidget(buildEditGroup(central));
    left->addWidget(buildDeviceGroup(central), 1);
    auto *top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(buildTableGroup(central), 1);

    statustext2 = new QLabel(central);
    statustext2->setObjectName(QStringLiteral("statustext2"));
    statustext2->setMinimumWidth(320);
    ProgressBar1 = new QProgressBar(central);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setValue(0);
    auto *progressRow = new QHBoxLayout;
    progressRow->addWidget(statustext2);
    progressRow->addWidget(ProgressBar1, 1);

    auto *outer = new QVBoxLayout(central);
    outer->addLayout(top, 1);
    outer->addLayout(progressRow);
    setCentralWidget(central);
    clockText = new QLabel(this);
    statusBar()->addPermanentWidget(clockText);
    connectControls();
    resize(1240, 660);
}

void vekSMSModulKonfig::connectControls()
{
    connect(Auf, &QToolButton::clicked, this, [this] {
        const int n = number() % cHydoSmsModul::kConfigurations + 1;
        setNumber(n);
        loadRow(n);
    });
    connect(Ab, &QToolButton::clicked, this, [this] {
        const int n = number() == 1 ? cHydoSmsModul::kConfigurations : number() - 1;
        setNumber(n);
        loadRow(n);
    });
    connect(paramlistfield, &QTableWidget::cellClicked, this, [this](int row, int) {
        setNumber(row + 1);
        loadRow(row + 1);
    });
    connect(Combo1, &QComboBox::activated, this, &vekSMSModulKonfig::onCauseSelected);
    // Leaving the field checks even when nothing was typed, which editingFinished misses.
    Stunden->installEventFilter(this);
    Minuten->installEventFilter(this);
    connect(Text2, &QLineEdit::textChanged, this,
            [this] { onNumberEdited(Text2, &m_lastMobile, false); });
    connect(Text4, &QLineEdit::textChanged, this,
            [this] { onNumberEdited(Text4, &m_lastService, true); });
    connect(Einstellungenuebernehmen, &QPushButton::clicked, this,
            &vekSMSModulKonfig::Einstellungenuebernehmen_Click);
    connect(Einstellungenloeschen, &QPushButton::clicked, this,
            &vekSMSModulKonfig::Einstellungenloeschen_Click);
    connect(Stringanzeigen, &QPushButton::clicked, this,
            [this] { EingabeText->setPlainText(imageText(m_record.HydoSmsModulString())); });
}

void vekSMSModulKonfig::buildMenus()
{
    auto action = [this](QMenu *menu, const char *name, void (vekSMSModulKonfig::*slot)()) {
        QAction *a = menu->addAction(QString());
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    QMenu *file = menuBar()->addMenu(QString());
    action(file, "mnuOpen", &vekSMSModulKonfig::openFile);
    action(file, "mnuSaveAs", &vekSMSModulKonfig::saveFile);
    file->addSeparator();
    QAction *quit = file->addAction(QString());
    quit->setObjectName(QStringLiteral("mnuExit"));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    QMenu *config = menuBar()->addMenu(QString());
    action(config, "mnuReadDevice", &vekSMSModulKonfig::readFromDevice);
    action(config, "mnuWriteDevice", &vekSMSModulKonfig::writeToDevice);
    QMenu *info = menuBar()->addMenu(QString());
    QAction *about = info->addAction(QString());
    about->setObjectName(QStringLiteral("mnuAbout"));
    connect(about, &QAction::triggered, this, [] {
        // Without owner, yet modal to the whole program as this window is.
        Infoform box;
        box.setWindowModality(Qt::ApplicationModal);
        box.exec();
    });
    action(info, "mnuVersion", &vekSMSModulKonfig::readVersion);
    action(info, "mnuReset", &vekSMSModulKonfig::resetDevice);
    m_menus = {file, config, info};
}

void vekSMSModulKonfig::display_language()
{
    setWindowTitle(ms("vek Telvara"));
    paramlistfield->setHorizontalHeaderLabels({ms("Rufnummer"), ms("SMS Service Nummer"),
                                               ms("SMS Nachrichtentext"), ms("Ursache"),
                                               ms("Digitaler Eingang"), ms("Zeit  [hh:mm]")});
    for (const QString &key : cHydoSmsModul::causeKeys())
        Combo1->addItem(ms(key));
    for (const QString &key : cHydoSmsModul::wiringKeys())
        Combo2->addItem(ms(key));
    // Wide enough for the longest value a column can hold, and for its heading.
    const QFontMetrics metrics = paramlistfield->fontMetrics();
    auto widest = [&](const QStringList &keys) {
        int w = 0;
        for (const QString &key : keys)
            w = qMax(w, metrics.horizontalAdvance(ms(key)));
        return w;
    };
    // Room for an international mobile number; longer ones scroll within the cell.
    const int digits = metrics.horizontalAdvance(QStringLiteral("+4917112345678"));
    const int widths[ColumnCount] = {digits,
                                     digits,
                                     metrics.horizontalAdvance(QString(kTextWidth, u'M')) * 3 / 4,
                                     widest(cHydoSmsModul::causeKeys()),
                                     widest(cHydoSmsModul::wiringKeys()),
                                     metrics.horizontalAdvance(QStringLiteral("00:00"))};
    auto *header = paramlistfield->horizontalHeader();
    const int padding = 16;
    for (int c = 0; c < ColumnCount; ++c)
        paramlistfield->setColumnWidth(
            c, qMax(widths[c], header->fontMetrics().horizontalAdvance(
                                   paramlistfield->horizontalHeaderItem(c)->text())) +
                   padding);

    auto text = [this](const char *name, const QString &t) {
        if (auto *a = findChild<QAction *>(QString::fromLatin1(name)))
            a->setText(t);
    };
    m_menus[0]->setTitle(ms("&Datei"));
    m_menus[1]->setTitle(ms("&Konfiguration..."));
    m_menus[2]->setTitle(ms("&Info"));
    text("mnuOpen", ms("&Öffnen..."));
    text("mnuSaveAs", ms("Speichern &unter..."));
    text("mnuExit", ms("&Beenden"));
    text("mnuReadDevice", ms("... &aus SMS Controller laden"));
    text("mnuWriteDevice", ms("... an SMS &Controller übertragen"));
    text("mnuAbout", ms("&Info über Telvara..."));
    text("mnuVersion", ms("SMS Controller &Version auslesen"));
    text("mnuReset", ms("Reset SMS Controller"));
}

void vekSMSModulKonfig::Avaible_ComportsSms()
{
    // Opening every port can take seconds: it runs on the worker, with the controls off.
    m_busy = true;
    setControlsEnabled(false);
    auto ports = std::make_shared<QStringList>();
    m_worker->run([this, ports] { *ports = m_env.availablePorts(); },
                  [this, ports](const QString &failure) {
                      for (const QString &used : std::as_const(m_env.portsInUse))
                          ports->removeAll(used);
                      Schnittstelle->clear();
                      Schnittstelle->addItems(*ports);
                      Schnittstelle->setCurrentIndex(Schnittstelle->count() > 0 ? 0 : -1);
                      setControlsEnabled(true);
                      m_busy = false;
                      if (!failure.isEmpty())
                          tellErrors(Error(ErrorCode::Runtime, failure));
                  });
}

int vekSMSModulKonfig::GetCombo1ListIndex(const QString &text)
{
    return listIndex(cHydoSmsModul::causeKeys(), text);
}

int vekSMSModulKonfig::GetCombo2ListIndex(const QString &text)
{
    return listIndex(cHydoSmsModul::wiringKeys(), text);
}

void vekSMSModulKonfig::setNumber(int n)
{
    Text1->setText(QString::number(n));
}

int vekSMSModulKonfig::number() const
{
    return Text1->text().toInt();
}

void vekSMSModulKonfig::stepAfterReserved(int n)
{
    m_interaction->tell(ms("Die SMS Nachricht der Konfigurationsnummer ") + QString::number(n) +
                            ms(" kann auf dem SMS Controller nicht richtig gespeichern werden !") +
                            kCr + kCr + ms("Verwenden Sie eine andere Konfigurationsnummer !"),
                        ms("Fehler"), Interaction::Icon::Exclamation);
    const int next = n % cHydoSmsModul::kConfigurations + 1;
    setNumber(next);
    loadRow(next);
}

void vekSMSModulKonfig::loadRow(int n)
{
    if (cHydoSmsModul::isReserved(n)) {
        stepAfterReserved(n);
        return;
    }
    paramlistfield->selectRow(n - 1);
    // Stored values are shown as they are: the typing rules and their boxes are for typing.
    m_filtering = true;
    m_lastMobile = paramlistfield->item(n - 1, ColMobile)->text();
    m_lastService = paramlistfield->item(n - 1, ColService)->text();
    Text2->setText(m_lastMobile);
    Text4->setText(m_lastService);
    m_filtering = false;
    Text3->setText(paramlistfield->item(n - 1, ColText)->text());
    const int cause = qMax(0, GetCombo1ListIndex(paramlistfield->item(n - 1, ColCause)->text()));
    Combo1->setCurrentIndex(cause);
    openFieldsFor(cause);
    m_lastCause = cause;
    if (cause >= kCauseFirstInput && cause <= kCauseLastInput)
        Combo2->setCurrentIndex(
            qMax(0, GetCombo2ListIndex(paramlistfield->item(n - 1, ColWiring)->text())));
    const QStringList time = paramlistfield->item(n - 1, ColTime)->text().split(u':');
    Stunden->setText(QString::number(time.value(0).toInt()));
    Minuten->setText(QString::number(time.value(1).toInt()));
}

void vekSMSModulKonfig::showRow(int n)
{
    const int row = n - 1;
    paramlistfield->item(row, ColMobile)
        ->setText(cHydoSmsModul::textOf(m_record.ee_mobile_number(n)));
    paramlistfield->item(row, ColService)
        ->setText(cHydoSmsModul::textOf(m_record.ee_service_number(n)));
    paramlistfield->item(row, ColText)->setText(cHydoSmsModul::textOf(m_record.ee_cause_name(n)));
    paramlistfield->item(row, ColCause)
        ->setText(listText(cHydoSmsModul::causeKeys(), m_record.ee_cause(n)));
    paramlistfield->item(row, ColWiring)
        ->setText(listText(cHydoSmsModul::wiringKeys(), m_record.ee_cause_ext(n)));
    const int minutes = m_record.ee_time(n);
    paramlistfield->item(row, ColTime)
        ->setText(minutes >= 0 ? cHydoSmsModul::timeText(minutes) : QString::number(minutes));
}

void vekSMSModulKonfig::refreshTable()
{
    for (int n = 1; n <= cHydoSmsModul::kConfigurations; ++n)
        showRow(n);
    if (!cHydoSmsModul::isReserved(number()))
        loadRow(number());
}

void vekSMSModulKonfig::onCauseSelected(int index)
{
    if (index != m_lastCause) {
        Stunden->setText(QStringLiteral("0"));
        Minuten->setText(QStringLiteral("0"));
    }
    openFieldsFor(index);
    m_lastCause = index;
    if (index == kCauseCallInfo && !Text2->text().startsWith(u'+')) {
        m_interaction->tell(ms("Zur Konfiguration der SMS-Nachricht  'Anruf Info'  müssen Sie "
                               "zuerst die Rufnummer") +
                                kCr +
                                ms("  mit internationaler Vorwahl (z.B. +49 für "
                                   "Deutschland) eingeben !"),
                            ms("Ursache: Anruf Info "), Interaction::Icon::Exclamation);
        Combo1->setCurrentIndex(kCauseOff);
        onCauseSelected(kCauseOff);
    }
}

void vekSMSModulKonfig::openFieldsFor(int index)
{
    const bool input = index >= kCauseFirstInput && index <= kCauseLastInput;
    Combo2->setEnabled(input);
    if (!input)
        Combo2->setCurrentIndex(0);
    const bool timeless =
        index == kCauseOff || index == kCauseCallInfo || index == kCausePowerFailure;
    Stunden->setEnabled(!timeless);
    Minuten->setEnabled(!timeless);
    if (timeless) {
        Stunden->setText(QStringLiteral("0"));
        Minuten->setText(QStringLiteral("0"));
    }
}

void vekSMSModulKonfig::onTimeLeft()
{
    if (Combo1->currentIndex() == kCauseDailyInfo || Text2->text().startsWith(u'+'))
        return;
    m_interaction->tell(
        ms("Zur Konfiguration der SMS-Nachricht mit Zeit- / Intervallangabe  muß zur Erkennung "
           "des Bestätigungsanrufes ") +
            kCr +
            ms(" zuerst die Rufnummer mit internationaler Vorwahl (z.B. +49 für Deutschland) "
               "eingegeben werden !"),
        ms("Ursache: Anruf Info "), Interaction::Icon::Exclamation);
}

void vekSMSModulKonfig::onNumberEdited(QLineEdit *field, QString *lastAccepted, bool serviceCentre)
{
    if (m_filtering)
        return;
    m_filtering = true;
    QString text = field->text();
    text.remove(QRegularExpression(QStringLiteral("[. ,]")));
    static const QRegularExpression number(QStringLiteral("^\\+?[0-9]*$"));
    bool accepted = number.match(text).hasMatch();
    if (serviceCentre && text.size() == 1 && text != QLatin1String("+"))
        accepted = false;
    if (accepted) {
        *lastAccepted = text;
        field->setText(text);
        field->setCursorPosition(int(text.size()));
    } else {
        field->setText(*lastAccepted);
        field->setCursorPosition(int(lastAccepted->size()));
    }
    m_filtering = false;

    if (!serviceCentre && accepted && text.size() == 1 && text != QLatin1String("+")) {
        m_interaction->tell(ms("Die Nummer der Rufnummer enthält keine internationale Vorwahl, "
                               "die mit '+' beginnt (z.B. +49 für Deutschland) ! ") +
                                kCr + kCr +
                                ms("Wenn Sie eine Zeit bzw. ein Intervall programmieren möchten, "
                                   "müssen Sie hier die internationale Vorwahl angeben ! "),
                            ms("Nummer der Kurzmitteilungszentrale"), Interaction::Icon::None);
    }
    if (serviceCentre && !accepted) {
        QApplication::beep();
        if (lastAccepted->isEmpty())
            m_interaction->tell(
                ms("Die Nummer der Kurzmitteilungszentrale muß mit der internationalen Vorwahl "
                   "beginnen !") +
                    kCr + kCr + ms("Beispiele:") + kCr + kCr +
                    ms("D2 Vodafone Deutschland: +491722270880") + kCr +
                    ms("D1 T-mobile Deutschland:   +491710760315") + kCr +
                    ms("A1                Östereich:       +436640501   ") + kCr +
                    ms("swisscom mobile Schweiz:   +41794999000"),
                ms("Nummer der Kurzmitteilungszentrale"), Interaction::Icon::None);
    }
}

void vekSMSModulKonfig::Einstellungenuebernehmen_Click()
{
    const int n = number();
    if (cHydoSmsModul::isReserved(n)) {
        stepAfterReserved(n);
        return;
    }
    int minutes = Minuten->text().toInt();
    if (minutes > kLastMinute) {
        minutes = kLastMinute;
        Minuten->setText(QString::number(minutes));
    }
    const int hours = Stunden->text().toInt();
    // The validators let only Latin-1 text through; the record takes it byte for byte.
    m_record.set_ee_mobile_number(n, cHydoSmsModul::bytesOf(Text2->text()));
    m_record.set_ee_service_number(n, cHydoSmsModul::bytesOf(Text4->text()));
    m_record.set_ee_cause_name(n, cHydoSmsModul::bytesOf(Text3->text()));
    m_record.set_ee_cause(n, quint8(qMax(0, Combo1->currentIndex())));
    m_record.set_ee_cause_ext(n, quint8(qMax(0, Combo2->currentIndex())));
    m_record.set_ee_time(n, qint16(hours * 60 + minutes));
    showRow(n);
    const int next = n % cHydoSmsModul::kConfigurations + 1;
    setNumber(next);
    loadRow(next);
}

void vekSMSModulKonfig::Einstellungenloeschen_Click()
{
    const int n = number();
    m_record.clear(n);
    showRow(n);
    Text2->clear();
    Text4->clear();
    Text3->clear();
    Combo1->setCurrentIndex(kCauseOff);
    onCauseSelected(kCauseOff);
    Stunden->setText(QStringLiteral("0"));
    Minuten->setText(QStringLiteral("0"));
}

void vekSMSModulKonfig::Timer1_Timer()
{
    Timer1.stop();
    if (m_exitRequested) {
        const auto answer =
            m_interaction->ask(Interaction::Question::ExitProgram, ms("Telvara wirklich beenden ?"),
                               QString(), Interaction::Buttons::YesNo);
        if (answer == Interaction::Answer::Yes) {
            m_exitConfirmed = true;
            close();
            return;
        }
        m_exitRequested = false;
    } else {
        clockText->setText(QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat));
    }
    Timer1.start(kTimerMs);
}

bool vekSMSModulKonfig::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == Stunden || watched == Minuten) && event->type() == QEvent::FocusOut) {
        // A box or menu taking the focus for a moment, or the field closed under the cursor
        // (a cause without time, a transfer starting), is no leaving of the field.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            static_cast<QWidget *>(watched)->isEnabled())
            onTimeLeft();
    }
    return QMainWindow::eventFilter(watched, event);
}

void vekSMSModulKonfig::closeEvent(QCloseEvent *event)
{
    if (m_exitConfirmed) {
        event->accept();
        return;
    }
    // The next tick asks; a device operation in progress keeps the timer stopped until it ends.
    m_exitRequested = true;
    event->ignore();
}

bool vekSMSModulKonfig::askOverwrite(const QString &question)
{
    return m_interaction->ask(Interaction::Question::ReplaceSmsTable,
                              question + kCr + kCr +
                                  ms("Die aktuellen Eintragungen in der Konfigurationstabelle "
                                     "werden dabei überschrieben !"),
                              ms("Warnung"), Interaction::Buttons::YesNo,
                              Interaction::Icon::Question) == Interaction::Answer::Yes;
}

void vekSMSModulKonfig::tellErrors(const Error &error)
{
    for (const SmsMessage &m : smsMessages(error))
        m_interaction->tell(m.text, m.title, m.icon);
}

void vekSMSModulKonfig::openFile()
{
    if (!askOverwrite(ms("Möchten Sie eine neue Konfigurationsdatei öffnen ?")))
        return;
    const QString path = m_env.chooseFile(this, false);
    if (path.isEmpty())
        return;
    cHydoSmsModul read;
    QString raw;
    const Error error = openSmsConfigFile(path, &read, &raw);
    EingabeText->setPlainText(raw);
    if (!error.ok()) {
        tellErrors(error);
        return;
    }
    m_record = read;
    refreshTable();
}

void vekSMSModulKonfig::saveFile()
{
    const QString path = m_env.chooseFile(this, true);
    if (path.isEmpty())
        return;
    tellErrors(saveSmsConfigFile(path, m_record, portNumberOf(Schnittstelle->currentText())));
}

void vekSMSModulKonfig::runDeviceOperation(std::function<Error(cSmsController &)> operation,
                                           std::function<void(const Error &)> after)
{
    if (m_busy)
        return;
    m_busy = true;
    Timer1.stop();
    setControlsEnabled(false);
    const QString port = Schnittstelle->currentText();
    auto result = std::make_shared<Error>();
    // The controller and its port are made, used and dropped on the worker's thread.
    m_worker->run(
        [this, port, operation, result] {
            cSmsController sms(m_env.transports, *m_env.clock, *m_progress);
            sms.setPort(port);
            *result = operation(sms);
        },
        [this, after, result](const QString &failure) {
            if (!failure.isEmpty())
                *result = Error(ErrorCode::Runtime, failure);
            tellErrors(*result);
            setControlsEnabled(true);
            after(*result);
            m_busy = false;
            Timer1.start(kTimerMs);
        });
}

void vekSMSModulKonfig::setControlsEnabled(bool enabled)
{
    // Edits made during a write would not be sent, and during a read be overwritten.
    for (QMenu *menu : m_menus)
        menu->menuAction()->setEnabled(enabled);
    for (const char *name : {"editGroup", "tableGroup", "deviceGroup"})
        findChild<QWidget *>(QString::fromLatin1(name))->setEnabled(enabled);
}

void vekSMSModulKonfig::readFromDevice()
{
    if (m_busy || !askOverwrite(ms("Möchten Sie die Konfiguration aus dem SMS Controller laden ?")))
        return;
    auto image = std::make_shared<QByteArray>();
    auto marked = std::make_shared<bool>(true);
    runDeviceOperation(
        [image, marked](cSmsController &sms) {
            const Error error = sms.readConfiguration(image.get(), marked.get());
            if (error.ok() && image->size() != cHydoSmsModul::kImageLength)
                return Error(ErrorCode::Runtime,
                             QStringLiteral("the controller gave %1 bytes instead of %2")
                                 .arg(image->size())
                                 .arg(cHydoSmsModul::kImageLength));
            return error;
        },
        [this, image, marked](const Error &error) {
            // A read that failed midway leaves the record as it was.
            if (!error.ok() || !m_record.setHydoSmsModulString(*image))
                return;
            refreshTable();
            if (!*marked) {
                const SmsMessage warning = smsUnmarkedReadWarning();
                m_interaction->tell(warning.text, warning.title, warning.icon);
            }
        });
}

void vekSMSModulKonfig::writeToDevice()
{
    const QByteArray image = m_record.HydoSmsModulString();
    runDeviceOperation([image](cSmsController &sms) { return sms.writeConfiguration(image); },
                       [this](const Error &error) {
                           // The device's copy was read back equal: the one place that says so.
                           if (error.ok())
                               statustext2->setText(
                                   ms("Konfiguration an SMS Controller übertragen und geprüft !"));
                       });
}

void vekSMSModulKonfig::readVersion()
{
    if (m_busy)
        return;
    release->setText(QStringLiteral("??"));
    subrelease->setText(QStringLiteral("??"));
    auto version = std::make_shared<std::optional<SmsVersion>>();
    runDeviceOperation(
        [version](cSmsController &sms) {
            SmsVersion v;
            const Error error = sms.readVersion(&v);
            if (error.ok())
                *version = v;
            return error;
        },
        [this, version](const Error &) {
            if (*version) {
                release->setText(hexByte((*version)->release));
                subrelease->setText(hexByte((*version)->subRelease));
            }
        });
}

void vekSMSModulKonfig::resetDevice()
{
    runDeviceOperation([](cSmsController &sms) { return sms.reset(); }, [](const Error &) {});
}
