#include "ui/hydo_werte_regelung_ctl.h"

#include "model/ctarvelon.h"
#include "model/interaction.h"
#include "store/strings.h"
#include "ui/tarvelon_program_dose.h"
#include "widgets/masked_edit.h"

#include <QDoubleSpinBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
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

    Frame_Vorgang = new QWidget(this);
    Frame_Vorgang->setObjectName(QStringLiteral("Frame_Vorgang"));
    auto *directions = new QGridLayout(Frame_Vorgang);
    directions->setContentsMargins(0, 0, 0, 0);
    auto direction = [&](QRadioButton *&option, const char *optionName, QLabel *&label,
                         const char *labelName, int code) {
        option = new QRadioButton(Frame_Vorgang);
        option->setObjectName(QLatin1String(optionName));
        label = new QLabel(Frame_Vorgang);
        label->setObjectName(QLatin1String(labelName));
        label->installEventFilter(this); // a click on the caption picks the option
        directions->addWidget(option, code, 0);
        directions->addWidget(label, code, 1);
        connect(option, &QRadioButton::clicked, this, [this, code] { setDirection(code); });
    };
    direction(Opt_Aus, "Opt_Aus", Label_optAus, "Label_optAus", kOff);
    direction(Opt_Runter, "Opt_Runter", label_optRunter, "label_optRunter", kLower);
    direction(Opt_Hoch, "Opt_Hoch", label_optHoch, "label_optHoch", kRaise);
    directions->setColumnStretch(1, 1);
    layout->addWidget(Frame_Vorgang);

    Text_Beschreibung = new QLineEdit(this);
    Text_Beschreibung->setObjectName(QStringLiteral("Text_Beschreibung"));
    connect(Text_Beschreibung, &QLineEdit::editingFinished, this, [this] {
        if (m_regulation && Text_Beschreibung->isModified()) {
            m_regulation->set_beschreibung(Text_Beschreibung->text());
            Text_Beschreibung->setModified(false);
        }
    });
    layout->addWidget(Text_Beschreibung);

    m_fields = new QWidget(this);
    auto *grid = new QGridLayout(m_fields);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(2); // the tallest panel still fits a 720-pixel screen
    // In the order of ValueIndex.
    addValueRow("Text_SoTag", "Label_SoTag",
                [this](float v) { m_regulation->set_RW_SommerTag(v); });
    addValueRow("Text_SoNacht", "Label_SoNacht",
                [this](float v) { m_regulation->set_RW_SommerNacht(v); });
    addValueRow("Text_WiTag", "Label_WiTag",
                [this](float v) { m_regulation->set_RW_WinterTag(v); });
    addValueRow("Text_WiNacht", "Label_WiNacht",
                [this](float v) { m_regulation->set_RW_WinterNacht(v); });
    addValueRow("Text_ObAlarm", "Label_ObAlarm",
                [this](float v) { m_regulation->set_RW_ObererAlarm(v); });
    addValueRow("Text_UtAlarm", "Label_UtAlarm",
                [this](float v) { m_regulation->set_RW_UntererAlarm(v); });
    addValueRow("Text_ObWarnung", "Label_ObWarnung",
                [this](float v) { m_regulation->set_SW_ObereWarnung(v); });
    addValueRow("Text_UtWarnung", "Label_UtWarnung",
                [this](float v) { m_regulation->set_SW_UntereWarnung(v); });

    int row = int(m_values.size());
    label_Alarmzeit = new QLabel(m_fields);
    label_Alarmzeit->setObjectName(QStringLiteral("label_Alarmzeit"));
    text_Alarmzeit = new MaskedEdit(m_fields);
    text_Alarmzeit->setObjectName(QStringLiteral("text_Alarmzeit"));
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
    grid->addWidget(label_Alarmzeit, row, 0);
    grid->addWidget(text_Alarmzeit, row++, 1, 1, 2);

    Label_Dose = new QLabel(m_fields);
    Label_Dose->setObjectName(QStringLiteral("Label_Dose"));
    Text_Dose = new QLineEdit(m_fields);
    Text_Dose->setObjectName(QStringLiteral("Text_Dose"));
    Text_Dose->setReadOnly(true); // changed through the socket dialog only
    Text_Dose->setFixedWidth(qRound(kTimeBoxTwips / 15.0) / 2);
    Cmd_Dose = new QPushButton(QStringLiteral("..."), m_fields);
    Cmd_Dose->setObjectName(QStringLiteral("Cmd_Dose"));
    Cmd_Dose->setFixedWidth(Cmd_Dose->fontMetrics().horizontalAdvance(QStringLiteral("...")) + 16);
    connect(Cmd_Dose, &QPushButton::clicked, this, &HydoWerteRegelungCtl::chooseSocket);
    grid->addWidget(Label_Dose, row, 0);
    grid->addWidget(Text_Dose, row, 1);
    grid->addWidget(Cmd_Dose, row++, 2, Qt::AlignLeft);

    auto socketValue = [&](QLabel *&label, const char *labelName, MaskedEdit *&box,
                           const char *boxName, bool on) {
        label = new QLabel(m_fields);
        label->setObjectName(QLatin1String(labelName));
        box = new MaskedEdit(m_fields);
        box->setObjectName(QLatin1String(boxName));
        box->setMaskAndFormat(QLatin1String(kSocketValueMask), QLatin1String(kSocketValueFormat),
                              kSmallBoxTwips);
        MaskedEdit *edit = box;
        connect(box, &MaskedEdit::validating, this, [this, edit, on](bool *) {
            cHydoAktor *socket = m_regulation ? m_regulation->Aktor() : nullptr;
            if (!socket)
                return;
            const int value = std::min(qRound(edit->number()), kSocketValueLimit);
            edit->showNumber(value);
            if (on)
                socket->set_ValueOn(value);
            else
                socket->set_ValueOff(value);
        });
        grid->addWidget(label, row, 0);
        grid->addWidget(box, row++, 1, 1, 2);
    };
    socketValue(Label_DosenEin, "Label_DosenEin", Text_DosenEin, "Text_DosenEin", true);
    socketValue(Label_DosenAus, "Label_DosenAus", Text_DosenAus, "Text_DosenAus", false);
    Frame_Alarmqualitaet = new QGroupBox(m_fields);
    Frame_Alarmqualitaet->setObjectName(QStringLiteral("Frame_Alarmqualitaet"));
    auto *quality = new QFormLayout(Frame_Alarmqualitaet);
    Text_Hysterese = new QDoubleSpinBox(Frame_Alarmqualitaet);
    Text_Hysterese->setObjectName(QStringLiteral("Text_Hysterese"));
    Text_Hysterese->setDecimals(2);
    Text_Hysterese->setRange(0, kAlarmQualityMaxHysteresis);
    Text_Hysterese->setMaximumWidth(
        Text_Hysterese->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 24);
    Label_Hysterese = new QLabel(Frame_Alarmqualitaet);
    Label_Hysterese->setWordWrap(true);
    quality->addRow(Label_Hysterese, Text_Hysterese);
    auto seconds = [&](QSpinBox *&box, const char *name, const char *caption) {
        box = new QSpinBox(Frame_Alarmqualitaet);
        box->setObjectName(QLatin1String(name));
        box->setRange(0, kAlarmQualityMaxSeconds);
        // Long captions wrap, so that four panels side by side fit a small screen.
        auto *label = new QLabel(ms(caption), Frame_Alarmqualitaet);
        label->setWordWrap(true);
        box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("00000000")) + 24);
        quality->addRow(label, box);
    };
    seconds(Text_Haltezeit, "Text_Haltezeit", msKey("Haltezeit [s]"));
    seconds(Text_Wiederholung, "Text_Wiederholung", msKey("Wiederholung frühestens nach [s]"));
    // Typing does not store each keystroke; the arrows and leaving the box do.
    Text_Hysterese->setKeyboardTracking(false);
    connect(Text_Hysterese, &QDoubleSpinBox::valueChanged, this,
            &HydoWerteRegelungCtl::storeAlarmQuality);
    for (QSpinBox *box : {Text_Haltezeit, Text_Wiederholung}) {
        box->setKeyboardTracking(false);
        connect(box, &QSpinBox::valueChanged, this, &HydoWerteRegelungCtl::storeAlarmQuality);
    }
    grid->addWidget(Frame_Alarmqualitaet, row++, 0, 1, 4);

    grid->setColumnStretch(3, 1);
    layout->addWidget(m_fields);
    layout->addStretch();
}

