#include "ui/hydo_werte_regelung_ctl.h"

#include "model/ctarvelon.h"
#include "model/interaction.h"
#include "store/strings.h"
#include "ui/tarvelon_program_dose.h"
#include "widgets/form_table.h"
#include "widgets/masked_edit.h"

#include <QDoubleSpinBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace
{

enum ValueIndex { SoTag, SoNacht, WiTag, WiNacht, ObAlarm, UtAlarm, ObWarnung, UtWarnung };

// Regelart codes.
constexpr int kOff = 0;
constexpr int kLower = 1;
constexpr int kRaise = 2;
constexpr int kInAlarm = 3;

constexpr int kDimmableSocket = 2;

const char *const kSocketValueMask = "###";
const char *const kSocketValueFormat = "000";
const char *const kTimeMask = "##:##:##";
const char *const kTimeFormat = "hh:mm:ss";
constexpr int kSmallBoxTwips = 450;
constexpr int kTimeBoxTwips = 900;

struct Hidden {
    bool winter = false;
    bool summerNight = false;
    bool summerDay = false;
    bool limits = false;
    bool alarmTime = false;
};

// The fields a regulation of this display type has no use for.
Hidden hiddenFor(int displayType)
{
    switch (displayType) {
    case 1:
    case 6:
    case 9:
        return {.winter = true, .alarmTime = true};
    case 2:
    case 13:
        return {.alarmTime = true};
    case 3:
    case 4:
    case 5:
    case 10:
    case 11:
    case 12:
        return {.winter = true, .summerNight = true, .alarmTime = true};
    case 7: // a level: only its alarm time counts
        return {.winter = true, .summerNight = true, .summerDay = true, .limits = true};
    default:
        return {};
    }
}

} // namespace

HydoWerteRegelungCtl::HydoWerteRegelungCtl(QWidget *parent) : QGroupBox(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(buildDirections());
    Text_Beschreibung = new QLineEdit(this);
    Text_Beschreibung->setObjectName(QStringLiteral("Text_Beschreibung"));
    connect(Text_Beschreibung, &QLineEdit::editingFinished, this, [this] {
        if (m_regulation && Text_Beschreibung->isModified()) {
            m_regulation->set_beschreibung(Text_Beschreibung->text());
            Text_Beschreibung->setModified(false);
        }
    });
    layout->addWidget(Text_Beschreibung);
    layout->addWidget(buildFields());
    layout->addStretch();
}

QWidget *HydoWerteRegelungCtl::buildDirections()
{
    using form::Kind;
    Frame_Vorgang = new QWidget(this);
    Frame_Vorgang->setObjectName(QStringLiteral("Frame_Vorgang"));
    auto *grid = new QGridLayout(Frame_Vorgang);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setColumnStretch(1, 1);
    // A row per Regelart code; the captions depend on the sensor and are set by init.
    const QList<QWidget *> made = form::build(Frame_Vorgang, grid,
                                              {
                                                  {Kind::RadioButton, "Opt_Aus", nullptr, 0, 0},
                                                  {Kind::Label, "Label_optAus", nullptr, 0, 1},
                                                  {Kind::RadioButton, "Opt_Runter", nullptr, 1, 0},
                                                  {Kind::Label, "label_optRunter", nullptr, 1, 1},
                                                  {Kind::RadioButton, "Opt_Hoch", nullptr, 2, 0},
                                                  {Kind::Label, "label_optHoch", nullptr, 2, 1},
                                              });
    QRadioButton **options[] = {&Opt_Aus, &Opt_Runter, &Opt_Hoch};
    QLabel **labels[] = {&Label_optAus, &label_optRunter, &label_optHoch};
    for (int code = kOff; code <= kRaise; ++code) {
        *options[code] = static_cast<QRadioButton *>(made[2 * code]);
        *labels[code] = static_cast<QLabel *>(made[2 * code + 1]);
        (*labels[code])->installEventFilter(this); // a click on the caption picks the option
        connect(*options[code], &QRadioButton::clicked, this, [this, code] { setDirection(code); });
    }
    return Frame_Vorgang;
}

