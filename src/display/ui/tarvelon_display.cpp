#include "display/ui/tarvelon_display.h"

#include "display/archive_query.h"
#include "display/ui/chart_drawing.h"
#include "display/ui/hydo_logbuch.h"
#include "display/ui/tarvelon_time_select.h"
#include "model/error_text.h"
#include "store/store_error.h"
#include "store/strings.h"

#include <QChart>
#include <QChartView>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QXYSeries>

namespace
{
// Room right of the plot for the scale texts.
constexpr int kScaleWidth = 90;
} // namespace

TarvelonDisplay::TarvelonDisplay(Database &db, std::function<QList<SensorInfo>()> sensors,
                                 QWidget *parent)
    : QWidget(parent, Qt::Window), m_db(db), m_sensors(std::move(sensors))
{
    setObjectName(QStringLiteral("TarvelonDisplay"));
    setAttribute(Qt::WA_DeleteOnClose);
    MSChart1 = new QChartView(this);
    MSChart1->setObjectName(QStringLiteral("MSChart1"));
    MSChart1->setRenderHint(QPainter::Antialiasing);
    MSChart1->viewport()->installEventFilter(this);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &TarvelonDisplay::plot);

    auto texts = new QHBoxLayout;
    // Empty and hidden until a point is chosen: they never show a made-up reading.
    auto box = [this, texts](const char *name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setReadOnly(true);
        edit->setMaximumWidth(140);
        edit->hide();
        texts->addWidget(edit);
        return edit;
    };
    Textx = box("Textx");
    Textx1 = box("Textx1");
    Texty = box("Texty");
    m_problem = new QLabel(this);
    m_problem->setObjectName(QStringLiteral("problem"));
    m_problem->setStyleSheet(QStringLiteral("color: #a00000"));
    m_problem->setWordWrap(true);
    m_problem->hide();
    texts->addWidget(m_problem, 1);
    texts->addStretch();
    for (int j = 0; j <= 10; ++j) {
        auto *label = new QLabel(MSChart1->viewport());
        label->setObjectName(QStringLiteral("Text%1").arg(10 * j));
        label->setFixedWidth(kScaleWidth - 6);
        m_scale[size_t(j)] = label;
    }
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(texts);
    layout->addWidget(MSChart1, 1);

    m_settings = new TarvelonTimeSelect(m_sensors, this);
    m_settings->init(m_definition);
    resize(1000, 600);
}

TarvelonDisplay::~TarvelonDisplay() = default;

QChart *TarvelonDisplay::chart() const
{
    return MSChart1->chart();
}

void TarvelonDisplay::init(const cHydoDisplay &definition)
{
    m_definition = definition;
}

void TarvelonDisplay::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_loaded)
        return;
    m_loaded = true;
    setWindowTitle(ms("Tarvelon Messwert Anzeige"));
    // The settings first, once the window stands; the chart is drawn after they close.
    QTimer::singleShot(0, this, &TarvelonDisplay::openSettings);
}

void TarvelonDisplay::pauseTimer()
{
    Timer1->stop();
}

void TarvelonDisplay::resumeTimer()
{
    if (m_definition.onlinedata())
        Timer1->start(kOnlineRefreshMs);
}

void TarvelonDisplay::openSettings()
{
    pauseTimer();
    m_settings->exec();
    m_selectedSeries = 1;
    m_selectedPoint = 0;
    plot();
    resumeTimer();
}

void TarvelonDisplay::openLogbook(const QDateTime &when, bool isNew)
{
    pauseTimer();
    HydoLogbuch logbook(m_db, this);
    if (logbook.init(when, isNew))
        logbook.exec();
    plot();
    resumeTimer();
}

