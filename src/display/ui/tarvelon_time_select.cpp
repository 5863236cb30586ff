#include "display/ui/tarvelon_time_select.h"

#include "display/hydo_display.h"
#include "store/strings.h"
#include "widgets/masked_edit.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{

const char *const kDateMask = "##.##.#### ##:##:##";
const char *const kDateFormat = "dd.MM.yyyy HH:mm:ss";
constexpr int kDateBoxTwips = 2400;
// The units in the order of their codes.
const char *const kUnits[] = {"Jahr", "Monat", "Tag", "Stunde", "Minute", "Sekunde"};

QString itemKey(int aqid, int sid)
{
    return QStringLiteral("it%1%2").arg(aqid).arg(sid);
}

constexpr int kKeyRole = Qt::UserRole;

QString boundText(float value)
{
    return value == 0 ? ms("AUTO") : QLocale().toString(value);
}

} // namespace

TarvelonTimeSelect::TarvelonTimeSelect(std::function<QList<SensorInfo>()> sensors, QWidget *parent)
    : QDialog(parent), m_sensors(std::move(sensors))
{
    setObjectName(QStringLiteral("TarvelonTimeSelect"));
    setModal(true);
    opt_onlinedaten = new QRadioButton(this);
    opt_onlinedaten->setObjectName(QStringLiteral("opt_onlinedaten"));
    OPT_Zeitbereich = new QRadioButton(this);
    OPT_Zeitbereich->setObjectName(QStringLiteral("OPT_Zeitbereich"));
    connect(opt_onlinedaten, &QRadioButton::clicked, this, &TarvelonTimeSelect::refresh_view);
    connect(OPT_Zeitbereich, &QRadioButton::clicked, this, &TarvelonTimeSelect::refresh_view);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    label2 = new QLabel(this);
    label2->setObjectName(QStringLiteral("label2"));
    txt1 = new MaskedEdit(this);
    txt1->setObjectName(QStringLiteral("txt1"));
    txt2 = new MaskedEdit(this);
    txt2->setObjectName(QStringLiteral("txt2"));
    for (MaskedEdit *box : {txt1, txt2}) {
        box->setMaskAndFormat(QLatin1String(kDateMask), QLatin1String(kDateFormat), kDateBoxTwips);
        connect(box, &MaskedEdit::validating, this,
                [this, box](bool *keepFocus) { *keepFocus = !checkDate(box); });
    }
    intervallAnzahl = new QLineEdit(this);
    intervallAnzahl->setObjectName(QStringLiteral("intervallAnzahl"));
    intervallart = new QComboBox(this);
    intervallart->setObjectName(QStringLiteral("intervallart"));

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView2 = new QTreeWidget(this);
    ListView2->setObjectName(QStringLiteral("ListView2"));
    for (QTreeWidget *list : {ListView1, ListView2}) {
        list->setRootIsDecorated(false);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setAllColumnsShowFocus(true);
    }
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, &TarvelonTimeSelect::editRange);
    connect(ListView2, &QTreeWidget::itemDoubleClicked, this, &TarvelonTimeSelect::cmdAdd);
    cmd_add = new QPushButton(QStringLiteral("-->"), this);
    cmd_add->setObjectName(QStringLiteral("cmd_add"));
    cmd_remove = new QPushButton(QStringLiteral("<--"), this);
    cmd_remove->setObjectName(QStringLiteral("cmd_remove"));
    cmdOK = new QPushButton(this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    connect(cmd_add, &QPushButton::clicked, this, &TarvelonTimeSelect::cmdAdd);
    connect(cmd_remove, &QPushButton::clicked, this, &TarvelonTimeSelect::cmdRemove);
    connect(cmdOK, &QPushButton::clicked, this, &TarvelonTimeSelect::cmdOK_Click);

    auto *mode = new QGridLayout;
    mode->addWidget(opt_onlinedaten, 0, 0);
    mode->addWidget(OPT_Zeitbereich, 1, 0);
    mode->addWidget(Label1, 0, 1);
    mode->addWidget(label2, 1, 1);
    mode->addWidget(txt1, 0, 2);
    mode->addWidget(txt2, 1, 2);
    mode->addWidget(intervallAnzahl, 0, 3);
    mode->addWidget(intervallart, 1, 3);
    mode->setColumnStretch(4, 1);
    auto *moves = new QVBoxLayout;
    moves->addStretch();
    moves->addWidget(cmd_add);
    moves->addWidget(cmd_remove);
    moves->addStretch();
    // Available sensors left, chosen series right, as the arrows point.
    auto *lists = new QHBoxLayout;
    lists->addWidget(ListView2, 2);
    lists->addLayout(moves);
    lists->addWidget(ListView1, 3);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(mode);
    layout->addLayout(lists, 1);
    layout->addLayout(buttons);
    resize(760, 420);
}

void TarvelonTimeSelect::init(cHydoDisplay &definition)
{
    m_definition = &definition;
}

void TarvelonTimeSelect::showEvent(QShowEvent *event)
{
    // Each opening starts from the definition: a dialog closed without OK changed only the
    // series.
    load();
    QDialog::showEvent(event);
}

