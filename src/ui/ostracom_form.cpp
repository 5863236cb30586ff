#include "ui/ostracom_form.h"

#include "display/hydo_display.h"
#include "display/ui/tarvelon_display.h"
#include "link/hydo_connect.h"
#include "model/ctarvelon.h"
#include "model/error_text.h"
#include "model/mail_notifier.h"
#include "service/link_worker.h"
#include "service/monitoring_service.h"
#include "sms/ui/vek_sms_modul_konfig.h"
#include "store/strings.h"
#include "ui/ostracom_language.h"
#include "ui/ostracom_notify_config.h"
#include "ui/progress_display.h"
#include "ui/tarvelon_add.h"
#include "ui/tarvelon_program.h"
#include "widgets/gui_interaction.h"

#include "ostracom_version.h"

#include <QBrush>
#include <QCloseEvent>
#include <QColor>
#include <QDateTime>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <limits>
#include <memory>

namespace
{

// Sizes are given in twips, 15 to a pixel.
int twips(int t)
{
    return qRound(t / 15.0);
}

constexpr int kIdColumnTwips = 1000;
constexpr int kVersionColumnTwips = 1500;
constexpr int kSensorColumnTwips = 1000;
constexpr int kStatusColumnTwips = 3000;
constexpr int kStatusBarTwips = 400;
constexpr int kStatusMarginTwips = 100;
constexpr int kProgressBarTwips = 2000;

// Each row's tag: the 1-based position of its controller in the collection.
constexpr int kTagRole = Qt::UserRole;

constexpr int kFirstSensorColumn = 2;
constexpr int kStatusColumn = kFirstSensorColumn + 8;

// Row colours of a controller whose worst regulation warns or alarms.
const QColor kWarningColour(255, 236, 160);
const QColor kAlarmColour(255, 160, 160);

int clampToInt(qint64 v)
{
    return int(std::clamp<qint64>(v, 0, std::numeric_limits<int>::max()));
}

// The status line has one line of text.
QString statusLine(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String(" "));
    t.replace(QLatin1Char('\r'), QLatin1Char(' '));
    t.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return t;
}

} // namespace

OstracomForm::OstracomForm(Database &db, const QString &dataDir, const QString &languageOverride,
                           QWidget *parent)
    : QMainWindow(parent), m_db(db), m_dataDir(dataDir)
{
    setObjectName(QStringLiteral("OstracomForm"));
    m_interaction = new GuiInteraction(this, this);
    m_progress = std::make_unique<GuiProgress>(
        this, [this](const QString &text, qint64 current, qint64 maximum) {
            DisplayProgress(text, current, maximum);
        });

    buildStatusBar();
    buildList();
    buildMenus();
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &OstracomForm::Timer1_Timer);

    DisplayProgress(nowText(), 0, 0);
    // ENGLISH first, then the wanted or stored language; a language that cannot be used
    // leaves ENGLISH in force.
    m_languageProblem = errorText(initProgramLanguage(m_db, languageOverride));
    m_mail = m_db.mailSettings().value_or(MailSettings{});
    m_service = std::make_unique<MonitoringService>(m_db, m_dataDir, *m_interaction, *m_progress);
    m_service->setMailSettings(m_mail);
    // A cycle disables the window as every controller operation does; its end refreshes it.
    connect(m_service.get(), &MonitoringService::cycleStarted, this, [this] { setBusy(false); });
    connect(m_service.get(), &MonitoringService::cycleFinished, this, &OstracomForm::cycleFinished);

    display_language();
    Timer1->setInterval(kTimerIntervalMs);
    display_mytarvelons(false);
    m_service->start(MonitoringService::kCycleMs, MonitoringService::FirstCycle::AfterInterval);

    // Wide enough for every column of the list.
    resize(ListView1->header()->length() + 2 * ListView1->frameWidth(), 380);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

OstracomForm::~OstracomForm()
{
    // An open programming dialog refers to its controller, which goes with the service.
    delete m_programDialog.data();
    // An operation still running must end before the controllers and the database go; a
    // download gives up at once, a write is finished.
    m_interaction->shutDown();
    m_service->shutDown();
    m_service.reset();
}