void HydoWerteRegelungCtl::addValueRow(const char *boxName, const char *labelName,
                                       std::function<void(float)> store)
{
    const int row = int(m_values.size());
    auto *grid = static_cast<QGridLayout *>(m_fields->layout());
    auto *label = new QLabel(m_fields);
    label->setObjectName(QLatin1String(labelName));
    auto *box = new MaskedEdit(m_fields);
    box->setObjectName(QLatin1String(boxName));
    box->setSigned(true);
    connect(box, &MaskedEdit::validating, this, [this, box, store = std::move(store)](bool *) {
        if (!m_regulation)
            return;
        box->showNumber(box->number());
        store(static_cast<float>(box->number()));
    });
    grid->addWidget(label, row, 0);
    grid->addWidget(box, row, 1, 1, 2);
    m_values.push_back({label, box});
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

    const int direction = r.Regelart();
    for (QRadioButton *o : {Opt_Aus, Opt_Runter, Opt_Hoch})
        o->setAutoExclusive(false);
    Opt_Aus->setChecked(direction == kOff);
    Opt_Runter->setChecked(direction == kLower);
    Opt_Hoch->setChecked(direction == kRaise);
    for (QRadioButton *o : {Opt_Aus, Opt_Runter, Opt_Hoch})
        o->setAutoExclusive(true);
    if (direction == kInAlarm)
        controller.interaction().tell(ms("Tarvelon ist im Alarmzustand !"), QString(),
                                      Interaction::Icon::None);

    const int type = r.sensortyp();
    showValueFields(type);
    Label_optAus->setText(ms(r.Aus_Text()));
    label_optRunter->setText(ms(r.runter_Text()));
    label_optHoch->setText(ms(r.Hoch_Text()));

    label_Alarmzeit->setText(ms("Alarmzeit"));
    text_Alarmzeit->showTime(r.PegelAlarmzeit());

    cHydoSensor &s = r.Sensor();
    const QString unit = QLatin1Char(' ') + controller.MesswertEinheit(type);
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

    Frame_Alarmqualitaet->setTitle(ms("Alarmqualität"));
    Label_Hysterese->setText(ms("Hysterese") + unit);
    {
        const AlarmQuality q = r.alarmQuality();
        const QSignalBlocker b1(Text_Hysterese), b2(Text_Haltezeit), b3(Text_Wiederholung);
        Text_Hysterese->setValue(q.hysteresis);
        Text_Haltezeit->setValue(q.holdSeconds);
        Text_Wiederholung->setValue(q.repeatSeconds);
    }

    Text_Dose->setText(QString::number(r.DosenNr()));
    Label_Dose->setText(ms("Dose"));
    for (QWidget *w :
         {static_cast<QWidget *>(Label_DosenEin), static_cast<QWidget *>(Text_DosenEin),
          static_cast<QWidget *>(Label_DosenAus), static_cast<QWidget *>(Text_DosenAus)})
        w->hide();
    cHydoAktor *socket = r.Aktor();
    if (r.DosenNr() != 0 && socket && socket->DosenType() == kDimmableSocket) {
        Label_DosenEin->setText(ms("Ein [%]"));
        Label_DosenAus->setText(ms("Aus [%]"));
        Text_DosenEin->showNumber(socket->ValueOn());
        Text_DosenAus->showNumber(socket->ValueOff());
        for (QWidget *w :
             {static_cast<QWidget *>(Label_DosenEin), static_cast<QWidget *>(Text_DosenEin),
              static_cast<QWidget *>(Label_DosenAus), static_cast<QWidget *>(Text_DosenAus)})
            w->show();
    }
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
