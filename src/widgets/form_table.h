#pragma once

#include <QGridLayout>
#include <QList>
#include <QObject>
#include <QWidget>

// Forms laid out from a table: each entry names a control, its caption and its place in a
// grid, so a window's layout reads as data instead of a long constructor.
namespace form
{

enum class Kind {
    Label,
    LineEdit,
    MaskedEdit,
    ComboBox,
    PushButton,
    ToolButton,
    RadioButton,
    SpinBox,
    DoubleSpinBox,
    GroupBox,
    PlainTextEdit,
    TableWidget,
    ProgressBar,
};

struct Cell {
    Kind kind;
    const char *name;    // object name: the program and its tests find the control by it
    const char *caption; // German key (written with msKey) shown through ms(), or nullptr
    int row;
    int column;
    int rowSpan = 1;
    int columnSpan = 1;
    Qt::Alignment alignment = {};
};

// Creates each cell's control as a child of `parent` and places it in `grid`. Controls are
// made in table order, which is therefore their tab order; answers them in that order.
QList<QWidget *> build(QWidget *parent, QGridLayout *grid, const QList<Cell> &cells);

// The control a table named `name` below `parent`. A name no table made is a fault of the
// program, not of its user.
template <class W> W *control(const QObject *parent, const char *name)
{
    W *w = parent->findChild<W *>(QLatin1String(name));
    Q_ASSERT_X(w, "form::control", name);
    return w;
}

} // namespace form