void TarvelonDisplay::plot()
{
    const int width = std::max(100, MSChart1->viewport()->width() - kScaleWidth);
    try {
        m_plot = BuildPlot(m_db, m_definition, m_sensors ? m_sensors() : QList<SensorInfo>{}, width,
                           QDateTime::currentDateTime());
    } catch (const StoreError &e) {
        // A query that fails leaves the last chart standing and says why; an online chart
        // tries again at its next refresh.
        m_problem->setText(errorText(e.error()));
        m_problem->show();
        return;
    }
    m_problem->hide();
    const int selected = m_selectedSeries < int(m_plot.series.size()) ? m_selectedSeries : -1;
    QChart *old = MSChart1->chart();
    QChart *chart = DrawChart(m_plot, selected);
    chart->setMargins(QMargins(6, 6, kScaleWidth, 6));
    MSChart1->setChart(chart);
    // Not at once: a timer tick may land while the old chart still handles an event.
    if (old)
        old->deleteLater();

    const QList<QAbstractSeries *> series = chart->series();
    for (QAbstractSeries *one : series) {
        auto *xy = qobject_cast<QXYSeries *>(one);
        if (!xy)
            continue;
        const int i = xy->property(kPlotIndexProperty).toInt();
        connect(xy, &QXYSeries::clicked, this, [this, i](const QPointF &point) {
            const PlotSeries &s = m_plot.series[size_t(i)];
            const int nearest = NearestPoint(s, point, valuePerPixel());
            if (s.logbook) {
                if (nearest >= 0)
                    afterThisEvent([this, when = DateTimeOfDayNumber(s.points[size_t(nearest)].x)] {
                        openLogbook(when, false);
                    });
                return;
            }
            selectPoint(i, nearest);
        });
    }
    // A click on a legend entry selects its series; on the logbook's, it writes a new entry.
    const QList<QLegendMarker *> markers = chart->legend()->markers();
    for (QLegendMarker *marker : markers) {
        const int i = marker->series()->property(kPlotIndexProperty).toInt();
        connect(marker, &QLegendMarker::clicked, this, [this, i] {
            if (i < 0 || size_t(i) >= m_plot.series.size())
                return;
            if (m_plot.series[size_t(i)].logbook)
                afterThisEvent([this] { openLogbook(QDateTime::currentDateTime(), true); });
            else
                selectPoint(i, 0);
        });
    }
    connect(chart, &QChart::plotAreaChanged, this, [this] { placeScaleLabels(); });
    placeScaleLabels();
    paint_point_series();
}

void TarvelonDisplay::afterThisEvent(std::function<void()> action)
{
    // A dialog opened from inside a chart's mouse handler would redraw the chart, and so
    // delete the item still handling the click, before the handler returns.
    QMetaObject::invokeMethod(this, std::move(action), Qt::QueuedConnection);
}

QSizeF TarvelonDisplay::valuePerPixel() const
{
    const QRectF area = chart() ? chart()->plotArea() : QRectF();
    if (area.isEmpty())
        return {};
    const double days = DayNumber(m_plot.end) - DayNumber(m_plot.start);
    return {days / area.width(), 100.0 / area.height()};
}

void TarvelonDisplay::selectPoint(int series, int point)
{
    m_selectedSeries = series;
    m_selectedPoint = std::max(0, point);
    // The selected series is drawn thicker.
    const QList<QAbstractSeries *> all = chart() ? chart()->series() : QList<QAbstractSeries *>{};
    for (QAbstractSeries *one : all) {
        auto *xy = qobject_cast<QXYSeries *>(one);
        const int i = one->property(kPlotIndexProperty).toInt();
        if (xy && size_t(i) < m_plot.series.size() && !m_plot.series[size_t(i)].logbook) {
            QPen pen = xy->pen();
            pen.setWidth(i == series ? 3 : 1);
            xy->setPen(pen);
        }
    }
    paint_point_series();
}

