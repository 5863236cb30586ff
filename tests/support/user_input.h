#pragma once

// Drives windows the way a person does: find a widget by its name, see that a person could
// reach it (shown, enabled), and click, double-click or type on it with real mouse and key
// events at the place a person would aim at (a button's face, a radio button's circle, a tab,
// a list row, a menu entry). What a test then checks is what those events caused, so a
// window that reacts only to a direct slot call, or crashes inside its own event handler,
// fails here as it would for a user.
//
// Header only: it needs Qt Widgets and QtTest, which the shared test support library does
// not link.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace user
{

// Processes events until `done` holds or `timeoutMs` passes; true when it holds.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs = 5000)
{
    return QTest::qWaitFor(done, timeoutMs);
}

// Fails the test saying why an input could not be made; false, for the caller to return.
inline bool failed(const QString &why)
{
    ADD_FAILURE() << why.toStdString();
    return false;
}

// The child of `in` called `name`; a missing one fails the test and answers nullptr.
template <class W = QWidget> W *find(const QObject *in, const QString &name)
{
    W *w = in ? in->findChild<W *>(name) : nullptr;
    EXPECT_NE(w, nullptr) << "no widget named " << name.toStdString();
    return w;
}

// True when a person could aim at `w`: it is shown, enabled and in a shown window. A
// failing check names the widget, so a test says which control was out of reach.
inline bool reachable(const QWidget *w)
{
    if (!w)
        return failed("no widget to reach");
    const auto name = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                                : w->objectName();
    if (!w->isVisible() || !w->isEnabled())
        return failed(name + (w->isVisible() ? " is disabled" : " is not visible"));
    return true;
}

// A caption as a person reads it: the same text, mnemonic marks ignored.
inline bool sameCaption(QString shown, QString meant)
{
    return shown.remove(QLatin1Char('&')) == meant.remove(QLatin1Char('&'));
}

// Where a person clicks a widget: the circle or box of a radio button or check box, the
// middle of anything else.
inline QPoint aimAt(QWidget *w)
{
    QStyleOptionButton option;
    option.initFrom(w);
    if (qobject_cast<QRadioButton *>(w))
        return w->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, w).center();
    if (qobject_cast<QCheckBox *>(w))
        return w->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, w).center();
    return w->rect().center();
}

// A press and a release at `pos` (the widget's aim point when null).
inline void clickAt(QWidget *w, QPoint pos = {}, Qt::MouseButton button = Qt::LeftButton,
                    Qt::KeyboardModifiers modifiers = {})
{
    QTest::mouseClick(w, button, modifiers, pos.isNull() ? aimAt(w) : pos);
}

// A double click as the mouse delivers it: press, release, double-click, release.
inline void doubleClickAt(QWidget *w, QPoint pos = {})
{
    if (pos.isNull())
        pos = aimAt(w);
    QTest::mousePress(w, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(w, Qt::LeftButton, {}, pos);
    QTest::mouseDClick(w, Qt::LeftButton, {}, pos);
    QTest::mouseRelease(w, Qt::LeftButton, {}, pos);
}

// Clicks `w` when a person could; false (and a failure) when it is out of reach.
inline bool click(QWidget *w)
{
    if (!reachable(w))
        return false;
    clickAt(w);
    return true;
}

// Clicks the widget called `name` below `in`.
inline bool click(const QObject *in, const QString &name)
{
    return click(find<QWidget>(in, name));
}

// The button below `in` that shows `text` (mnemonic marks ignored); nullptr when none does.
inline QAbstractButton *buttonShowing(const QObject *in, const QString &text)
{
    for (QAbstractButton *b : in->findChildren<QAbstractButton *>())
        if (sameCaption(b->text(), text))
            return b;
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
}

// Clicks into a text box (focus and cursor there) and types `text` key by key.
inline bool type(QWidget *w, const QString &text)
{
    if (!reachable(w))
        return false;
    clickAt(w);
    QTest::keyClicks(w, text);
    return true;
}

// Selects the whole text of a line edit with the keyboard and types `text` over it.
inline bool retype(QLineEdit *edit, const QString &text)
{
    if (!reachable(edit))
        return false;
    clickAt(edit);
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, text);
    return true;
}

// One key with modifiers on the widget that has the focus in `w`'s window (or on `w`).
inline void press(QWidget *w, Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    QWidget *target = w->window()->focusWidget() ? w->window()->focusWidget() : w;
    QTest::keyClick(target, key, modifiers);
}

// Makes `window` the active window, as a click on its title would; shortcuts need it.
inline bool activate(QWidget *window)
{
    window->activateWindow();
    window->raise();
    if (!QTest::qWaitForWindowActive(window))
        return false;
    // The offscreen platform does not hand activation back when a popup or box it thinks
    // was on top closes; take it back as a click on the window would.
    if (QApplication::activeWindow() != window)
        QApplication::setActiveWindow(window);
    return QApplication::activeWindow() == window;
}

// A key sequence such as Ctrl+P pressed in `window`, reaching its menu shortcuts.
inline bool shortcut(QWidget *window, const QKeySequence &sequence)
{
    if (!activate(window))
        return failed("window " + window->objectName() + " is not active");
    const QKeyCombination combination = sequence[0];
    press(window, combination.key(), combination.keyboardModifiers());
    return true;
}

