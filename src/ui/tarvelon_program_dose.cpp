#include "ui/tarvelon_program_dose.h"

#include "model/ctarvelon.h"
#include "store/strings.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{
constexpr int kNumberColumnTwips = 1000;
constexpr int kUseColumnTwips = 1800;
constexpr int kKindColumnTwips = 1800;

int twips(int t)
{
    return qRound(t / 15.0);
}
} // namespace

TarvelonProgramDose::TarvelonProgramDose(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TarvelonProgramDose"));
    setModal(true);
    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setRootIsDecorated(false);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setAllColumnsShowFocus(true);
    Command1 = new QPushButton(this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setDefault(true);
    connect(Command1, &QPushButton::clicked, this, &TarvelonProgramDose::ok);
    connect(ListView1, &QTreeWidget::itemDoubleClicked, this, &TarvelonProgramDose::ok);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ListView1);
    layout->addLayout(buttons);
}

void TarvelonProgramDose::init(cTarvelon &controller, cHydoRegelung &regulation)
{
    m_controller = &controller;
    m_regulation = &regulation;
    m_changed = false;
    setWindowTitle(ms("Dose"));
    Command1->setText(ms("OK"));
    ListView1->clear();
    ListView1->setHeaderLabels({ms("Dosen Nummer"), ms("Verwendet für Regelung"), ms("Dosen Art")});
    ListView1->setColumnWidth(0, twips(kNumberColumnTwips));
    ListView1->setColumnWidth(1, twips(kUseColumnTwips));
    ListView1->setColumnWidth(2, twips(kKindColumnTwips));
    for (int d = 1; d <= cTarvelon::kSockets; ++d) {
        cHydoAktor &socket = controller.Aktor(d);
        if (socket.DosenType() == 0)
            continue; // no socket fitted here
        auto *row =
            new QTreeWidgetItem(ListView1, {QString::number(d), ms(socket.Formated_ConnectedTo()),
                                            ms(socket.formatierter_Typ())});
        if (d == regulation.DosenNr())
            ListView1->setCurrentItem(row);
    }
    for (int c = 0; c < ListView1->columnCount(); ++c)
        ListView1->resizeColumnToContents(c);
    for (int c = 0; c < ListView1->columnCount(); ++c)
        ListView1->setColumnWidth(c,
                                  std::max(ListView1->columnWidth(c) + 12,
                                           twips(c == 0 ? kNumberColumnTwips : kUseColumnTwips)));
    resize(ListView1->header()->length() + 40, 320);
}

void TarvelonProgramDose::ok()
{
    const QList<QTreeWidgetItem *> selected = ListView1->selectedItems();
    if (m_regulation && !selected.isEmpty()) {
        const int chosen = selected.first()->text(0).toInt();
        if (cHydoAktor *old = m_regulation->Aktor())
            old->set_ConnectedTo(0); // the old socket is free again
        m_regulation->set_DosenNr(chosen);
        m_controller->Aktor(chosen).set_ConnectedTo(m_regulation->sensortyp());
        m_changed = true;
    }
    accept();
}
