#pragma once

#include "link/clock.h"
#include "sms/hydo_sms_modul.h"
#include "sms/sms_protocol.h"

#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>

class GuiInteraction;
class GuiProgress;
class LinkWorker;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QToolButton;

// The SMS controller configuration window ("vek Telvara"): edits the 30 message
// configurations, loads and saves .cfg files, and transfers them to and from the device on
// its own serial port. Device operations run on a worker thread of their own, so the main
// window's polling goes on meanwhile. Closing is deferred to the next timer tick, which asks.
class vekSMSModulKonfig : public QMainWindow
{
    Q_OBJECT
public:
    // What the window reaches outside itself; tests replace them.
    struct Environment {
        cSmsController::TransportFactory transports = cSmsController::serialPorts();
        std::shared_ptr<Clock> clock = std::make_shared<RealClock>();
        // The serial devices that open, probed on the worker thread.
        std::function<QStringList()> availablePorts;
        // Ports of connected controllers: never offered.
        QStringList portsInUse;
        // A file to open (save false) or save to (save true); empty when cancelled.
        std::function<QString(QWidget *parent, bool save)> chooseFile;
    };

    explicit vekSMSModulKonfig(QWidget *parent = nullptr);
    vekSMSModulKonfig(Environment environment, QWidget *parent = nullptr);
    ~vekSMSModulKonfig() override;

    // Opens a window of its own that blocks the rest of the program until it is closed, and
    // deletes itself then. portsInUse: the serial ports of connected controllers.
    static vekSMSModulKonfig *showModal(const QStringList &portsInUse = {});

    static int GetCombo1ListIndex(const QString &text);
    static int GetCombo2ListIndex(const QString &text);

    const cHydoSmsModul &record() const { return m_record; }
    bool busy() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    // The number, texts, cause, wiring and time of the configuration being edited.
    QGroupBox *buildEditGroup(QWidget *parent);
    // The device's port, its version and the raw record.
    QGroupBox *buildDeviceGroup(QWidget *parent);
    QGroupBox *buildTableGroup(QWidget *parent);
    void connectControls();
    void buildMenus();
    void display_language();
    void Avaible_ComportsSms();

    void setNumber(int n);
    int number() const;
    void loadRow(int n);
    void showRow(int n);
    void refreshTable();
    void stepAfterReserved(int n);
    void onCauseSelected(int index);
    // Which of the wiring and time fields the cause opens; those it closes show their default.
    void openFieldsFor(int index);
    void onTimeLeft();
    void onNumberEdited(QLineEdit *field, QString *lastAccepted, bool serviceCentre);
    void Einstellungenuebernehmen_Click();
    void Einstellungenloeschen_Click();
    void Timer1_Timer();

    void openFile();
    void saveFile();
    void readFromDevice();
    void writeToDevice();
    void readVersion();
    void resetDevice();
    // Runs `operation` on the worker with the menus disabled and the timer stopped; `after`
    // follows on the UI thread with its result.
    void runDeviceOperation(std::function<Error(cSmsController &)> operation,
                            std::function<void(const Error &)> after);
    // The menus and every control that edits, shows or transfers the table.
    void setControlsEnabled(bool enabled);
    void tellErrors(const Error &error);
    bool askOverwrite(const QString &question);

    Environment m_env;
    cHydoSmsModul m_record;
    QString m_lastMobile;
    QString m_lastService;
    int m_lastCause = 0;
    bool m_exitRequested = false;
    bool m_exitConfirmed = false;
    bool m_busy = false;
    bool m_filtering = false;

    QLineEdit *Text1 = nullptr;
    QToolButton *Auf = nullptr;
    QToolButton *Ab = nullptr;
    QLineEdit *Text2 = nullptr;
    QLineEdit *Text4 = nullptr;
    QLineEdit *Text3 = nullptr;
    QComboBox *Combo1 = nullptr;
    QComboBox *Combo2 = nullptr;
    QLineEdit *Stunden = nullptr;
    QLineEdit *Minuten = nullptr;
    QPushButton *Einstellungenuebernehmen = nullptr;
    QPushButton *Einstellungenloeschen = nullptr;
    QTableWidget *paramlistfield = nullptr;
    QComboBox *Schnittstelle = nullptr;
    QLineEdit *release = nullptr;
    QLineEdit *subrelease = nullptr;
    QPushButton *Stringanzeigen = nullptr;
    QPlainTextEdit *EingabeText = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QLabel *statustext2 = nullptr;
    QLabel *clockText = nullptr;
    QList<QMenu *> m_menus;
    QTimer Timer1;

    GuiInteraction *m_interaction = nullptr;
    std::unique_ptr<GuiProgress> m_progress;
    // Last, so it is gone (and its job finished) before anything a job uses.
    std::unique_ptr<LinkWorker> m_worker;
};