void TarvelonTimeSelect::load()
{
    setWindowTitle(ms("Einstellungen der Messwertanzeige"));
    opt_onlinedaten->setText(ms("Onlinedaten"));
    OPT_Zeitbereich->setText(ms("Zeitbereich"));
    cmdOK->setText(ms("OK"));
    if (!m_definition)
        return;
    txt1->showDateTime(m_definition->StartDatum());
    txt2->showDateTime(m_definition->endDatum());
    intervallAnzahl->setText(QLocale().toString(m_definition->onlinenumber()));
    intervallart->clear();
    for (const char *unit : kUnits)
        intervallart->addItem(ms(QString::fromUtf8(unit)));
    intervallart->setCurrentIndex(m_definition->onlineintervall());
    opt_onlinedaten->setChecked(m_definition->onlinedata());
    OPT_Zeitbereich->setChecked(!m_definition->onlinedata());
    refresh_view();
}

bool TarvelonTimeSelect::isinlist(const QTreeWidget *list, const QString &key)
{
    for (int r = 0; list && r < list->topLevelItemCount(); ++r)
        if (list->topLevelItem(r)->data(0, kKeyRole).toString() == key)
            return true;
    return false;
}

void TarvelonTimeSelect::refresh_view()
{
    const bool online = opt_onlinedaten->isChecked();
    Label1->setText(online ? ms("Intervall Anzahl") : ms("Startzeitpunkt"));
    label2->setText(online ? ms("Intervall-Art") : ms("Endzeitpunkt"));
    txt1->setVisible(!online);
    txt2->setVisible(!online);
    intervallAnzahl->setVisible(online);
    intervallart->setVisible(online);

    ListView1->clear();
    ListView2->clear();
    ListView1->setHeaderLabels(
        {ms("ID"), ms("SID"), ms("Sensor Typ"), ms("Y-Achse Min"), ms("Y-Achse Max")});
    ListView2->setHeaderLabels({ms("ID"), ms("SID"), ms("Sensor Typ")});
    if (!m_definition)
        return;
    const QList<SensorInfo> sensors = m_sensors ? m_sensors() : QList<SensorInfo>{};
    // Item 1 is the logbook, which is always drawn and never listed.
    for (int i = 2; i <= m_definition->count(); ++i) {
        const int aqid = m_definition->aqid(i);
        const int sid = m_definition->sid(i);
        const SensorInfo *sensor = FindSensor(sensors, aqid, sid);
        auto *row = new QTreeWidgetItem(ListView1, {QString::number(aqid), QString::number(sid),
                                                    sensor ? ms(sensor->typeName) : QString(),
                                                    boundText(m_definition->ymin(i)),
                                                    boundText(m_definition->ymax(i))});
        row->setData(0, kKeyRole, itemKey(aqid, sid));
    }
    for (const SensorInfo &s : sensors) {
        bool chosen = false;
        for (int i = 1; i <= m_definition->count() && !chosen; ++i)
            chosen = m_definition->aqid(i) == s.aqid && m_definition->sid(i) == s.sid;
        if (chosen)
            continue;
        auto *row = new QTreeWidgetItem(
            ListView2, {QString::number(s.aqid), QString::number(s.sid), ms(s.typeName)});
        row->setData(0, kKeyRole, itemKey(s.aqid, s.sid));
    }
    for (QTreeWidget *list : {ListView1, ListView2}) {
        for (int c = 0; c < list->columnCount(); ++c)
            list->resizeColumnToContents(c);
        if (list->topLevelItemCount() > 0 && !list->currentItem())
            list->setCurrentItem(list->topLevelItem(0));
    }
}

void TarvelonTimeSelect::cmdAdd()
{
    QTreeWidgetItem *row = ListView2->currentItem();
    if (!m_definition || ListView2->topLevelItemCount() == 0 || !row)
        return;
    if (m_definition->count() - 1 >= kMaxSensorSeries) {
        QMessageBox::warning(this, ms("Achtung"),
                             ms("Es können höchstens 9 Sensoren zugleich angezeigt werden."));
        return;
    }
    m_definition->add(row->text(0).toInt(), row->text(1).toInt(), 0, 0);
    refresh_view();
}

void TarvelonTimeSelect::cmdRemove()
{
    QTreeWidgetItem *row = ListView1->currentItem();
    if (!m_definition || ListView1->topLevelItemCount() == 0 || !row)
        return;
    m_definition->remove(ListView1->indexOfTopLevelItem(row) + 1);
    refresh_view();
}

void TarvelonTimeSelect::editRange()
{
    QTreeWidgetItem *row = ListView1->currentItem();
    if (!m_definition || !row)
        return;
    const int index = ListView1->indexOfTopLevelItem(row) + 2;
    const QList<SensorInfo> sensors = m_sensors ? m_sensors() : QList<SensorInfo>{};
    TarvelonTimeSelectYMinMax dialog(this);
    dialog.init(index, *m_definition,
                FindSensor(sensors, m_definition->aqid(index), m_definition->sid(index)));
    dialog.exec();
    refresh_view();
}

