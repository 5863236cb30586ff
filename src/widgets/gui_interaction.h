#pragma once

#include "link/progress.h"
#include "model/interaction.h"

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <atomic>
#include <functional>

// Shows the questions and messages of controller operations as message boxes on the UI
// thread. Asked on the link worker, it hands the box to the UI thread and waits for the
// answer; asked on the UI thread, it shows the box at once.
class GuiInteraction : public QObject, public Interaction
{
    Q_OBJECT
public:
    // Boxes are owned by `window` while it exists. Lives on the UI thread.
    explicit GuiInteraction(QWidget *window, QObject *parent = nullptr);

    // Every question shows the same kind of box; which one it is does not matter here.
    Answer ask(Question question, const QString &text, const QString &title, Buttons buttons,
               Icon icon = Icon::Question) override;
    void tell(const QString &text, const QString &title, Icon icon) override;

    // From now on a question from the worker is not shown any more and gets the cautious
    // answer (Cancel or No), so that an operation still running can end while the program
    // closes.
    void shutDown();

    // The program's texts use a carriage return as line break.
    static QString boxText(const QString &text);
    static QMessageBox::Icon boxIcon(Icon icon);

private:
    // Shows the box on the UI thread, from whichever thread asks.
    Answer box(const QString &text, const QString &title, Buttons buttons, Icon icon);
    Answer show(const QString &text, const QString &title, Buttons buttons, Icon icon);
    Answer fromWorker(const QString &text, const QString &title, Buttons buttons, Icon icon);

    QPointer<QWidget> m_window;
    std::atomic<bool> m_shutDown{false};
};

// Passes progress reports to the main window's display without waiting: reports made on
// the worker are queued to the UI thread, in order.
class GuiProgress : public Progress
{
public:
    using Display = std::function<void(const QString &, qint64, qint64)>;
    // `context` is the UI-thread object that owns the display; it must outlive every
    // operation that reports here. Reports still queued when it goes are dropped.
    GuiProgress(QObject *context, Display display);
    void DisplayProgress(const QString &text, qint64 current, qint64 maximum) override;

private:
    QObject *m_context;
    Display m_display;
};