LinkWorker &OstracomForm::linkWorker()
{
    return m_service->worker();
}

int OstracomForm::tarvelonCount() const
{
    return m_service->controllerCount();
}

cTarvelon &OstracomForm::tarvelon(int position)
{
    // The window adds only controllers that answered, so every position holds one.
    return *m_service->controller(position);
}

void OstracomForm::buildMenus()
{
    auto action = [this](QMenu *menu, const char *name) {
        auto *a = menu->addAction(QString());
        a->setObjectName(QLatin1String(name));
        return a;
    };
    Menu_Datei = menuBar()->addMenu(QString());
    Menu_Datei->setObjectName(QStringLiteral("Menu_Datei"));
    Menu_Ostracom_Beenden = action(Menu_Datei, "Menu_Ostracom_Beenden");
    connect(Menu_Ostracom_Beenden, &QAction::triggered, this, &QWidget::close);

    Menu_Bearbeiten = menuBar()->addMenu(QString());
    Menu_Bearbeiten->setObjectName(QStringLiteral("Menu_Bearbeiten"));
    menu_Neuer_Tarvelon = action(Menu_Bearbeiten, "menu_Neuer_Tarvelon");
    menu_Tarvelon_entfernen = action(Menu_Bearbeiten, "menu_Tarvelon_entfernen");
    menu_Tarvelon_programmieren = action(Menu_Bearbeiten, "menu_Tarvelon_programmieren");
    menu_Tarvelon_messwerte_anzeigen = action(Menu_Bearbeiten, "menu_Tarvelon_messwerte_anzeigen");
    connect(menu_Neuer_Tarvelon, &QAction::triggered, this, &OstracomForm::menuNeuerTarvelon);
    connect(menu_Tarvelon_entfernen, &QAction::triggered, this,
            &OstracomForm::menuTarvelonEntfernen);
    connect(menu_Tarvelon_programmieren, &QAction::triggered, this,
            &OstracomForm::menuTarvelonProgrammieren);
    connect(menu_Tarvelon_messwerte_anzeigen, &QAction::triggered, this,
            &OstracomForm::menuTarvelonMesswerteAnzeigen);

    menu_extras = menuBar()->addMenu(QString());
    menu_extras->setObjectName(QStringLiteral("menu_extras"));
    menu_sprache = action(menu_extras, "menu_sprache");
    menu_Alarm_Benachrichtigung = action(menu_extras, "menu_Alarm_Benachrichtigung");
    connect(menu_sprache, &QAction::triggered, this, &OstracomForm::menuSprache);
    connect(menu_Alarm_Benachrichtigung, &QAction::triggered, this,
            &OstracomForm::menuAlarmBenachrichtigung);
    // Its caption is the same in every language.
    menu_smsmodul = menu_extras->addAction(QStringLiteral("SMS Modul"));
    menu_smsmodul->setObjectName(QStringLiteral("menu_smsmodul"));
    // Modal but without owner; polling goes on while it is open.
    // The SMS module is never offered a serial port a controller is polled on.
    connect(menu_smsmodul, &QAction::triggered, this, [this] {
        QStringList inUse;
        for (int i = 1; i <= tarvelonCount(); ++i)
            if (const cTarvelon *c = m_service->controller(i); c && c->serialLink())
                inUse << c->comport();
        vekSMSModulKonfig::showModal(inUse);
    });

    // A top-level entry with no commands; its caption is the same in every language.
    menu_help = menuBar()->addAction(QStringLiteral("?"));
    menu_help->setObjectName(QStringLiteral("menu_help"));
}

void OstracomForm::buildList()
{
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setAllColumnsShowFocus(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->header()->setSectionsClickable(true);
    ListView1->header()->setStretchLastSection(false);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ListView1->header(), &QHeaderView::sectionClicked, this, &OstracomForm::sortByColumn);
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this,
            [this] { menuTarvelonProgrammieren(); });
    connect(ListView1, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        Menu_Bearbeiten->popup(ListView1->viewport()->mapToGlobal(pos));
    });
    setCentralWidget(ListView1);
}

