#pragma once

#include "display/sensor_info.h"

#include <QDialog>

#include <functional>

class MaskedEdit;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class cHydoDisplay;

// Chooses what a chart shows: the last N units up to now or a fixed time range, and its
// series from the fitted sensors of the connected controllers. Series are added and removed
// at once; the time settings take effect on OK.
class TarvelonTimeSelect : public QDialog
{
    Q_OBJECT
public:
    // At most this many series besides the logbook: the chart has ten colours.
    static constexpr int kMaxSensorSeries = 9;

    // `sensors` lists the fitted sensors of every connected controller.
    explicit TarvelonTimeSelect(std::function<QList<SensorInfo>()> sensors,
                                QWidget *parent = nullptr);

    void init(cHydoDisplay &definition);
    // True when a row of `list` has the key "it" + identifier + sensor number.
    static bool isinlist(const QTreeWidget *list, const QString &key);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void load();
    void refresh_view();
    void cmdAdd();
    void cmdRemove();
    void editRange();
    void cmdOK_Click();
    bool checkDate(MaskedEdit *box);

    std::function<QList<SensorInfo>()> m_sensors;
    cHydoDisplay *m_definition = nullptr;

    QRadioButton *opt_onlinedaten = nullptr;
    QRadioButton *OPT_Zeitbereich = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *label2 = nullptr;
    MaskedEdit *txt1 = nullptr;
    MaskedEdit *txt2 = nullptr;
    QLineEdit *intervallAnzahl = nullptr;
    QComboBox *intervallart = nullptr;
    QTreeWidget *ListView1 = nullptr;
    QTreeWidget *ListView2 = nullptr;
    QPushButton *cmd_add = nullptr;
    QPushButton *cmd_remove = nullptr;
    QPushButton *cmdOK = nullptr;
};

// Sets the lower and upper bound of one chart series' value axis; 0 for both is automatic.
class TarvelonTimeSelectYMinMax : public QDialog
{
    Q_OBJECT
public:
    explicit TarvelonTimeSelectYMinMax(QWidget *parent = nullptr);
    // `index` is the 1-based item of the definition; `sensor` describes its sensor (nullptr
    // when its controller is not connected: the bounds are then plain numbers).
    void init(int index, cHydoDisplay &definition, const SensorInfo *sensor);

private:
    cHydoDisplay *m_definition = nullptr;
    int m_index = 0;
    QLabel *lb_ymin = nullptr;
    MaskedEdit *edit_ymin = nullptr;
    QLabel *lb_ymax = nullptr;
    MaskedEdit *edit_ymax = nullptr;
    QPushButton *cmd_ok = nullptr;
};