QWidget *HydoWerteRegelungCtl::buildFields()
{
    using form::Kind;
    m_fields = new QWidget(this);
    auto *grid = new QGridLayout(m_fields);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2); // the tallest panel still fits a 720-pixel screen
    grid->setColumnStretch(3, 1);
    // Rows 0 to 7 in the order of ValueIndex; their captions depend on the sensor.
    const QList<QWidget *> made =
        form::build(m_fields, grid,
                    {
                        {Kind::Label, "Label_SoTag", nullptr, 0, 0},
                        {Kind::MaskedEdit, "Text_SoTag", nullptr, 0, 1, 1, 2},
                        {Kind::Label, "Label_SoNacht", nullptr, 1, 0},
                        {Kind::MaskedEdit, "Text_SoNacht", nullptr, 1, 1, 1, 2},
                        {Kind::Label, "Label_WiTag", nullptr, 2, 0},
                        {Kind::MaskedEdit, "Text_WiTag", nullptr, 2, 1, 1, 2},
                        {Kind::Label, "Label_WiNacht", nullptr, 3, 0},
                        {Kind::MaskedEdit, "Text_WiNacht", nullptr, 3, 1, 1, 2},
                        {Kind::Label, "Label_ObAlarm", nullptr, 4, 0},
                        {Kind::MaskedEdit, "Text_ObAlarm", nullptr, 4, 1, 1, 2},
                        {Kind::Label, "Label_UtAlarm", nullptr, 5, 0},
                        {Kind::MaskedEdit, "Text_UtAlarm", nullptr, 5, 1, 1, 2},
                        {Kind::Label, "Label_ObWarnung", nullptr, 6, 0},
                        {Kind::MaskedEdit, "Text_ObWarnung", nullptr, 6, 1, 1, 2},
                        {Kind::Label, "Label_UtWarnung", nullptr, 7, 0},
                        {Kind::MaskedEdit, "Text_UtWarnung", nullptr, 7, 1, 1, 2},
                        {Kind::Label, "label_Alarmzeit", nullptr, 8, 0},
                        {Kind::MaskedEdit, "text_Alarmzeit", nullptr, 8, 1, 1, 2},
                        {Kind::Label, "Label_Dose", nullptr, 9, 0},
                        {Kind::LineEdit, "Text_Dose", nullptr, 9, 1},
                        {Kind::PushButton, "Cmd_Dose", nullptr, 9, 2, 1, 1, Qt::AlignLeft},
                        {Kind::Label, "Label_DosenEin", nullptr, 10, 0},
                        {Kind::MaskedEdit, "Text_DosenEin", nullptr, 10, 1, 1, 2},
                        {Kind::Label, "Label_DosenAus", nullptr, 11, 0},
                        {Kind::MaskedEdit, "Text_DosenAus", nullptr, 11, 1, 1, 2},
                        {Kind::GroupBox, "Frame_Alarmqualitaet", nullptr, 12, 0, 1, 4},
                    });
    for (int i = SoTag; i <= UtWarnung; ++i)
        m_values.push_back(
            {static_cast<QLabel *>(made[2 * i]), static_cast<MaskedEdit *>(made[2 * i + 1])});
    connectValueRows();
    buildAlarmTime();
    buildSocket();
    buildAlarmQuality();
    return m_fields;
}

void HydoWerteRegelungCtl::connectValueRows()
{
    const std::function<void(cHydoRegelung &, float)> stores[] = {
        [](cHydoRegelung &r, float v) { r.set_RW_SommerTag(v); },
        [](cHydoRegelung &r, float v) { r.set_RW_SommerNacht(v); },
        [](cHydoRegelung &r, float v) { r.set_RW_WinterTag(v); },
        [](cHydoRegelung &r, float v) { r.set_RW_WinterNacht(v); },
        [](cHydoRegelung &r, float v) { r.set_RW_ObererAlarm(v); },
        [](cHydoRegelung &r, float v) { r.set_RW_UntererAlarm(v); },
        [](cHydoRegelung &r, float v) { r.set_SW_ObereWarnung(v); },
        [](cHydoRegelung &r, float v) { r.set_SW_UntereWarnung(v); },
    };
    for (size_t i = 0; i < m_values.size(); ++i) {
        MaskedEdit *box = m_values[i].box;
        box->setSigned(true);
        connect(box, &MaskedEdit::validating, this, [this, box, store = stores[i]](bool *) {
            if (!m_regulation)
                return;
            box->showNumber(box->number());
            store(*m_regulation, static_cast<float>(box->number()));
        });
    }
}

