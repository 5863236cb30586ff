#pragma once

#include <QGroupBox>

#include <functional>
#include <vector>

class MaskedEdit;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class cHydoRegelung;
class cTarvelon;

// Shows and edits one regulation of one sensor: direction, description, set points,
// alarm and warning limits, alarm time, and the socket it drives with that socket's on and
// off values. Every edit goes at once into the regulation (or its socket); nothing is sent.
class HydoWerteRegelungCtl : public QGroupBox
{
    Q_OBJECT
public:
    // Highest on or off value of a dimmable socket, in percent.
    static constexpr int kSocketValueLimit = 100;

    explicit HydoWerteRegelungCtl(QWidget *parent = nullptr);

    // Binds the panel to regulation `index` (1..4) of sensor `sensor` and fills it. Sensor 0
    // means there is no sensor of the chosen kind: the panel then shows nothing to edit.
    void init(cTarvelon &controller, int sensor, int index);
    // Stores the box being edited, as leaving it would; answers the box that refused its
    // text and keeps the focus, or nullptr.
    MaskedEdit *commit();
    // Asked before the socket dialog opens: false keeps it closed (an edit wants correcting).
    void setBeforeSocketDialog(std::function<bool()> settle)
    {
        m_beforeSocketDialog = std::move(settle);
    }
    // The regulation shown, or nullptr.
    cHydoRegelung *regulation() const { return m_regulation; }

signals:
    // The socket dialog moved the regulation to another socket; the dialog around it
    // shows every panel anew.
    void socketChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct ValueField {
        QLabel *label;
        MaskedEdit *box;
    };
    QWidget *buildDirections();
    // Set points, limits, alarm time, socket and alarm quality: hidden without a sensor.
    QWidget *buildFields();
    void connectValueRows();
    void buildAlarmTime();
    void buildSocket();
    void buildAlarmQuality();
    void showDirection(const cHydoRegelung &r);
    void showValues(const cHydoRegelung &r, const QString &unit);
    void showAlarmQuality(const cHydoRegelung &r, const QString &unit);
    // The socket's number, and its on and off values when it is dimmable.
    void showSocket(const cHydoRegelung &r);
    void setDirection(int code);
    void showValueFields(int displayType);
    void chooseSocket();
    // Hands the alarm quality boxes to the regulation when they changed.
    void storeAlarmQuality();

    std::function<bool()> m_beforeSocketDialog;
    cTarvelon *m_controller = nullptr;
    cHydoRegelung *m_regulation = nullptr;

    QWidget *Frame_Vorgang = nullptr;
    QRadioButton *Opt_Aus = nullptr;
    QRadioButton *Opt_Runter = nullptr;
    QRadioButton *Opt_Hoch = nullptr;
    QLabel *Label_optAus = nullptr;
    QLabel *label_optRunter = nullptr;
    QLabel *label_optHoch = nullptr;
    QLineEdit *Text_Beschreibung = nullptr;
    // Summer day, summer night, winter day, winter night, upper and lower alarm, upper and
    // lower warning, in this order.
    std::vector<ValueField> m_values;
    QLabel *label_Alarmzeit = nullptr;
    MaskedEdit *text_Alarmzeit = nullptr;
    QLabel *Label_Dose = nullptr;
    QLineEdit *Text_Dose = nullptr;
    QPushButton *Cmd_Dose = nullptr;
    QLabel *Label_DosenEin = nullptr;
    MaskedEdit *Text_DosenEin = nullptr;
    QLabel *Label_DosenAus = nullptr;
    MaskedEdit *Text_DosenAus = nullptr;
    // Hysteresis, hold time and repeat interval of the regulation's notifications.
    QGroupBox *Frame_Alarmqualitaet = nullptr;
    QLabel *Label_Hysterese = nullptr;
    QDoubleSpinBox *Text_Hysterese = nullptr;
    QSpinBox *Text_Haltezeit = nullptr;
    QSpinBox *Text_Wiederholung = nullptr;
    QWidget *m_fields = nullptr; // everything below the description
};
