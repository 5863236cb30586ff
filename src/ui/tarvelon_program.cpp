#include "ui/tarvelon_program.h"

#include "model/ctarvelon.h"
#include "model/field_access.h"
#include "model/tables.h"
#include "store/strings.h"
#include "ui/hydo_sensor_ctl.h"
#include "ui/hydo_werte_regelung_ctl.h"
#include "widgets/form_table.h"
#include "widgets/masked_edit.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace
{

enum Page { RegulationPage, TimePage, MeasurementPage, SystemPage };

// The regulation page's tabs: one per kind of sensor, in this order.
constexpr int kRegulationKinds[] = {1, 3, 4, 6, 7, 2};

constexpr int kSocketValueTwips = 450;

QString horizontalField(const char *kind)
{
    return QStringLiteral("aq_hd_") + QLatin1String(kind);
}

QString linearField(const char *kind)
{
    return QStringLiteral("aq_ld_") + QLatin1String(kind);
}

} // namespace

// The program image and each regulation's values kept on the PC.
struct TarvelonProgram::Opened {
    struct Regulation {
        float lowerWarning = 0;
        float upperWarning = 0;
        QString beschreibung;
        AlarmQuality quality;
    };
    QString program;
    std::array<std::array<Regulation, cTarvelon::kRegulationsPerSensor + 1>,
               cTarvelon::kSensors + 1>
        regulations;
};

