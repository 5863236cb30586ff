#pragma once

#include <QDialog>

#include <array>
#include <memory>
#include <vector>

class HydoSensorCtl;
class HydoWerteRegelungCtl;
class MaskedEdit;
class QButtonGroup;
class QPushButton;
class QRadioButton;
class QTabBar;
class QTabWidget;
class cTarvelon;

// Changes the settings of one controller: programming level, display units and intervals,
// storage compression of every measurement kind, and the regulations of every sensor.
// Every change goes at once into the controller object's program image; nothing reaches
// the controller until "transfer" closes the dialog and the main window writes the
// program. "Back" and the close box keep the changes in the object and send nothing.
class TarvelonProgram : public QDialog
{
    Q_OBJECT
public:
    enum class Outcome { Transfer, Back };

    // The controller must outlive the dialog; the main window keeps it from being polled
    // while the dialog is open.
    explicit TarvelonProgram(cTarvelon &controller, QWidget *parent = nullptr);
    ~TarvelonProgram() override;

    // Fills every control from the controller; keeps the regulation tab and sensor chosen.
    void display();

signals:
    // Sent once, when the dialog has closed by one of its buttons or its close box.
    void closedWith(TarvelonProgram::Outcome outcome);

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    // A measurement kind's pair of compression boxes.
    struct Compression {
        const char *kind; // "ph" names edit_hd_ph, edit_ld_ph, aq_hd_ph, aq_ld_ph
        int code;         // display type of the kind
        const char *labelName;
        MaskedEdit *horizontal = nullptr;
        MaskedEdit *linear = nullptr;
        QWidget *label = nullptr;
    };
    // A group of options storing their code into one controller field.
    struct OptionGroup {
        const char *field; // controller field name
        QButtonGroup *buttons = nullptr;
    };

    QWidget *buildRegulationPage();
    QWidget *buildMeasurementPage();
    // Units and display intervals: option groups storing their code into a controller field.
    QWidget *buildDisplayOptions(QWidget *page);
    QWidget *buildCompression(QWidget *page);
    QWidget *buildSystemPage();
    QRadioButton *addOption(OptionGroup &group, QWidget *parent, const char *name,
                            const char *caption, int code);
    void storeCompression(MaskedEdit *box, const QString &field, bool *keepFocus);
    void initRegulations();
    void mvarTarvelon_ProgrammingStatusChange();
    // Stores the box being edited, as leaving it would; answers the box that refused its
    // text, or nullptr.
    QWidget *commitEdits();
    // Every edit stored before the panels are shown anew or the dialog closes.
    enum class Settled {
        Stored,    // go on
        Correct,   // the user corrects a box first: stay
        Discarded, // the dialog's changes were undone and every control shown anew
    };
    Settled settle();
    // Tells which alarm time is no time and offers to correct it or to undo the changes.
    Settled askAboutAlarmTime(MaskedEdit *box);
    void restoreOpened();
    void finish(Outcome outcome);

    cTarvelon &m_controller;
    // What the dialog may change, as it found it, for undoing the changes.
    struct Opened;
    std::unique_ptr<Opened> m_opened;
    bool m_finished = false;
    int m_kindShown = 0;   // tab index whose sensors are shown
    int m_sensorShown = 0; // sensor whose regulations are shown

    QTabWidget *TabHauptmenu = nullptr;
    QTabBar *TabStrip1 = nullptr;
    HydoSensorCtl *SensorCtl = nullptr;
    std::array<HydoWerteRegelungCtl *, 4> m_regulationCtls{};
    std::vector<Compression> m_compression;
    std::vector<OptionGroup> m_optionGroups;
    QButtonGroup *m_acousticAlarm = nullptr;
    QButtonGroup *m_externalAlarm = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command2 = nullptr;
};
