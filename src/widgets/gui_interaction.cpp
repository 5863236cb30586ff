#include "widgets/gui_interaction.h"

#include <QSemaphore>
#include <QThread>

#include <memory>

namespace
{

Interaction::Answer cautiousAnswer(Interaction::Buttons buttons)
{
    switch (buttons) {
    case Interaction::Buttons::Ok:
        return Interaction::Answer::Ok;
    case Interaction::Buttons::OkCancel:
        return Interaction::Answer::Cancel;
    case Interaction::Buttons::YesNo:
        break;
    }
    return Interaction::Answer::No;
}

// How often a waiting worker looks whether the program is closing.
constexpr int kShutDownCheckMs = 100;

} // namespace

GuiInteraction::GuiInteraction(QWidget *window, QObject *parent) : QObject(parent), m_window(window)
{
}

QString GuiInteraction::boxText(const QString &text)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t;
}

QMessageBox::Icon GuiInteraction::boxIcon(Icon icon)
{
    switch (icon) {
    case Icon::None:
        return QMessageBox::NoIcon;
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Warning:
    case Icon::Exclamation:
        return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

Interaction::Answer GuiInteraction::ask(Question, const QString &text, const QString &title,
                                        Buttons buttons, Icon icon)
{
    return box(text, title, buttons, icon);
}

void GuiInteraction::tell(const QString &text, const QString &title, Icon icon)
{
    box(text, title, Buttons::Ok, icon);
}

Interaction::Answer GuiInteraction::box(const QString &text, const QString &title, Buttons buttons,
                                        Icon icon)
{
    if (QThread::currentThread() == thread())
        return show(text, title, buttons, icon);
    return fromWorker(text, title, buttons, icon);
}

void GuiInteraction::shutDown()
{
    m_shutDown = true;
}

Interaction::Answer GuiInteraction::show(const QString &text, const QString &title, Buttons buttons,
                                         Icon icon)
{
    QMessageBox box(boxIcon(icon), title, boxText(text), QMessageBox::NoButton, m_window);
    QMessageBox::StandardButton first = QMessageBox::Ok;
    QMessageBox::StandardButton escape = QMessageBox::Ok;
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        escape = QMessageBox::Cancel;
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        first = QMessageBox::Yes;
        escape = QMessageBox::No;
        break;
    }
    box.setDefaultButton(first);
    box.setEscapeButton(escape);
    switch (box.exec()) {
    case QMessageBox::Ok:
        return Answer::Ok;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    default:
        return cautiousAnswer(buttons);
    }
}

Interaction::Answer GuiInteraction::fromWorker(const QString &text, const QString &title,
                                               Buttons buttons, Icon icon)
{
    // A semaphore rather than a blocking queued call: the worker can then give up when the
    // program closes instead of waiting for a UI thread that waits for it.
    struct Pending {
        QSemaphore answered;
        Answer answer;
    };
    auto pending = std::make_shared<Pending>();
    pending->answer = cautiousAnswer(buttons);
    if (m_shutDown)
        return pending->answer;
    QMetaObject::invokeMethod(
        this,
        [this, pending, text, title, buttons, icon] {
            if (!m_shutDown)
                pending->answer = show(text, title, buttons, icon);
            pending->answered.release();
        },
        Qt::QueuedConnection);
    while (!pending->answered.tryAcquire(1, kShutDownCheckMs)) {
        if (m_shutDown)
            return cautiousAnswer(buttons);
    }
    return pending->answer;
}

GuiProgress::GuiProgress(QObject *context, Display display)
    : m_context(context), m_display(std::move(display))
{
}

void GuiProgress::DisplayProgress(const QString &text, qint64 current, qint64 maximum)
{
    if (QThread::currentThread() == m_context->thread()) {
        m_display(text, current, maximum);
        return;
    }
    QMetaObject::invokeMethod(
        m_context,
        [display = m_display, text, current, maximum] { display(text, current, maximum); },
        Qt::QueuedConnection);
}