void OstracomForm::buildStatusBar()
{
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    setStatusBar(StatusBar1);
    ProgressBar1 = new QProgressBar(StatusBar1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setTextVisible(false);
    ProgressBar1->hide();
    statustext1 = new QLabel(StatusBar1);
    statustext1->setObjectName(QStringLiteral("statustext1"));
    statustext1->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    statustext1->setTextInteractionFlags(Qt::NoTextInteraction);
    StatusBar1->installEventFilter(this);
}

bool OstracomForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == StatusBar1 && event->type() == QEvent::Resize)
        layoutStatusBar();
    return QMainWindow::eventFilter(watched, event);
}

void OstracomForm::layoutStatusBar()
{
    const int margin = twips(kStatusMarginTwips);
    // 400 twips were made for an 8-point font; a larger one gets the room it needs.
    const int height =
        std::max(twips(kStatusBarTwips), statustext1->fontMetrics().height() + 2 * margin + 6);
    if (StatusBar1->height() != height)
        StatusBar1->setFixedHeight(height);
    const int inner = height - 2 * margin;
    const int width = StatusBar1->width();
    if (m_progressMode) {
        const int barWidth = twips(kProgressBarTwips);
        ProgressBar1->setGeometry(margin, margin, barWidth, inner);
        statustext1->setGeometry(margin + barWidth + margin, margin,
                                 std::max(0, width - (barWidth + 4 * margin)), inner);
    } else {
        statustext1->setGeometry(margin, margin, std::max(0, width - 2 * margin), inner);
    }
}

QString OstracomForm::nowText()
{
    const QLocale locale;
    return locale.toString(QDateTime::currentDateTime(),
                           locale.dateFormat(QLocale::ShortFormat) + QStringLiteral(" HH:mm:ss"));
}

void OstracomForm::setMailSettings(const MailSettings &settings)
{
    m_mail = settings;
    m_service->setMailSettings(settings);
}

bool OstracomForm::isIdle() const
{
    return !m_service->worker().busy() && !m_service->cycleRunning() && ListView1->isEnabled() &&
           Timer1->isActive();
}

QStringList OstracomForm::Avaible_Comports(int highestPort)
{
    QStringList ports = cHydoConnect::Avaible_Comports(highestPort);
    for (int i = 1; i <= tarvelonCount(); ++i) {
        const cTarvelon *controller = m_service->controller(i);
        if (controller && controller->serialLink())
            ports.removeAll(controller->comport());
    }
    return ports;
}

void OstracomForm::display_language()
{
    Menu_Datei->setTitle(ms("Datei"));
    Menu_Ostracom_Beenden->setText(ms("Ostracom beenden"));
    Menu_Bearbeiten->setTitle(ms("Bearbeiten"));
    menu_Neuer_Tarvelon->setText(ms("Neuer Tarvelon"));
    menu_Tarvelon_entfernen->setText(ms("Tarvelon entfernen"));
    menu_Tarvelon_programmieren->setText(ms("Tarvelon programmieren"));
    menu_Tarvelon_messwerte_anzeigen->setText(ms("Tarvelon Messwerte anzeigen"));
    menu_extras->setTitle(ms("Extras"));
    menu_sprache->setText(ms("Sprache"));
    menu_Alarm_Benachrichtigung->setText(ms("Alarm Benachrichtigung"));
    setWindowTitle(ms("Ostracom Version") + QLatin1Char(' ') + QLatin1String(kOstracomVersion));
    display_mytarvelons(false);
}

QString OstracomForm::tarvelonVersionText(cTarvelon &controller) const
{
    return cTarvelon::versionNumberText(controller.aq_Version()) + QLatin1Char('-') +
           QString::number(controller.aq_SubRelease());
}

