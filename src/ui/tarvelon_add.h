#pragma once

#include "link/protocol.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Asks how a new controller is reached: a free serial port or a TCP address. It does not
// connect; it closes and hands the choice on through TryConnect, or reports CancelConnect.
// Closing it by its close box counts as Cancel.
class TarvelonAdd : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char *kDefaultAddress = "192.168.1.100";
    static constexpr const char *kSerialSetting = "9600,n,8,1";
    static constexpr const char *kTcpPort = "4001";

    // `availablePorts(highest)` lists the serial ports that are free, as the main window's
    // Avaible_Comports does.
    TarvelonAdd(std::function<QStringList(int)> availablePorts, QWidget *parent = nullptr);

    // What an address typed into the box means: "HOST" is the host on port 4001, and
    // "HOST:PORT" (or "[IPv6]:PORT") names another port. Text that is no address is passed
    // on as it stands, so that the link reports what is wrong with it.
    static LinkParams tcpTarget(const QString &text);

    void display_language();

signals:
    void TryConnect(bool serial, const QString &address, const QString &setting);
    void CancelConnect();

private:
    void showSerialLayout();
    void showTcpLayout();
    void accept() override;
    void reject() override;

    std::function<QStringList(int)> m_availablePorts;
    bool m_answered = false;

    QRadioButton *ComCon = nullptr;
    QRadioButton *SockCom = nullptr;
    QLabel *lbadress = nullptr;
    QComboBox *combo_comport = nullptr;
    QLineEdit *txtadress = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *Command1 = nullptr;
};
