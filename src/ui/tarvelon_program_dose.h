#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;
class cHydoRegelung;
class cTarvelon;

// Picks the socket a regulation drives, from the sockets fitted to the controller. OK moves
// the regulation to the selected socket (the old one is released); the close box, or OK
// with no socket selected, changes nothing.
class TarvelonProgramDose : public QDialog
{
    Q_OBJECT
public:
    explicit TarvelonProgramDose(QWidget *parent = nullptr);

    // Fills the list; the regulation's own socket is selected.
    void init(cTarvelon &controller, cHydoRegelung &regulation);
    // True once OK moved the regulation to another socket or the same one again.
    bool changed() const { return m_changed; }

private:
    void ok();

    cTarvelon *m_controller = nullptr;
    cHydoRegelung *m_regulation = nullptr;
    bool m_changed = false;
    QTreeWidget *ListView1 = nullptr;
    QPushButton *Command1 = nullptr;
};