void OstracomForm::display_mytarvelons(bool update)
{
    if (m_service->worker().busy()) {
        // An operation is using the controllers; the list is refreshed when it ends.
        if (!update)
            m_rebuildPending = true;
        return;
    }
    if (m_rebuildPending) {
        update = false;
        m_rebuildPending = false;
    }

    if (!update) {
        ListView1->clear();
        QStringList headers{ms("ID"), ms("Tarvelon Version")};
        for (int s = 1; s <= cTarvelon::kSensors; ++s)
            headers << ms("Sensor") + QLatin1Char(' ') + QString::number(s);
        headers << ms("Status");
        ListView1->setColumnCount(int(headers.size()));
        ListView1->setHeaderLabels(headers);
        ListView1->setColumnWidth(0, twips(kIdColumnTwips));
        ListView1->setColumnWidth(1, twips(kVersionColumnTwips));
        for (int s = 1; s <= cTarvelon::kSensors; ++s)
            ListView1->setColumnWidth(kFirstSensorColumn + s - 1, twips(kSensorColumnTwips));
        ListView1->setColumnWidth(kStatusColumn, twips(kStatusColumnTwips));
        fitColumns();
    }

    const bool any = tarvelonCount() > 0;
    const ServiceStatus &status = m_service->status();
    if (any) {
        for (int i = 1; i <= tarvelonCount(); ++i) {
            cTarvelon &controller = tarvelon(i);
            // Rows are found by their tag, not their place, since sorting moves them.
            QTreeWidgetItem *row = nullptr;
            for (int r = 0; update && r < ListView1->topLevelItemCount() && !row; ++r) {
                if (ListView1->topLevelItem(r)->data(0, kTagRole).toInt() == i)
                    row = ListView1->topLevelItem(r);
            }
            if (!row)
                row = new QTreeWidgetItem(ListView1);
            row->setData(0, kTagRole, i);
            row->setText(0, QString::number(controller.aq_id()));
            row->setText(1, tarvelonVersionText(controller));
            for (int s = 1; s <= cTarvelon::kSensors; ++s) {
                cHydoSensor &sensor = controller.Sensor(s);
                if (sensor.sensortyp() != 0)
                    row->setText(kFirstSensorColumn + s - 1, sensor.formatierter_wert());
            }
            if (i <= status.controllers.size())
                showStatus(row, status.controllers[i - 1]);
        }
        if (m_sortColumn >= 0)
            ListView1->sortItems(m_sortColumn, Qt::AscendingOrder);
        fitColumns();
        if (!ListView1->currentItem())
            ListView1->setCurrentItem(ListView1->topLevelItem(0));
    }
    menu_Tarvelon_entfernen->setEnabled(any);
    menu_Tarvelon_programmieren->setEnabled(any);
    menu_Tarvelon_messwerte_anzeigen->setEnabled(any);
    // What the chart windows read of the sensors, taken while no operation uses them.
    m_sensors.clear();
    for (int i = 1; i <= tarvelonCount(); ++i)
        m_sensors += SensorInfos(tarvelon(i));

    // The end of every operation: the window comes back to life.
    ListView1->setEnabled(true);
    Menu_Bearbeiten->menuAction()->setEnabled(true);
    menu_extras->menuAction()->setEnabled(true);
    if (m_holding) {
        m_holding = false;
        m_service->release();
    }
    if (!m_exitConfirmed)
        Timer1->start();
}

void OstracomForm::fitColumns()
{
    // The widths were chosen for a small 8-point font; no header or value may be cut off.
    const int padding = 2 * ListView1->style()->pixelMetric(QStyle::PM_HeaderMargin) + 4;
    const QFontMetrics header = ListView1->header()->fontMetrics();
    const QFontMetrics rows = ListView1->fontMetrics();
    for (int c = 0; c < ListView1->columnCount(); ++c) {
        int needed = header.horizontalAdvance(ListView1->headerItem()->text(c));
        for (int r = 0; r < ListView1->topLevelItemCount(); ++r)
            needed = std::max(needed, rows.horizontalAdvance(ListView1->topLevelItem(r)->text(c)));
        if (ListView1->columnWidth(c) < needed + padding)
            ListView1->setColumnWidth(c, needed + padding);
    }
}

void OstracomForm::setBusy(bool holdService)
{
    if (holdService && !m_holding) {
        m_holding = true;
        m_service->hold();
    }
    Timer1->stop();
    ListView1->setEnabled(false);
    // "File" stays: the exit can be asked for at any time, and is answered when it is safe.
    Menu_Bearbeiten->menuAction()->setEnabled(false);
    menu_extras->menuAction()->setEnabled(false);
}

