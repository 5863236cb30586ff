#pragma once

#include "display/chart_plot.h"
#include "display/hydo_display.h"
#include "display/sensor_info.h"

#include <QSizeF>
#include <QWidget>

#include <array>
#include <functional>

class Database;
class QChart;
class QChartView;
class QLabel;
class QLineEdit;
class QTimer;
class TarvelonTimeSelect;

// The archived values of a chart definition over time: every series scaled into its own
// range on a common 0..100 axis, the logbook as markers at half height. A click on a point
// shows its date, time and value and the scale of its series beside the grid; a click on a
// logbook marker opens that entry; a double click opens the settings. In online mode the
// chart follows the present time every 5 seconds.
class TarvelonDisplay : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kOnlineRefreshMs = 5000;

    // `sensors` gives the fitted sensors of the connected controllers as the window shows
    // them; `db` is the UI thread's connection and must outlive the window.
    TarvelonDisplay(Database &db, std::function<QList<SensorInfo>()> sensors,
                    QWidget *parent = nullptr);
    ~TarvelonDisplay() override;

    void init(const cHydoDisplay &definition);
    // Fetches the data and draws the chart anew.
    void plot();
    // Shows the selected point and the scale of its series.
    void paint_point_series();

    // Opens the settings dialog, then draws; the timer rests meanwhile.
    void openSettings();
    // Opens the logbook window for a new entry now, or for the entry at `when`.
    void openLogbook(const QDateTime &when, bool isNew);

    const ChartPlot &shownPlot() const { return m_plot; }
    cHydoDisplay &definition() { return m_definition; }
    // Selects point `point` (0-based) of series `series` (0-based, 0 is the logbook).
    void selectPoint(int series, int point);
    QChart *chart() const;
    bool saveImage(const QString &path);
    bool saveCsv(const QString &path);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void placeScaleLabels();
    // Runs `action` once the event being handled has returned.
    void afterThisEvent(std::function<void()> action);
    // What one pixel of the plot area spans in days and on the 0..100 axis.
    QSizeF valuePerPixel() const;
    void pauseTimer();
    void resumeTimer();
    void exportImage();
    void exportCsv();

    Database &m_db;
    std::function<QList<SensorInfo>()> m_sensors;
    cHydoDisplay m_definition;
    ChartPlot m_plot;
    bool m_loaded = false;
    // Chart series 3 and point 1 of the original numbering: the first sensor's first point.
    int m_selectedSeries = 1;
    int m_selectedPoint = 0;

    QChartView *MSChart1 = nullptr;
    QTimer *Timer1 = nullptr;
    QLineEdit *Textx = nullptr;
    QLineEdit *Textx1 = nullptr;
    QLineEdit *Texty = nullptr;
    QLabel *m_problem = nullptr;        // why the last refresh failed
    std::array<QLabel *, 11> m_scale{}; // Text0, Text10, ..., Text100
    TarvelonTimeSelect *m_settings = nullptr;
};