void HydoWerteRegelungCtl::buildAlarmTime()
{
    label_Alarmzeit = form::control<QLabel>(m_fields, "label_Alarmzeit");
    text_Alarmzeit = form::control<MaskedEdit>(m_fields, "text_Alarmzeit");
    text_Alarmzeit->setMaskAndFormat(QLatin1String(kTimeMask), QLatin1String(kTimeFormat),
                                     kTimeBoxTwips);
    connect(text_Alarmzeit, &MaskedEdit::validating, this, [this](bool *keepFocus) {
        if (!m_regulation)
            return;
        const QTime time = text_Alarmzeit->time();
        text_Alarmzeit->setText(text_Alarmzeit->filledText());
        if (!time.isValid()) {
            // Not a time of day: the user corrects it before going on.
            text_Alarmzeit->setModified(true);
            *keepFocus = true;
            return;
        }
        m_regulation->set_PegelAlarmzeit(time);
    });
}

void HydoWerteRegelungCtl::buildSocket()
{
    Label_Dose = form::control<QLabel>(m_fields, "Label_Dose");
    Text_Dose = form::control<QLineEdit>(m_fields, "Text_Dose"); // the socket's number
    Text_Dose->setReadOnly(true); // changed through the socket dialog only
    Text_Dose->setFixedWidth(qRound(kTimeBoxTwips / 15.0) / 2);
    Cmd_Dose = form::control<QPushButton>(m_fields, "Cmd_Dose");
    Cmd_Dose->setText(QStringLiteral("..."));
    Cmd_Dose->setFixedWidth(Cmd_Dose->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
    connect(Cmd_Dose, &QPushButton::clicked, this, &HydoWerteRegelungCtl::chooseSocket);

    Label_DosenEin = form::control<QLabel>(m_fields, "Label_DosenEin");
    Text_DosenEin = form::control<MaskedEdit>(m_fields, "Text_DosenEin");
    Label_DosenAus = form::control<QLabel>(m_fields, "Label_DosenAus");
    Text_DosenAus = form::control<MaskedEdit>(m_fields, "Text_DosenAus");
    for (MaskedEdit *box : {Text_DosenEin, Text_DosenAus}) {
        box->setMaskAndFormat(QLatin1String(kSocketValueMask), QLatin1String(kSocketValueFormat),
                              kSmallBoxTwips);
        const bool on = box == Text_DosenEin;
        connect(box, &MaskedEdit::validating, this, [this, box, on](bool *) {
            cHydoAktor *socket = m_regulation ? m_regulation->Aktor() : nullptr;
            if (!socket)
                return;
            const int value = std::min(qRound(box->number()), kSocketValueLimit);
            box->showNumber(value);
            if (on)
                socket->set_ValueOn(value);
            else
                socket->set_ValueOff(value);
        });
    }
}

void HydoWerteRegelungCtl::buildAlarmQuality()
{
    using form::Kind;
    Frame_Alarmqualitaet = form::control<QGroupBox>(m_fields, "Frame_Alarmqualitaet");
    auto *grid = new QGridLayout(Frame_Alarmqualitaet);
    grid->setColumnStretch(1, 1);
    form::build(
        Frame_Alarmqualitaet, grid,
        {
            {Kind::Label, "Label_Hysterese", nullptr, 0, 0},
            {Kind::DoubleSpinBox, "Text_Hysterese", nullptr, 0, 1, 1, 1, Qt::AlignLeft},
            {Kind::Label, "Label_Haltezeit", msKey("Haltezeit [s]"), 1, 0},
            {Kind::SpinBox, "Text_Haltezeit", nullptr, 1, 1, 1, 1, Qt::AlignLeft},
            {Kind::Label, "Label_Wiederholung", msKey("Wiederholung frühestens nach [s]"), 2, 0},
            {Kind::SpinBox, "Text_Wiederholung", nullptr, 2, 1, 1, 1, Qt::AlignLeft},
        });
    // Long captions wrap, so that four panels side by side fit a small screen.
    for (QLabel *label : Frame_Alarmqualitaet->findChildren<QLabel *>())
        label->setWordWrap(true);
    Label_Hysterese = form::control<QLabel>(Frame_Alarmqualitaet, "Label_Hysterese");
    Text_Hysterese = form::control<QDoubleSpinBox>(Frame_Alarmqualitaet, "Text_Hysterese");
    Text_Hysterese->setDecimals(2);
    Text_Hysterese->setRange(0, kAlarmQualityMaxHysteresis);
    Text_Haltezeit = form::control<QSpinBox>(Frame_Alarmqualitaet, "Text_Haltezeit");
    Text_Wiederholung = form::control<QSpinBox>(Frame_Alarmqualitaet, "Text_Wiederholung");
    for (QAbstractSpinBox *box : {static_cast<QAbstractSpinBox *>(Text_Hysterese),
                                  static_cast<QAbstractSpinBox *>(Text_Haltezeit),
                                  static_cast<QAbstractSpinBox *>(Text_Wiederholung)}) {
        box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 24);
        // Typing does not store each keystroke; the arrows and leaving the box do.
        box->setKeyboardTracking(false);
    }
    for (QSpinBox *box : {Text_Haltezeit, Text_Wiederholung})
        box->setRange(0, kAlarmQualityMaxSeconds);
    connect(Text_Hysterese, &QDoubleSpinBox::valueChanged, this,
            &HydoWerteRegelungCtl::storeAlarmQuality);
    for (QSpinBox *box : {Text_Haltezeit, Text_Wiederholung})
        connect(box, &QSpinBox::valueChanged, this, &HydoWerteRegelungCtl::storeAlarmQuality);
}