void OstracomForm::sortByColumn(int column)
{
    m_sortColumn = column;
    ListView1->header()->setSortIndicatorShown(true);
    ListView1->header()->setSortIndicator(column, Qt::AscendingOrder);
    ListView1->sortItems(column, Qt::AscendingOrder);
}

void OstracomForm::DisplayProgress(const QString &text, qint64 current, qint64 maximum)
{
    // Nothing to yield to here: the operations that report run on the link worker.
    statustext1->show();
    if (maximum != 0) {
        m_progressMode = true;
        const ProgressStep step = progressStep(m_lastProgress, current, maximum);
        statustext1->setText(step.text);
        ProgressBar1->setRange(0, clampToInt(step.barMaximum));
        ProgressBar1->setValue(clampToInt(step.projected));
        ProgressBar1->show();
        m_lastProgress = current;
    } else {
        m_progressMode = false;
        ProgressBar1->hide();
        statustext1->setText(statusLine(text));
        // A long note (a mail server's complaint) is cut at the window's edge.
        statustext1->setToolTip(statustext1->text());
    }
    layoutStatusBar();
}

void OstracomForm::Timer1_Timer()
{
    Timer1->stop();
    // A cycle that ends while the question is open restarts the timer; one question is enough.
    if (m_askingExit || m_exitConfirmed)
        return;
    if (m_exitRequested) {
        // No cycle may start while the user decides; one already running goes on meanwhile.
        m_askingExit = true;
        m_service->hold();
        const auto answer = m_interaction->ask(
            Interaction::Question::ExitProgram, ms("Ostracom wirklich beenden ?"),
            ms("Bitte bestätigen"), Interaction::Buttons::YesNo, Interaction::Icon::Question);
        m_askingExit = false;
        if (answer == Interaction::Answer::Yes) {
            m_exitConfirmed = true;
            close();
            return;
        }
        m_exitRequested = false;
        m_service->release();
    }
    // During a cycle the window stays busy; the cycle's end refreshes it.
    if (!m_service->cycleRunning())
        finishTick();
}

void OstracomForm::finishTick()
{
    display_mytarvelons(true);
    DisplayProgress(statusNote(), 0, 0);
}

void OstracomForm::cycleFinished()
{
    // The cycle read the stored settings, which another program may have changed.
    m_mail = m_service->mailSettings();
    unsetCursor();
    finishTick();
}

QString OstracomForm::statusNote() const
{
    const ServiceStatus &status = m_service->status();
    QStringList note{nowText()};
    if (status.spoolBacklog > 0)
        note << ms("Messwerte warten im Zwischenspeicher: ") + QString::number(status.spoolBacklog);
    if (!status.spoolProblem.isEmpty())
        note << ms("Zwischenspeicher: ") + status.spoolProblem;
    if (status.mailsWaiting > 0)
        note << ms("E-Mails warten auf den Versand: ") + QString::number(status.mailsWaiting) +
                    (status.mailFailure.isEmpty() ? QString()
                                                  : QStringLiteral(" (") + ms("Letzter Fehler: ") +
                                                        status.mailFailure + QLatin1Char(')'));
    if (!status.mailProblem.isEmpty())
        note << ms("E-Mail konnte nicht versendet werden: ") + status.mailProblem;
    if (!status.settingsProblem.isEmpty())
        note << ms("Einstellungen konnten nicht gelesen werden: ") + status.settingsProblem;
    return note.join(QStringLiteral("  |  "));
}

void OstracomForm::closeEvent(QCloseEvent *event)
{
    if (m_exitConfirmed) {
        // A download in flight is given up rather than waited for; a write is finished.
        m_interaction->shutDown();
        m_service->shutDown();
        event->accept();
        return;
    }
    // A poll or a transfer may be talking to a controller: the next tick asks first. A
    // cycle stops the ticks, but a download may take minutes: the question comes at once.
    event->ignore();
    DisplayProgress(ms("Beendigung der Ostracom Software angefordert"), 0, 0);
    m_exitRequested = true;
    if (m_service->cycleRunning() && !m_holding && !Timer1->isActive())
        Timer1->start();
}

