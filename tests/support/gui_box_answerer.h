#pragma once

// Answers the program's message boxes as a user would: it watches for a visible box,
// records what it says, saves a picture of it when asked to, and clicks the next scripted
// button. Boxes beyond the script are closed with their escape button and counted as
// unexpected, so a test never hangs on a question nobody answers.
//
// Header only: it needs Qt Widgets, which the shared test support library does not link.

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <functional>

class BoxAnswerer : public QObject
{
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        QMessageBox::StandardButton clicked = QMessageBox::NoButton;
        bool scripted = true;
    };

    // `picture(box, n)` is called with each box before it is answered (n counts from 1).
    explicit BoxAnswerer(std::function<void(QMessageBox *, int)> picture = {})
        : m_picture(std::move(picture))
    {
        m_timer.setInterval(kLookEveryMs);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { look(); });
        m_timer.start();
    }

    // The answers to the next boxes, in order.
    void script(std::initializer_list<QMessageBox::StandardButton> answers)
    {
        m_script.append(QList<QMessageBox::StandardButton>(answers));
    }
    // Answers that were scripted but not used yet.
    int unusedAnswers() const { return int(m_script.size()); }

    const QList<Box> &boxes() const { return m_boxes; }
    int unexpected() const
    {
        return int(std::count_if(m_boxes.begin(), m_boxes.end(),
                                 [](const Box &b) { return !b.scripted; }));
    }
    // The boxes whose text contains `part`.
    QList<Box> withText(const QString &part) const
    {
        QList<Box> found;
        for (const Box &b : m_boxes)
            if (b.text.contains(part))
                found.append(b);
        return found;
    }

private:
    static constexpr int kLookEveryMs = 20;

    void look()
    {
        const auto windows = QApplication::topLevelWidgets();
        for (QWidget *w : windows) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box || !box->isVisible() || m_answered.contains(box))
                continue;
            m_answered.append(box);
            Box seen;
            seen.title = box->windowTitle();
            seen.text = box->text();
            seen.icon = box->icon();
            seen.buttons = box->standardButtons();
            if (box->defaultButton())
                seen.defaultButton = box->standardButton(box->defaultButton());
            if (m_picture)
                m_picture(box, int(m_boxes.size()) + 1);
            QAbstractButton *button = nullptr;
            if (!m_script.isEmpty()) {
                seen.clicked = m_script.takeFirst();
                button = box->button(seen.clicked);
            } else {
                seen.scripted = false;
                button = box->escapeButton();
                if (button)
                    seen.clicked = box->standardButton(button);
            }
            m_boxes.append(seen);
            if (button)
                button->click();
            else
                box->reject();
        }
    }

    std::function<void(QMessageBox *, int)> m_picture;
    QTimer m_timer;
    QList<QMessageBox::StandardButton> m_script;
    QList<Box> m_boxes;
    QList<QPointer<QMessageBox>> m_answered;
};