void HydoWerteRegelungCtl::init(cTarvelon &controller, int sensor, int index)
{
    setTitle(ms("Regelung") + QLatin1Char(' ') + QString::number(index));
    if (sensor == 0) {
        // No sensor of this kind: nothing here belongs to it, and edits must not reach the
        // regulation shown before.
        m_regulation = nullptr;
        Frame_Vorgang->setEnabled(false);
        Frame_Vorgang->hide();
        Text_Beschreibung->setEnabled(false);
        Text_Beschreibung->hide();
        m_fields->hide();
        return;
    }
    m_controller = &controller;
    m_regulation = &controller.Regelung(sensor, index);
    cHydoRegelung &r = *m_regulation;

    Frame_Vorgang->setEnabled(true);
    Frame_Vorgang->show();
    Text_Beschreibung->setEnabled(true);
    Text_Beschreibung->show();
    Text_Beschreibung->setText(r.beschreibung());
    m_fields->show();

    showDirection(r);
    const int type = r.sensortyp();
    showValueFields(type);
    const QString unit = QLatin1Char(' ') + controller.MesswertEinheit(type);
    showValues(r, unit);
    showAlarmQuality(r, unit);
    showSocket(r);
}

void HydoWerteRegelungCtl::showDirection(const cHydoRegelung &r)
{
    const int direction = r.Regelart();
    for (QRadioButton *o : {Opt_Aus, Opt_Runter, Opt_Hoch})
        o->setAutoExclusive(false);
    Opt_Aus->setChecked(direction == kOff);
    Opt_Runter->setChecked(direction == kLower);
    Opt_Hoch->setChecked(direction == kRaise);
    for (QRadioButton *o : {Opt_Aus, Opt_Runter, Opt_Hoch})
        o->setAutoExclusive(true);
    if (direction == kInAlarm)
        m_controller->interaction().tell(ms("Tarvelon ist im Alarmzustand !"), QString(),
                                         Interaction::Icon::None);
    Label_optAus->setText(ms(r.Aus_Text()));
    label_optRunter->setText(ms(r.runter_Text()));
    label_optHoch->setText(ms(r.Hoch_Text()));
}

void HydoWerteRegelungCtl::showValues(const cHydoRegelung &r, const QString &unit)
{
    label_Alarmzeit->setText(ms("Alarmzeit"));
    text_Alarmzeit->showTime(r.PegelAlarmzeit());

    cHydoSensor &s = r.Sensor();
    const QString keys[] = {r.SoTag_Text(),
                            r.SoNacht_Text(),
                            QStringLiteral("Winter Tag"),
                            QStringLiteral("Winter Nacht"),
                            QStringLiteral("Oberer Alarm"),
                            QStringLiteral("Unterer Alarm"),
                            QStringLiteral("Obere Warnung"),
                            QStringLiteral("Untere Warnung")};
    const double values[] = {r.RW_SommerTag(),    r.RW_SommerNacht(),  r.RW_WinterTag(),
                             r.RW_WinterNacht(),  r.RW_ObererAlarm(),  r.RW_UntererAlarm(),
                             r.SW_ObereWarnung(), r.SW_UntereWarnung()};
    for (size_t i = 0; i < m_values.size(); ++i) {
        m_values[i].label->setText(ms(keys[i]) + unit);
        m_values[i].box->setMaskAndFormat(s.WertMaske(), s.WertFormat(), s.WertWidth());
        m_values[i].box->showNumber(values[i]);
    }
}