void OstracomForm::menuNeuerTarvelon()
{
    setBusy();
    DisplayProgress(ms("Tarvelon hinzufügen"), 0, 0);
    auto *dialog = new TarvelonAdd([this](int highest) { return Avaible_Comports(highest); }, this);
    m_addDialog = dialog;
    connect(dialog, &TarvelonAdd::TryConnect, this, &OstracomForm::myTarvelonAdd_TryConnect);
    connect(dialog, &TarvelonAdd::CancelConnect, this, &OstracomForm::myTarvelonAdd_CancelConnect);
    dialog->show();
}

void OstracomForm::myTarvelonAdd_CancelConnect()
{
    display_mytarvelons(true);
    connectFinished();
}

void OstracomForm::myTarvelonAdd_TryConnect(bool serial, const QString &address,
                                            const QString &setting)
{
    setBusy();
    // A new controller's question comes from the service; Cancel adds nothing.
    const LinkParams link{serial, address, setting};
    const QString shown = (serial ? QStringLiteral("serial:") : QStringLiteral("tcp:")) + address;
    m_service->addController(link, shown, false, [this](const MonitoringService::AddOutcome &o) {
        // A declined first programming needs no word; a declined clock is told, as a failure is.
        if (!o.error.ok() || o.declined == Declined::ClockTakeover)
            m_interaction->tell(o.error.ok() ? errorText(Outcome(o.declined)) : errorText(o.error),
                                QString(), Interaction::Icon::Exclamation);
        if (o.added)
            m_service->pollNow(); // runs as soon as the window lets go
        display_mytarvelons(!o.added);
        connectFinished();
    });
}

void OstracomForm::connectAtStart(const QList<LinkParams> &links)
{
    m_startLinks += links;
    if (!m_service->worker().busy() && !m_addDialog)
        connectFinished();
}

void OstracomForm::connectFinished()
{
    if (m_startLinks.isEmpty())
        return;
    const LinkParams next = m_startLinks.takeFirst();
    myTarvelonAdd_TryConnect(next.serial, next.address, next.setting);
}

void OstracomForm::menuTarvelonProgrammieren()
{
    // A double click may come while an operation holds the list.
    if (!ListView1->isEnabled() || m_programDialog)
        return;
    setBusy();
    DisplayProgress(ms("Tarvelon programmieren"), 0, 0);
    QTreeWidgetItem *row = ListView1->currentItem();
    const int position = row ? row->data(0, kTagRole).toInt() : 0;
    if (ListView1->topLevelItemCount() == 0 || position < 1 || position > tarvelonCount()) {
        display_mytarvelons(true);
        return;
    }
    cTarvelon &controller = tarvelon(position);
    // The dialog edits the controller on this thread; its database rows are written on
    // the worker when it closes.
    controller.holdRegulationWrites();
    auto *dialog = new TarvelonProgram(controller, this);
    m_programDialog = dialog;
    connect(dialog, &TarvelonProgram::closedWith, this,
            [this, position](TarvelonProgram::Outcome outcome) {
                programmingClosed(position, outcome == TarvelonProgram::Outcome::Transfer);
            });
    dialog->show();
}

void OstracomForm::programmingClosed(int position, bool transfer)
{
    m_programDialog = nullptr; // it deletes itself
    cTarvelon *c = &tarvelon(position);
    auto stored = std::make_shared<Error>();
    // The program first: check_programing asks, writes and reports by itself. The warning
    // limits and descriptions are the PC's own and are kept either way.
    m_service->run(
        [c, transfer, stored] {
            if (transfer)
                c->check_programing(false);
            *stored = c->writeHeldRegulations();
        },
        [this, stored](const QString &failure) {
            if (!failure.isEmpty())
                m_interaction->tell(failure, QString(), Interaction::Icon::Exclamation);
            if (!stored->ok())
                m_interaction->tell(ms("Grenzwerte und Beschreibungen konnten nicht gespeichert "
                                       "werden: ") +
                                        errorText(*stored),
                                    QString(), Interaction::Icon::Exclamation);
            display_mytarvelons(true);
        });
}