bool TarvelonTimeSelect::checkDate(MaskedEdit *box)
{
    const QDateTime when = box->dateTime();
    box->setText(box->filledText());
    if (when.isValid())
        return true;
    QMessageBox::warning(this, ms("Achtung"), ms("Bitte Datumseingabe überprüfen !"));
    box->setModified(true);
    return false;
}

void TarvelonTimeSelect::cmdOK_Click()
{
    if (!m_definition)
        return;
    const bool online = opt_onlinedaten->isChecked();
    // The fields of the mode not chosen are kept as they are.
    if (!online && (!txt1->commit() || !txt2->commit()))
        return;
    bool isNumber = false;
    const float count = QLocale().toFloat(intervallAnzahl->text().trimmed(), &isNumber);
    if (online && (!isNumber || !(count > 0))) {
        QMessageBox::warning(this, ms("Achtung"), ms("Bitte geben Sie eine Zahl über 0 ein !"));
        intervallAnzahl->setFocus();
        intervallAnzahl->selectAll();
        return;
    }
    if (!online) {
        // A range that ends before it starts would draw nothing.
        if (!txt1->dateTime().isValid() || !txt2->dateTime().isValid() ||
            txt1->dateTime() >= txt2->dateTime()) {
            QMessageBox::warning(this, ms("Achtung"), ms("Bitte Datumseingabe überprüfen !"));
            return;
        }
        m_definition->set_StartDatum(txt1->dateTime());
        m_definition->set_endDatum(txt2->dateTime());
    } else {
        m_definition->set_onlinenumber(count);
        // The entry's position is its code: the entries are translated, their codes are not.
        m_definition->set_onlineintervall(std::max(0, intervallart->currentIndex()));
    }
    m_definition->set_onlinedata(online);
    accept();
}

TarvelonTimeSelectYMinMax::TarvelonTimeSelectYMinMax(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TarvelonTimeSelectYMinMax"));
    setModal(true);
    lb_ymin = new QLabel(this);
    lb_ymin->setObjectName(QStringLiteral("lb_ymin"));
    edit_ymin = new MaskedEdit(this);
    edit_ymin->setObjectName(QStringLiteral("edit_ymin"));
    lb_ymax = new QLabel(this);
    lb_ymax->setObjectName(QStringLiteral("lb_ymax"));
    edit_ymax = new MaskedEdit(this);
    edit_ymax->setObjectName(QStringLiteral("edit_ymax"));
    cmd_ok = new QPushButton(this);
    cmd_ok->setObjectName(QStringLiteral("cmd_ok"));
    cmd_ok->setDefault(true);
    for (MaskedEdit *box : {edit_ymin, edit_ymax}) {
        box->setSigned(true);
        connect(box, &MaskedEdit::validating, this, [this, box](bool *keepFocus) {
            if (!m_definition)
                return;
            if (!box->hasNumber()) {
                // Without its sensor's mask the box takes any text; only a number is a bound.
                QMessageBox::warning(this, ms("Achtung"), ms("Bitte geben Sie eine Zahl ein !"));
                box->setModified(true);
                *keepFocus = true;
                return;
            }
            const double value = box->number();
            box->showNumber(value);
            if (box == edit_ymin)
                m_definition->ymin_replace(m_index, static_cast<float>(value));
            else
                m_definition->ymax_replace(m_index, static_cast<float>(value));
        });
    }
    connect(cmd_ok, &QPushButton::clicked, this, [this] {
        if (edit_ymin->commit() && edit_ymax->commit())
            accept();
    });
    auto *grid = new QGridLayout(this);
    grid->addWidget(lb_ymin, 0, 0);
    grid->addWidget(edit_ymin, 0, 1);
    grid->addWidget(lb_ymax, 1, 0);
    grid->addWidget(edit_ymax, 1, 1);
    grid->addWidget(new QLabel(ms("Wert 0 bedeutet Automatische Auflösung"), this), 2, 0, 1, 2);
    grid->addWidget(cmd_ok, 3, 1, Qt::AlignRight);
}

void TarvelonTimeSelectYMinMax::init(int index, cHydoDisplay &definition, const SensorInfo *sensor)
{
    m_definition = &definition;
    m_index = index;
    cmd_ok->setText(ms("OK"));
    const QString unit = sensor ? sensor->unit : QString();
    lb_ymin->setText(ms(QStringLiteral("Untere Grenze Y-Achse [") + unit + QStringLiteral("]:")));
    lb_ymax->setText(ms(QStringLiteral("Obere Grenze Y-Achse [") + unit + QStringLiteral("]:")));
    for (MaskedEdit *box : {edit_ymin, edit_ymax}) {
        if (sensor)
            box->setMaskAndFormat(sensor->mask, sensor->valueFormat, sensor->width);
        box->showNumber(box == edit_ymin ? definition.ymin(index) : definition.ymax(index));
    }
    setWindowTitle(ms("Ändern der Display Y-Auflösung"));
}