void TarvelonDisplay::paint_point_series()
{
    const bool valid = m_selectedSeries >= 1 && size_t(m_selectedSeries) < m_plot.series.size() &&
                       !m_plot.series[size_t(m_selectedSeries)].logbook;
    const QStringList point =
        valid ? PointTexts(m_plot.series[size_t(m_selectedSeries)], size_t(m_selectedPoint))
              : QStringList{};
    if (!valid || point.size() != 3) {
        for (QLineEdit *t : {Textx, Textx1, Texty})
            t->hide();
        for (QLabel *label : m_scale)
            label->setText(QString());
        return;
    }
    const PlotSeries &s = m_plot.series[size_t(m_selectedSeries)];
    QPalette palette;
    palette.setColor(QPalette::Text, ColourOf(s.colour));
    palette.setColor(QPalette::Base, QColor(190, 190, 190));
    QLineEdit *fields[] = {Textx, Textx1, Texty};
    for (int i = 0; i < 3; ++i) {
        fields[i]->setPalette(palette);
        fields[i]->setText(point[i]);
        fields[i]->setCursorPosition(0);
        fields[i]->show();
    }
    const bool span = s.points[size_t(m_selectedPoint)].hasSpan();
    Textx1->setToolTip(span ? ms("Höchst- oder Tiefstwert innerhalb dieses Zeitraums") : QString());
    const QStringList scale = ScaleTexts(s);
    for (size_t j = 0; j < m_scale.size(); ++j) {
        m_scale[j]->setText(scale[qsizetype(j)]);
        QPalette p = m_scale[j]->palette();
        p.setColor(QPalette::WindowText, ColourOf(s.colour).darker(110));
        m_scale[j]->setPalette(p);
    }
}

void TarvelonDisplay::placeScaleLabels()
{
    QChart *c = chart();
    if (!c)
        return;
    const QRectF area = c->plotArea();
    for (size_t j = 0; j < m_scale.size(); ++j) {
        QLabel *label = m_scale[j];
        // Beside the grid line of j·10 % of the axis.
        const QPointF scene = c->mapToScene(
            QPointF(area.right() + 6, area.bottom() - area.height() * double(j) / 10.0));
        const QPoint at = MSChart1->mapFromScene(scene);
        label->adjustSize();
        label->move(at.x(), at.y() - label->height() / 2);
        label->show();
    }
}

void TarvelonDisplay::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeScaleLabels();
}

bool TarvelonDisplay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == MSChart1->viewport()) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            afterThisEvent([this] { openSettings(); });
            return true;
        }
        if (event->type() == QEvent::ContextMenu) {
            const auto *e = static_cast<QContextMenuEvent *>(event);
            // Not modal: an entry's dialog opens after the menu and its event are gone.
            auto *menu = new QMenu(this);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            auto entry = [this, menu](const QString &text, std::function<void()> action) {
                connect(menu->addAction(text), &QAction::triggered, this,
                        [this, action] { afterThisEvent(action); });
            };
            entry(ms("Neuer Logbuch Eintrag ..."),
                  [this] { openLogbook(QDateTime::currentDateTime(), true); });
            entry(ms("Einstellungen der Messwertanzeige"), [this] { openSettings(); });
            menu->addSeparator();
            entry(ms("Diagramm als Bild speichern ..."), [this] { exportImage(); });
            entry(ms("Messwerte als CSV speichern ..."), [this] { exportCsv(); });
            menu->popup(e->globalPos());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool TarvelonDisplay::saveImage(const QString &path)
{
    return MSChart1->grab().save(path, "PNG");
}

bool TarvelonDisplay::saveCsv(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    file.write(PlotCsv(m_plot).toUtf8());
    return file.commit();
}

void TarvelonDisplay::exportImage()
{
    pauseTimer();
    const QString path = QFileDialog::getSaveFileName(this, ms("Diagramm als Bild speichern ..."),
                                                      QString(), QStringLiteral("PNG (*.png)"));
    if (!path.isEmpty() && !saveImage(path))
        QMessageBox::warning(this, windowTitle(),
                             ms("Die Datei konnte nicht geschrieben werden: ") + path);
    resumeTimer();
}

void TarvelonDisplay::exportCsv()
{
    pauseTimer();
    const QString path = QFileDialog::getSaveFileName(this, ms("Messwerte als CSV speichern ..."),
                                                      QString(), QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty() && !saveCsv(path))
        QMessageBox::warning(this, windowTitle(),
                             ms("Die Datei konnte nicht geschrieben werden: ") + path);
    resumeTimer();
}
