#include "widgets/form_table.h"

#include "store/strings.h"
#include "widgets/masked_edit.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QToolButton>

namespace form
{

namespace
{

QWidget *make(Kind kind, QWidget *parent, const QString &caption)
{
    switch (kind) {
    case Kind::Label:
        return new QLabel(caption, parent);
    case Kind::LineEdit:
        return new QLineEdit(parent);
    case Kind::MaskedEdit:
        return new MaskedEdit(parent);
    case Kind::ComboBox:
        return new QComboBox(parent);
    case Kind::PushButton:
        return new QPushButton(caption, parent);
    case Kind::ToolButton: {
        auto *button = new QToolButton(parent);
        button->setText(caption);
        return button;
    }
    case Kind::RadioButton:
        return new QRadioButton(caption, parent);
    case Kind::SpinBox:
        return new QSpinBox(parent);
    case Kind::DoubleSpinBox:
        return new QDoubleSpinBox(parent);
    case Kind::GroupBox:
        return new QGroupBox(caption, parent);
    case Kind::PlainTextEdit:
        return new QPlainTextEdit(parent);
    case Kind::TableWidget:
        return new QTableWidget(parent);
    case Kind::ProgressBar:
        return new QProgressBar(parent);
    }
    return new QWidget(parent);
}

} // namespace

QList<QWidget *> build(QWidget *parent, QGridLayout *grid, const QList<Cell> &cells)
{
    QList<QWidget *> made;
    made.reserve(cells.size());
    for (const Cell &cell : cells) {
        QWidget *w = make(cell.kind, parent, cell.caption ? ms(cell.caption) : QString());
        w->setObjectName(QLatin1String(cell.name));
        grid->addWidget(w, cell.row, cell.column, cell.rowSpan, cell.columnSpan, cell.alignment);
        made.append(w);
    }
    return made;
}

} // namespace form
