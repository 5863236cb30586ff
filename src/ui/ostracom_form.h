#pragma once

#include "display/sensor_info.h"
#include "link/protocol.h"
#include "store/database.h"
#include "store/mail.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class GuiInteraction;
class GuiProgress;
class LinkWorker;
class MonitoringService;
class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QStatusBar;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
struct ControllerStatus;
class TarvelonAdd;
class TarvelonProgram;
class cTarvelon;

// The main window: the list of connected controllers with their current values and their
// state (row colour, status column, tooltip), the progress display, and the menus that open
// the other windows. The controllers, their ten-second cycle, the archive and the alarm
// mails belong to the monitoring service; the window shows what it reports.
//
// While a controller operation runs, the list and the menus are disabled and Timer1 is
// stopped; display_mytarvelons() is the one place that brings both back.
class OstracomForm : public QMainWindow
{
    Q_OBJECT
public:
    static constexpr int kTimerIntervalMs = 1000;
    // The add dialog offers serial ports up to this many.
    static constexpr int kMaxComports = 16;
    // Interval code of an hour in chart definitions.
    static constexpr int kIntervalHour = 3;

    // Runs the start-up: language (ENGLISH, then `languageOverride` or the stored one),
    // settings row, menus, empty list, timer. Throws StoreError when the settings row
    // cannot be read. `db` must outlive the window.
    OstracomForm(Database &db, const QString &dataDir, const QString &languageOverride = QString(),
                 QWidget *parent = nullptr);
    ~OstracomForm() override;

    // Serial ports that can be opened, at most `highestPort` of them, without the ports of
    // connected controllers.
    QStringList Avaible_Comports(int highestPort);
    // Re-labels menus, caption and list after a language change.
    void display_language();
    // Refreshes the list (update) or builds it anew, then ends the busy state.
    void display_mytarvelons(bool update);
    void DisplayProgress(const QString &text, qint64 current, qint64 maximum);

    // The add dialog's two events.
    void myTarvelonAdd_TryConnect(bool serial, const QString &address, const QString &setting);
    void myTarvelonAdd_CancelConnect();
    // Adds the controllers one after another, as the add dialog would.
    void connectAtStart(const QList<LinkParams> &links);

    // The notification settings of the settings row, as the window holds them.
    MailSettings mailSettings() const { return m_mail; }
    // Takes new settings for the window and the alarm e-mails (the database is the caller's).
    void setMailSettings(const MailSettings &settings);

    Database &database() { return m_db; }
    QString dataDir() const { return m_dataDir; }
    LinkWorker &linkWorker();
    MonitoringService &service() { return *m_service; }
    GuiInteraction &interaction() { return *m_interaction; }
    // Why the stored or requested language could not be used at start; empty when it could.
    QString languageProblem() const { return m_languageProblem; }

    int tarvelonCount() const;
    // 1-based position in the order of adding.
    cTarvelon &tarvelon(int position);
    // False while a controller operation, the add dialog or a question holds the window.
    bool isIdle() const;

    // The current date and time as the status line and the test mail show it.
    static QString nowText();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildMenus();
    void buildList();
    void buildStatusBar();
    void layoutStatusBar();
    void fitColumns();
    // Disables list and menus and stops Timer1; `holdService` also keeps the service from
    // starting a cycle (an operation of the window uses the controllers).
    void setBusy(bool holdService = true);
    void Timer1_Timer();
    void finishTick();
    void cycleFinished();
    // The clock, or what needs the user's attention: records waiting in the spool, a mail
    // that could not be sent.
    QString statusNote() const;
    void showStatus(QTreeWidgetItem *row, const ControllerStatus &status);
    void menuNeuerTarvelon();
    void menuTarvelonEntfernen();
    void menuTarvelonProgrammieren();
    void menuTarvelonMesswerteAnzeigen();
    // Writes what the programming dialog changed: the program when `transfer` (after
    // asking), the regulations' database rows in any case.
    void programmingClosed(int position, bool transfer);
    void menuSprache();
    void menuAlarmBenachrichtigung();
    void sortByColumn(int column);
    void connectFinished();
    QString tarvelonVersionText(cTarvelon &controller) const;

    Database &m_db;
    const QString m_dataDir;
    QString m_languageProblem;
    MailSettings m_mail;

    std::unique_ptr<GuiProgress> m_progress;
    bool m_holding = false; // the window holds the service for an operation of its own
    bool m_exitRequested = false;
    bool m_exitConfirmed = false;
    bool m_askingExit = false;
    qint64 m_lastProgress = 0;
    bool m_progressMode = false;
    int m_sortColumn = -1; // -1 until a column header is clicked
    // A rebuild asked for while an operation used the controllers; done when it ends.
    bool m_rebuildPending = false;
    QPointer<TarvelonAdd> m_addDialog;
    QPointer<TarvelonProgram> m_programDialog;
    QList<SensorInfo> m_sensors; // of every controller, as the last refresh found them
    QList<LinkParams> m_startLinks;

    QMenu *Menu_Datei = nullptr;
    QAction *Menu_Ostracom_Beenden = nullptr;
    QMenu *Menu_Bearbeiten = nullptr;
    QAction *menu_Neuer_Tarvelon = nullptr;
    QAction *menu_Tarvelon_entfernen = nullptr;
    QAction *menu_Tarvelon_programmieren = nullptr;
    QAction *menu_Tarvelon_messwerte_anzeigen = nullptr;
    QMenu *menu_extras = nullptr;
    QAction *menu_sprache = nullptr;
    QAction *menu_Alarm_Benachrichtigung = nullptr;
    QAction *menu_smsmodul = nullptr;
    QAction *menu_help = nullptr;
    QTreeWidget *ListView1 = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *statustext1 = nullptr;
    QTimer *Timer1 = nullptr;

    GuiInteraction *m_interaction = nullptr;
    // Declared last: destroyed first, so no job outlives what it uses.
    std::unique_ptr<MonitoringService> m_service;
};