void OstracomForm::menuTarvelonMesswerteAnzeigen()
{
    QTreeWidgetItem *row = ListView1->currentItem();
    if (!row)
        return;
    // Every fitted sensor of the selected controller, the last hour, following the present.
    const int aqid = row->text(0).toInt();
    cHydoDisplay definition;
    for (const SensorInfo &s : std::as_const(m_sensors))
        if (s.aqid == aqid)
            definition.add(aqid, s.sid, 0, 0);
    const QDateTime now = QDateTime::currentDateTime();
    definition.set_StartDatum(now.addSecs(-3600));
    definition.set_endDatum(now);
    definition.set_onlinedata(true);
    definition.set_onlinenumber(1);
    definition.set_onlineintervall(kIntervalHour);
    // Polling goes on while the chart is open.
    auto *window = new TarvelonDisplay(
        m_db, [this] { return m_sensors; }, this);
    window->init(definition);
    window->show();
}

void OstracomForm::menuTarvelonEntfernen()
{
    setBusy();
    DisplayProgress(ms("Tarvelon entfernen"), 0, 0);
    QTreeWidgetItem *row = ListView1->currentItem();
    if (ListView1->topLevelItemCount() == 0 || !row) {
        display_mytarvelons(true);
        return;
    }
    const int position = row->data(0, kTagRole).toInt();
    const auto answer = m_interaction->ask(
        Interaction::Question::RemoveController, ms("Tarvelon wiklich entfernen ?"),
        ms("Entfernen bestätigen"), Interaction::Buttons::YesNo, Interaction::Icon::Question);
    if (answer == Interaction::Answer::Yes && position >= 1 && position <= tarvelonCount()) {
        m_service->removeController(position);
        display_mytarvelons(false);
    } else {
        display_mytarvelons(true);
    }
}

void OstracomForm::menuSprache()
{
    // Polls go on while the language is chosen.
    OstracomLanguage dialog(*this);
    dialog.exec();
}

void OstracomForm::menuAlarmBenachrichtigung()
{
    setBusy();
    ListView1->setEnabled(true);
    OstracomNotifyConfig dialog(*this);
    dialog.exec();
    display_mytarvelons(true);
}

void OstracomForm::showStatus(QTreeWidgetItem *row, const ControllerStatus &status)
{
    const QLocale locale;
    QStringList text;
    QStringList tip;
    // The state also shows as a coloured mark beside the identifier, which stays visible
    // when the row is selected and its background is covered.
    QColor colour;
    if (status.state == RegulationState::Alarm) {
        colour = kAlarmColour;
        text << ms("Alarm");
    } else if (status.state == RegulationState::Warning) {
        colour = kWarningColour;
        text << ms("Warnung");
    }
    if (status.stale) {
        colour = kAlarmColour;
        const QString noData = ms("Keine Daten") + QLatin1Char(' ') + ms("seit") +
                               QLatin1Char(' ') +
                               locale.toString(status.staleSince, QLocale::ShortFormat);
        text << noData;
        tip << noData;
    }
    if (!status.lastError.ok()) {
        const QString error =
            ms("Fehler") + QStringLiteral(": ") + statusLine(errorText(status.lastError));
        text << error;
        tip << error;
    } else if (status.lastDownload.isValid()) {
        text << locale.toString(status.lastDownload, QStringLiteral("HH:mm:ss"));
    }
    if (status.lastDownload.isValid())
        tip.prepend(ms("Letzte Abfrage") + QStringLiteral(": ") +
                    locale.toString(status.lastDownload, QStringLiteral("HH:mm:ss")) +
                    QStringLiteral(", ") + QString::number(status.lastRecords) + QLatin1Char(' ') +
                    ms("Messwerte"));
    row->setText(kStatusColumn, text.join(QStringLiteral(" - ")));
    QIcon mark;
    if (colour.isValid()) {
        QPixmap square(10, 10);
        square.fill(colour.darker(130));
        mark = QIcon(square);
    }
    row->setIcon(0, mark);
    const QBrush background = colour.isValid() ? QBrush(colour) : QBrush();
    for (int c = 0; c < ListView1->columnCount(); ++c) {
        row->setBackground(c, background);
        row->setToolTip(c, tip.join(QLatin1Char('\n')));
    }
}
