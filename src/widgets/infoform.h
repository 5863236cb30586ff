#pragma once

#include <QDialog>
#include <QList>
#include <QPair>
#include <QString>

class QLabel;
class QPushButton;

// The about box of the SMS controller window: program title, version, a one-line
// description, the legal notice and the company, and a button that shows what the program
// knows of the system it runs on.
class Infoform : public QDialog
{
    Q_OBJECT
public:
    explicit Infoform(QWidget *parent = nullptr);

    // The facts the system information dialog lists: (German key of the name, value).
    static QList<QPair<QString, QString>> systemFacts();
    // Shows them in a dialog of their own, modal to `parent`.
    static void StartSysInfo(QWidget *parent);

private:
    QLabel *picIcon = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblDescription = nullptr;
    QLabel *lblDisclaimer = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdSysInfo = nullptr;
};