void HydoWerteRegelungCtl::showAlarmQuality(const cHydoRegelung &r, const QString &unit)
{
    Frame_Alarmqualitaet->setTitle(ms("Alarmqualität"));
    Label_Hysterese->setText(ms("Hysterese") + unit);
    const AlarmQuality q = r.alarmQuality();
    const QSignalBlocker b1(Text_Hysterese), b2(Text_Haltezeit), b3(Text_Wiederholung);
    Text_Hysterese->setValue(q.hysteresis);
    Text_Haltezeit->setValue(q.holdSeconds);
    Text_Wiederholung->setValue(q.repeatSeconds);
}

void HydoWerteRegelungCtl::showSocket(const cHydoRegelung &r)
{
    Text_Dose->setText(QString::number(r.DosenNr()));
    Label_Dose->setText(ms("Dose"));
    QWidget *const dimmerFields[] = {Label_DosenEin, Text_DosenEin, Label_DosenAus, Text_DosenAus};
    cHydoAktor *socket = r.Aktor();
    // Only a dimmable socket has on and off values to edit.
    const bool dimmable = r.DosenNr() != 0 && socket && socket->DosenType() == kDimmableSocket;
    if (dimmable) {
        Label_DosenEin->setText(ms("Ein [%]"));
        Label_DosenAus->setText(ms("Aus [%]"));
        Text_DosenEin->showNumber(socket->ValueOn());
        Text_DosenAus->showNumber(socket->ValueOff());
    }
    for (QWidget *w : dimmerFields)
        w->setVisible(dimmable);
}

MaskedEdit *HydoWerteRegelungCtl::commit()
{
    MaskedEdit *refused = nullptr;
    for (const ValueField &f : m_values)
        if (!f.box->commit() && !refused)
            refused = f.box;
    for (MaskedEdit *box : {text_Alarmzeit, Text_DosenEin, Text_DosenAus})
        if (!box->commit() && !refused)
            refused = box;
    if (m_regulation && Text_Beschreibung->isModified()) {
        m_regulation->set_beschreibung(Text_Beschreibung->text());
        Text_Beschreibung->setModified(false);
    }
    for (QAbstractSpinBox *box : {static_cast<QAbstractSpinBox *>(Text_Hysterese),
                                  static_cast<QAbstractSpinBox *>(Text_Haltezeit),
                                  static_cast<QAbstractSpinBox *>(Text_Wiederholung)}) {
        const QSignalBlocker block(box);
        box->interpretText();
    }
    storeAlarmQuality();
    return refused;
}

void HydoWerteRegelungCtl::storeAlarmQuality()
{
    if (!m_regulation)
        return;
    const AlarmQuality q{Text_Hysterese->value(), Text_Haltezeit->value(),
                         Text_Wiederholung->value()};
    if (q != m_regulation->alarmQuality())
        m_regulation->set_alarmQuality(q);
}

void HydoWerteRegelungCtl::showValueFields(int displayType)
{
    const Hidden hidden = hiddenFor(displayType);
    const bool visible[] = {!hidden.summerDay, !hidden.summerNight, !hidden.winter, !hidden.winter,
                            !hidden.limits,    !hidden.limits,      !hidden.limits, !hidden.limits};
    for (size_t i = 0; i < m_values.size(); ++i) {
        m_values[i].label->setVisible(visible[i]);
        m_values[i].box->setVisible(visible[i]);
    }
    Frame_Alarmqualitaet->setVisible(!hidden.limits);
    label_Alarmzeit->setVisible(!hidden.alarmTime);
    text_Alarmzeit->setVisible(!hidden.alarmTime);
}

void HydoWerteRegelungCtl::setDirection(int code)
{
    QRadioButton *options[] = {Opt_Aus, Opt_Runter, Opt_Hoch};
    options[code]->setChecked(true);
    if (m_regulation)
        m_regulation->set_Regelart(code);
}

void HydoWerteRegelungCtl::chooseSocket()
{
    if (!m_regulation || (m_beforeSocketDialog && !m_beforeSocketDialog()))
        return;
    TarvelonProgramDose dialog(this);
    dialog.init(*m_controller, *m_regulation);
    dialog.exec();
    if (dialog.changed())
        emit socketChanged();
}

bool HydoWerteRegelungCtl::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease && Frame_Vorgang->isEnabled()) {
        if (watched == Label_optAus)
            setDirection(kOff);
        else if (watched == label_optRunter)
            setDirection(kLower);
        else if (watched == label_optHoch)
            setDirection(kRaise);
    }
    return QGroupBox::eventFilter(watched, event);
}