// Clicks the tab titled `text` on a tab bar.
inline bool clickTab(QTabBar *bar, const QString &text)
{
    if (!reachable(bar))
        return false;
    for (int i = 0; i < bar->count(); ++i)
        if (sameCaption(bar->tabText(i), text)) {
            clickAt(bar, bar->tabRect(i).center());
            return true;
        }
    return failed("no tab " + text);
}

inline bool clickTab(QTabWidget *tabs, const QString &text)
{
    return clickTab(tabs ? tabs->tabBar() : nullptr, text);
}

// Clicks (or double-clicks) a row or cell of a list, tree or table where it is drawn.
inline bool clickIndex(QAbstractItemView *view, const QModelIndex &index, bool twice = false)
{
    if (!reachable(view) || !index.isValid())
        return false;
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    if (twice)
        doubleClickAt(view->viewport(), at);
    else
        clickAt(view->viewport(), at);
    return true;
}

// The open popup menu, when there is one.
inline QMenu *openMenu()
{
    return qobject_cast<QMenu *>(QApplication::activePopupWidget());
}

// Clicks the entry titled `text` (mnemonic marks ignored) in an open menu.
inline bool chooseInMenu(QMenu *menu, const QString &text)
{
    if (!menu)
        return failed("no menu is open");
    for (QAction *a : menu->actions())
        if (sameCaption(a->text(), text)) {
            if (!a->isEnabled())
                return failed("menu entry " + text + " is disabled");
            clickAt(menu, menu->actionGeometry(a).center());
            return true;
        }
    return failed("no menu entry " + text);
}

// Opens the menu titled `menu` on a menu bar with the mouse and clicks its entry `entry`.
// An entry that opens a modal dialog returns only once the dialog is closed (see whenShown).
inline bool chooseFromMenuBar(QMenuBar *bar, const QString &menu, const QString &entry)
{
    if (!reachable(bar))
        return false;
    for (QAction *a : bar->actions()) {
        if (!a->menu() || !sameCaption(a->text(), menu))
            continue;
        if (!a->isEnabled())
            return failed("menu " + menu + " is disabled");
        clickAt(bar, bar->actionGeometry(a).center());
        if (!waitFor([a] { return a->menu()->isVisible(); }, 2000))
            return failed("menu " + menu + " did not open");
        return chooseInMenu(a->menu(), entry);
    }
    return failed("no menu " + menu);
}

// The right mouse button at `pos` of `w`: press, release and the context menu request
// the platform makes of them.
inline void rightClickAt(QWidget *w, QPoint pos)
{
    QTest::mousePress(w, Qt::RightButton, {}, pos);
    QTest::mouseRelease(w, Qt::RightButton, {}, pos);
    QContextMenuEvent event(QContextMenuEvent::Mouse, pos, w->mapToGlobal(pos));
    QApplication::sendEvent(w, &event);
}

// Chooses `text` in a combo box by opening its list with the mouse and clicking the row.
inline bool choose(QComboBox *combo, const QString &text)
{
    if (!reachable(combo))
        return false;
    const int row = combo->findText(text);
    if (row < 0)
        return failed("no entry " + text + " in " + combo->objectName());
    clickAt(combo);
    QAbstractItemView *view = combo->view();
    if (!waitFor([view] { return view->isVisible(); }, 2000))
        return failed("the list of " + combo->objectName() + " did not open");
    // The open list ignores a release sooner than a double click after it opened (the click
    // that opened it); a person's hand is slower than that too.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    const QModelIndex index = view->model()->index(row, combo->modelColumn());
    view->scrollTo(index);
    QTest::mouseMove(view->viewport(), view->visualRect(index).center());
    if (!clickIndex(view, index))
        return false;
    // Back in the window with the list closed, as a desktop leaves it.
    if (!waitFor([view] { return !view->isVisible(); }, 2000))
        return failed("the list of " + combo->objectName() + " stayed open");
    if (QApplication::activeWindow() != combo->window())
        QApplication::setActiveWindow(combo->window());
    return true;
}

// Runs `answer` once on the next shown modal dialog (or popup) of type D, from the event
// loop, so that a test can click through a dialog opened by a click of its own. A test
// that expects the dialog checks afterwards that `answer` ran.
template <class D> void whenShown(std::function<void(D *)> answer, int timeoutMs = 30000)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, answer, deadline = QDeadlineTimer(timeoutMs)] {
        QWidget *shown = QApplication::activePopupWidget();
        if (!qobject_cast<D *>(shown))
            shown = QApplication::activeModalWidget();
        auto *d = qobject_cast<D *>(shown);
        const bool found = d && d->isVisible();
        if (!found && !deadline.hasExpired())
            return;
        poll->stop();
        poll->deleteLater();
        if (found)
            answer(d);
    });
    poll->start();
}

// The close button of a window's frame: the close request the platform sends the window.
inline void closeBox(QWidget *window)
{
    QCloseEvent event;
    QApplication::sendEvent(window->windowHandle(), &event);
}

} // namespace user