TarvelonProgram::TarvelonProgram(cTarvelon &controller, QWidget *parent)
    : QDialog(parent), m_controller(controller)
{
    setObjectName(QStringLiteral("TarvelonProgram"));
    setAttribute(Qt::WA_DeleteOnClose);

    TabHauptmenu = new QTabWidget(this);
    TabHauptmenu->setObjectName(QStringLiteral("TabHauptmenu"));
    TabHauptmenu->addTab(buildRegulationPage(), QString());
    TabHauptmenu->addTab(new QWidget, QString());
    // Nothing to set there yet; a greyed tab says so better than an empty page.
    TabHauptmenu->setTabEnabled(TimePage, false);
    TabHauptmenu->addTab(buildMeasurementPage(), QString());
    TabHauptmenu->addTab(buildSystemPage(), QString());

    Command1 = new QPushButton(this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2 = new QPushButton(this);
    Command2->setObjectName(QStringLiteral("Command2"));
    connect(Command1, &QPushButton::clicked, this, [this] { finish(Outcome::Transfer); });
    connect(Command2, &QPushButton::clicked, this, [this] { finish(Outcome::Back); });
    // Enter in a box must not close the dialog.
    Command1->setAutoDefault(false);
    Command2->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(TabHauptmenu);
    layout->addLayout(buttons);

    m_opened = std::make_unique<Opened>();
    m_opened->program = m_controller.HydoProgramString();
    for (int s = 1; s <= cTarvelon::kSensors; ++s)
        for (int r = 1; r <= cTarvelon::kRegulationsPerSensor; ++r) {
            const cHydoRegelung &g = m_controller.Regelung(s, r);
            m_opened->regulations[size_t(s)][size_t(r)] = {
                g.SW_UntereWarnung(), g.SW_ObereWarnung(), g.beschreibung(), g.alarmQuality()};
        }
    m_controller.ProgrammingStatusChange = [this] { mvarTarvelon_ProgrammingStatusChange(); };
    Command1->setEnabled(m_controller.programming_is_dirty());
    display();
}

TarvelonProgram::~TarvelonProgram()
{
    if (!m_finished)
        m_controller.ProgrammingStatusChange = nullptr;
}

QWidget *TarvelonProgram::buildRegulationPage()
{
    auto *page = new QWidget;
    TabStrip1 = new QTabBar(page);
    TabStrip1->setObjectName(QStringLiteral("TabStrip1"));
    TabStrip1->setExpanding(false);
    for (const int code : kRegulationKinds)
        TabStrip1->setTabData(TabStrip1->addTab(QString()), code);
    SensorCtl = new HydoSensorCtl(page);
    SensorCtl->setObjectName(QStringLiteral("SensorCtl"));
    // The panels are about to show another regulation: what was typed goes to the one shown.
    connect(SensorCtl, &HydoSensorCtl::SensorChanged, this, [this] {
        switch (settle()) {
        case Settled::Stored:
            initRegulations();
            break;
        case Settled::Correct:
            SensorCtl->select(m_sensorShown);
            break;
        case Settled::Discarded:
            break;
        }
    });
    connect(TabStrip1, &QTabBar::currentChanged, this, [this](int index) {
        if (index < 0 || index == m_kindShown)
            return;
        switch (settle()) {
        case Settled::Stored:
            m_kindShown = index;
            SensorCtl->init(m_controller, TabStrip1->tabData(index).toInt());
            initRegulations();
            break;
        case Settled::Correct: {
            const QSignalBlocker block(TabStrip1);
            TabStrip1->setCurrentIndex(m_kindShown);
            break;
        }
        case Settled::Discarded:
            break;
        }
    });

    auto *panels = new QHBoxLayout;
    panels->addWidget(SensorCtl, 0, Qt::AlignTop);
    for (int k = 1; k <= cTarvelon::kRegulationsPerSensor; ++k) {
        auto *ctl = new HydoWerteRegelungCtl(page);
        ctl->setObjectName(QStringLiteral("WerteRegelungCtl%1").arg(k));
        // A socket moved to another regulation shows in every panel.
        connect(ctl, &HydoWerteRegelungCtl::socketChanged, this, &TarvelonProgram::display);
        ctl->setBeforeSocketDialog([this] { return settle() != Settled::Correct; });
        m_regulationCtls[size_t(k - 1)] = ctl;
        panels->addWidget(ctl, 1);
    }
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(TabStrip1);
    layout->addLayout(panels, 1);
    return page;
}

QRadioButton *TarvelonProgram::addOption(OptionGroup &group, QWidget *parent, const char *name,
                                         const char *caption, int code)
{
    auto *option = new QRadioButton(ms(QString::fromUtf8(caption)), parent);
    option->setObjectName(QLatin1String(name));
    group.buttons->addButton(option, code);
    parent->layout()->addWidget(option);
    return option;
}

QWidget *TarvelonProgram::buildMeasurementPage()
{
    auto *page = new QWidget;
    auto *layout = new QHBoxLayout(page);
    layout->addWidget(buildDisplayOptions(page), 3);
    layout->addWidget(buildCompression(page), 2);
    return page;
}

QWidget *TarvelonProgram::buildDisplayOptions(QWidget *page)
{
    using form::Kind;
    auto *display = new QGroupBox(ms("Anzeige"), page);
    auto *grid = new QGridLayout(display);
    grid->setRowStretch(2, 1); // the option groups as tall as their options
    const QList<QWidget *> boxes = form::build(
        display, grid,
        {
            {Kind::GroupBox, "frame_Anzeige_Temperatur", msKey("Temperatur"), 0, 0},
            {Kind::GroupBox, "frame_Anzeige_Leitwert", msKey("Leitwert"), 0, 1},
            {Kind::GroupBox, "frame_Anzeige_Redox", msKey("Redox"), 0, 2},
            {Kind::GroupBox, "frame_Anzeige_Sauerstoff", msKey("Sauerstoff"), 1, 0},
            {Kind::GroupBox, "frame_Anzeige_InternesDisplay", msKey("Internes Display"), 1, 1},
            {Kind::GroupBox, "frame_Anzeige_ExternesDisplay", msKey("Externes Display"), 1, 2},
        });
    // Per group box: the controller field its options store, and the options, whose row is
    // the code they store.
    const std::pair<const char *, QList<form::Cell>> groups[] = {
        {"aq_anzTemperatur",
         {{Kind::RadioButton, "Opt_Anzeige_Temperatur_Celsius", msKey("Celsius"), 0, 0},
          {Kind::RadioButton, "Opt_Anzeige_Temperatur_Fahrenheit", msKey("Fahrenheit"), 1, 0}}},
        {"aq_AnzLeitwert",
         {{Kind::RadioButton, "Opt_Anzeige_Leitwert_Siemens", msKey("Siemens"), 0, 0},
          {Kind::RadioButton, "Opt_Anzeige_Leitwert_Salinitaet", msKey("Salinität"), 1, 0},
          {Kind::RadioButton, "Opt_Anzeige_Leitwert_Dichte", msKey("Dichte"), 2, 0}}},
        {"aq_AnzRedox",
         {{Kind::RadioButton, "Opt_Anzeige_Redox_mVolt", msKey("mV"), 0, 0},
          {Kind::RadioButton, "Opt_Anzeige_Redox_RHWert", msKey("rH-Wert"), 1, 0}}},
        {"aq_AnzSauerStoff",
         {{Kind::RadioButton, "Opt_Anzeige_Sauerstoff_saettigung", msKey("Sättigung"), 0, 0},
          {Kind::RadioButton, "Opt_Anzeige_Sauerstoff_mgliter", msKey("mg/l"), 1, 0}}},
        {"aq_AnzeigeIntervallInt",
         {{Kind::RadioButton, "Opt_Anzeige_InternesDisplay_1Sekunde", msKey("1 Sekunde"), 0, 0},
          {Kind::RadioButton, "Opt_Anzeige_InternesDisplay_2Sekunden", msKey("2 Sekunden"), 1, 0},
          {Kind::RadioButton, "Opt_Anzeige_InternesDisplay_3Sekunden", msKey("3 Sekunden"), 2, 0},
          {Kind::RadioButton, "Opt_Anzeige_InternesDisplay_4Sekunden", msKey("4 Sekunden"), 3, 0}}},
        {"aq_AnzeigeIntervallExt",
         {{Kind::RadioButton, "Opt_Anzeige_ExternesDisplay_1Sekunde", msKey("1 Sekunde"), 0, 0},
          {Kind::RadioButton, "Opt_Anzeige_ExternesDisplay_2Sekunden", msKey("2 Sekunden"), 1, 0},
          {Kind::RadioButton, "Opt_Anzeige_ExternesDisplay_3Sekunden", msKey("3 Sekunden"), 2, 0},
          {Kind::RadioButton, "Opt_Anzeige_ExternesDisplay_4Sekunden", msKey("4 Sekunden"), 3, 0}}},
    };
    for (size_t g = 0; g < std::size(groups); ++g) {
        QWidget *box = boxes[qsizetype(g)];
        OptionGroup group{groups[g].first, new QButtonGroup(box)};
        const QList<QWidget *> options = form::build(box, new QGridLayout(box), groups[g].second);
        for (qsizetype code = 0; code < options.size(); ++code)
            group.buttons->addButton(static_cast<QRadioButton *>(options[code]), int(code));
        const QString field = QLatin1String(group.field);
        connect(group.buttons, &QButtonGroup::idClicked, this, [this, field](int code) {
            setControllerField(m_controller, field, QString::number(code));
        });
        m_optionGroups.push_back(group);
    }
    return display;
}

QWidget *TarvelonProgram::buildCompression(QWidget *page)
{
    using form::Kind;
    auto *frame_d = new QGroupBox(ms("Kompression der Speicherung"), page);
    frame_d->setObjectName(QStringLiteral("frame_d"));
    auto *grid = new QGridLayout(frame_d);
    form::build(frame_d, grid,
                {{Kind::Label, "label_k_horizontal", msKey("Horizontal"), 0, 1},
                 {Kind::Label, "label_k_linear", msKey("Linear"), 0, 2}});
    m_compression = {
        {"ph", 1, "label_k_ph"},
        {"temp", 2, "label_k_temp"},
        {"rx", 3, "label_k_rx"},
        {"lwm", 4, "Label_k_lwm"},
        {"lws", 5, "Label_k_lws"},
        {"o2", 6, "Label_k_o2"},
        {"press", 8, "label_k_press"},
        {"o2kon", 9, "Label_k_o2kon"},
        {"rxrh", 10, "label_k_rh"},
        {"lwsa", 11, "Label_k_lwsa"},
        {"lwdensity", 12, "Label_k_lwdensity"},
        {"tempf", 13, "label_k_tempf"},
    };
    int row = 1;
    for (Compression &c : m_compression) {
        const QByteArray horizontal = "edit_hd_" + QByteArray(c.kind);
        const QByteArray linear = "edit_ld_" + QByteArray(c.kind);
        // The caption names the kind in the controller's units; display() sets it.
        const QList<QWidget *> made =
            form::build(frame_d, grid,
                        {{Kind::Label, c.labelName, nullptr, row, 0},
                         {Kind::MaskedEdit, horizontal.constData(), nullptr, row, 1},
                         {Kind::MaskedEdit, linear.constData(), nullptr, row, 2}});
        c.label = made[0];
        c.horizontal = static_cast<MaskedEdit *>(made[1]);
        c.linear = static_cast<MaskedEdit *>(made[2]);
        for (MaskedEdit *box : {c.horizontal, c.linear}) {
            const QString field =
                box == c.horizontal ? horizontalField(c.kind) : linearField(c.kind);
            connect(box, &MaskedEdit::validating, this,
                    [this, box, field](bool *keep) { storeCompression(box, field, keep); });
        }
        ++row;
    }
    grid->setColumnStretch(3, 1);
    grid->setRowStretch(row, 1);
    return frame_d;
}

QWidget *TarvelonProgram::buildSystemPage()
{
    auto *page = new QWidget;
    auto onOff = [&](const char *caption, const char *on, const char *off) {
        auto *box = new QGroupBox(ms(QString::fromUtf8(caption)), page);
        auto *layout = new QVBoxLayout(box);
        auto *buttons = new QButtonGroup(box);
        for (const char *name : {on, off}) {
            auto *option =
                new QRadioButton(QString(name) == QLatin1String(on) ? ms("AN") : ms("AUS"), box);
            option->setObjectName(QLatin1String(name));
            // The controller's alarm switches are shown here, not changed.
            option->setEnabled(false);
            buttons->addButton(option, QString(name) == QLatin1String(on) ? 1 : 0);
            layout->addWidget(option);
        }
        return std::make_pair(box, buttons);
    };
    auto [acoustic, acousticButtons] =
        onOff("Akustischer Alarm", "OPT_AkustischerAlarm_AN", "OPT_AkustischerAlarm_AUS");
    m_acousticAlarm = acousticButtons;
    auto [external, externalButtons] =
        onOff("Externer Alarm", "OPT_ExternerAlarm_AN", "OPT_ExternerAlarm_AUS");
    m_externalAlarm = externalButtons;
    auto *externalLayout = static_cast<QVBoxLayout *>(external->layout());
    auto *socketRow = new QHBoxLayout;
    auto *socket = new QLineEdit(external);
    socket->setObjectName(QStringLiteral("edit_externerAlarm_Dose"));
    auto *socketButton = new QPushButton(QStringLiteral("..."), external);
    socketButton->setObjectName(QStringLiteral("Cmd_ExternerAlarm_Dose"));
    socketRow->addWidget(new QLabel(ms("Dose"), external));
    socketRow->addWidget(socket);
    socketRow->addWidget(socketButton);
    externalLayout->addLayout(socketRow);
    auto *values = new QGridLayout;
    const char *valueBoxes[][2] = {{"edit_externerAlarm_wertan", "Wert an [%]"},
                                   {"edit_externerAlarm_wertaus", "Wert aus [%]"}};
    for (int i = 0; i < 2; ++i) {
        auto *box = new MaskedEdit(external);
        box->setObjectName(QLatin1String(valueBoxes[i][0]));
        box->setMaskAndFormat(QStringLiteral("###"), QStringLiteral("000"), kSocketValueTwips);
        box->setEnabled(false);
        values->addWidget(new QLabel(ms(QString::fromUtf8(valueBoxes[i][1])), external), i, 0);
        values->addWidget(box, i, 1);
    }
    externalLayout->addLayout(values);
    socket->setEnabled(false);
    socketButton->setEnabled(false);

    auto *level = new QGroupBox(ms("Programmierstufe"), page);
    new QVBoxLayout(level);
    OptionGroup group{"aq_ProgStufe", new QButtonGroup(level)};
    addOption(group, level, "OPT_Programmierstufe_Normal", "Normal", 0);
    addOption(group, level, "Opt_Programmierstufe_Profi", "Profi", 1);
    connect(group.buttons, &QButtonGroup::idClicked, this, [this, group](int) {
        // Both options store what the Normal option says.
        const bool normal = group.buttons->button(0)->isChecked();
        m_controller.set_aq_ProgStufe(normal ? 0 : 1);
    });
    m_optionGroups.push_back(group);

    auto *layout = new QGridLayout(page);
    layout->addWidget(acoustic, 0, 0);
    layout->addWidget(external, 0, 1, 2, 1);
    layout->addWidget(level, 1, 0);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(2, 1);
    return page;
}

void TarvelonProgram::display()
{
    // The caption is the same in every language.
    setWindowTitle(QStringLiteral("Tarvelon Programmierung"));
    Command1->setText(ms("Tarvelon Programmierung übertragen"));
    Command2->setText(ms("Zurück zum Hauptmenü"));
    TabHauptmenu->setTabText(SystemPage, ms("System"));

    for (const OptionGroup &g : m_optionGroups) {
        const int value =
            controllerFieldText(m_controller, QLatin1String(g.field)).value_or(QString()).toInt();
        // A value outside the listed codes selects none.
        g.buttons->setExclusive(false);
        for (QAbstractButton *b : g.buttons->buttons())
            b->setChecked(g.buttons->id(b) == value);
        g.buttons->setExclusive(true);
    }
    m_acousticAlarm->button(m_controller.aq_AkustAlarm() == 0 ? 0 : 1)->setChecked(true);
    m_externalAlarm->button(m_controller.aq_ExternerAlarm() == 0 ? 0 : 1)->setChecked(true);

    TabHauptmenu->setTabText(MeasurementPage, ms("Messwerteinstellungen"));
    for (Compression &c : m_compression) {
        static_cast<QLabel *>(c.label)->setText(ms(tables::sensorTypeName(c.code)) +
                                                QLatin1Char(' ') +
                                                m_controller.formatierte_MesswertEinheit(c.code));
        for (MaskedEdit *box : {c.horizontal, c.linear}) {
            const QString field =
                box == c.horizontal ? horizontalField(c.kind) : linearField(c.kind);
            box->setMaskAndFormat(tables::valueMask(c.code), tables::valueFormat(c.code),
                                  tables::valueWidth(c.code));
            box->showNumber(
                controllerFieldText(m_controller, field).value_or(QString()).toDouble());
        }
    }
    TabHauptmenu->setTabText(TimePage, ms("Zeitfunktionen"));
    TabHauptmenu->setTabText(RegulationPage, ms("Regelung"));

    // The kind and sensor chosen stay chosen when the dialog is shown anew.
    for (int i = 0; i < TabStrip1->count(); ++i)
        TabStrip1->setTabText(i, ms(tables::sensorTypeName(TabStrip1->tabData(i).toInt())));
    m_kindShown = TabStrip1->currentIndex();
    const int kind = TabStrip1->tabData(m_kindShown).toInt();
    const int sensor = SensorCtl->SelectedSensor();
    SensorCtl->init(m_controller, kind);
    if (sensor != 0 &&
        tables::sensorGroup(m_controller.Sensor(sensor).sensortyp()) == tables::sensorGroup(kind))
        SensorCtl->select(sensor);
    initRegulations();
}

void TarvelonProgram::initRegulations()
{
    m_sensorShown = SensorCtl->SelectedSensor();
    for (int k = 1; k <= cTarvelon::kRegulationsPerSensor; ++k)
        m_regulationCtls[size_t(k - 1)]->init(m_controller, SensorCtl->SelectedSensor(), k);
}

void TarvelonProgram::storeCompression(MaskedEdit *box, const QString &field, bool *keepFocus)
{
    const double value = box->number();
    box->showNumber(value);
    if (!setControllerField(m_controller, field, QString::number(value, 'g', 9)).ok()) {
        // A value the controller's field cannot hold (a scaled word above 65535).
        QMessageBox::warning(this, windowTitle(), ms("Der Wert ist für dieses Feld zu groß."));
        box->setModified(true);
        *keepFocus = true;
    }
}

void TarvelonProgram::mvarTarvelon_ProgrammingStatusChange()
{
    Command1->setEnabled(m_controller.programming_is_dirty());
}

QWidget *TarvelonProgram::commitEdits()
{
    QWidget *refused = nullptr;
    for (HydoWerteRegelungCtl *ctl : m_regulationCtls)
        if (MaskedEdit *box = ctl->commit(); box && !refused)
            refused = box;
    for (const Compression &c : m_compression)
        for (MaskedEdit *box : {c.horizontal, c.linear})
            if (!box->commit() && !refused)
                refused = box;
    if (refused) {
        // Show the page of the box that wants correcting.
        for (int page = 0; page < TabHauptmenu->count(); ++page)
            if (TabHauptmenu->widget(page)->isAncestorOf(refused))
                TabHauptmenu->setCurrentIndex(page);
    }
    return refused;
}

TarvelonProgram::Settled TarvelonProgram::settle()
{
    QWidget *refused = commitEdits();
    if (!refused)
        return Settled::Stored;
    auto *box = qobject_cast<MaskedEdit *>(refused);
    if (box && box->objectName() == QLatin1String("text_Alarmzeit"))
        return askAboutAlarmTime(box);
    return Settled::Correct; // a compression box has said why already
}

TarvelonProgram::Settled TarvelonProgram::askAboutAlarmTime(MaskedEdit *box)
{
    QString where;
    for (HydoWerteRegelungCtl *ctl : m_regulationCtls)
        if (ctl->isAncestorOf(box) && ctl->regulation()) {
            const cHydoRegelung &r = *ctl->regulation();
            where = QStringLiteral("%1-%2, %3 %4")
                        .arg(r.sensorNumber())
                        .arg(ms(r.Sensor().formatierter_Typ()), ms("Regelung"))
                        .arg(r.regulationNumber());
            if (!r.beschreibung().isEmpty())
                where += QStringLiteral(" (%1)").arg(r.beschreibung());
        }
    QMessageBox question(QMessageBox::Warning, windowTitle(),
                         ms("Die Alarmzeit ist keine gültige Uhrzeit:") + QLatin1Char(' ') +
                             box->displayText() + QLatin1Char('\n') + where +
                             QStringLiteral("\n\n") +
                             ms("Korrigieren Sie sie, oder verwerfen Sie alle Änderungen dieses "
                                "Fensters."),
                         QMessageBox::Ok | QMessageBox::Discard, this);
    question.button(QMessageBox::Ok)->setText(ms("Korrigieren"));
    question.button(QMessageBox::Discard)->setText(ms("Änderungen verwerfen"));
    question.setDefaultButton(QMessageBox::Ok);
    question.setEscapeButton(QMessageBox::Ok);
    if (question.exec() != QMessageBox::Discard) {
        box->setFocus(Qt::OtherFocusReason);
        box->selectAll();
        return Settled::Correct;
    }
    restoreOpened();
    display();
    return Settled::Discarded;
}

void TarvelonProgram::restoreOpened()
{
    // Only what differs is set, so that only changed regulations are stored again.
    for (int s = 1; s <= cTarvelon::kSensors; ++s)
        for (int r = 1; r <= cTarvelon::kRegulationsPerSensor; ++r) {
            cHydoRegelung &g = m_controller.Regelung(s, r);
            const Opened::Regulation &was = m_opened->regulations[size_t(s)][size_t(r)];
            if (g.SW_UntereWarnung() != was.lowerWarning)
                g.set_SW_UntereWarnung(was.lowerWarning);
            if (g.SW_ObereWarnung() != was.upperWarning)
                g.set_SW_ObereWarnung(was.upperWarning);
            if (g.beschreibung() != was.beschreibung)
                g.set_beschreibung(was.beschreibung);
            if (g.alarmQuality() != was.quality)
                g.set_alarmQuality(was.quality);
        }
    if (m_controller.HydoProgramString() != m_opened->program)
        m_controller.set_HydoProgramString(m_opened->program);
}

void TarvelonProgram::finish(Outcome outcome)
{
    if (m_finished || settle() == Settled::Correct)
        return;
    m_finished = true;
    m_controller.ProgrammingStatusChange = nullptr;
    hide();
    emit closedWith(outcome);
    close();
}

void TarvelonProgram::reject()
{
    finish(Outcome::Back); // Escape, as the close box
}

void TarvelonProgram::closeEvent(QCloseEvent *event)
{
    // finish's own close() is a no-op inside this one: this event ends the dialog.
    if (!m_finished)
        finish(Outcome::Back);
    if (m_finished)
        QDialog::closeEvent(event);
    else
        event->ignore();
}
