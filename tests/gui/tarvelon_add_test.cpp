// The add dialog on its own: the link kind it starts with, and what it hands on.

#include "gui_fixture.h"

#include "store/database.h"
#include "store/strings.h"
#include "ui/tarvelon_add.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>

namespace
{

struct Handed {
    int tries = 0;
    int cancels = 0;
    bool serial = false;
    QString address;
    QString setting;
};

} // namespace

class AddDialog : public EnglishSuite
{
protected:
    TarvelonAdd *open(const QStringList &freePorts)
    {
        auto *dialog = new TarvelonAdd([freePorts](int) { return freePorts; });
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        m_dialog.reset(dialog);
        QObject::connect(dialog, &TarvelonAdd::TryConnect,
                         [this](bool serial, const QString &address, const QString &setting) {
                             ++m_handed.tries;
                             m_handed.serial = serial;
                             m_handed.address = address;
                             m_handed.setting = setting;
                         });
        QObject::connect(dialog, &TarvelonAdd::CancelConnect, [this] { ++m_handed.cancels; });
        dialog->show();
        return dialog;
    }
    template <class T> T *child(const char *name)
    {
        return m_dialog->findChild<T *>(QLatin1String(name));
    }

    std::unique_ptr<TarvelonAdd> m_dialog;
    Handed m_handed;
};

TEST_F(AddDialog, withoutAFreeSerialPortOnlyTcpCanBeChosen)
{
    open({});
    saveScreenshot(m_dialog.get(), QStringLiteral("tcp_only"));
    EXPECT_TRUE(child<QRadioButton>("SockCom")->isChecked());
    EXPECT_FALSE(child<QRadioButton>("ComCon")->isEnabled());
    EXPECT_TRUE(child<QLineEdit>("txtadress")->isVisible());
    EXPECT_FALSE(child<QComboBox>("combo_comport")->isVisible());
    EXPECT_EQ(child<QLabel>("lbadress")->text(), "IP address:");
    EXPECT_EQ(m_dialog->windowTitle(), "Add a new Tarvelon");
    // A private-network address to start from.
    EXPECT_TRUE(child<QLineEdit>("txtadress")->text().startsWith("192.168."));

    child<QLineEdit>("txtadress")->setText("10.1.2.3");
    child<QPushButton>("cmdAdd")->click();
    EXPECT_EQ(m_handed.tries, 1);
    EXPECT_EQ(m_handed.cancels, 0);
    EXPECT_FALSE(m_handed.serial);
    EXPECT_EQ(m_handed.address, "10.1.2.3");
    EXPECT_EQ(m_handed.setting, "4001");
    EXPECT_FALSE(m_dialog->isVisible());
}

TEST_F(AddDialog, freePortsAreListedAndTheFirstIsHandedOnWithTheLineSettings)
{
    open({"/dev/ttyS1", "/dev/ttyS4"});
    saveScreenshot(m_dialog.get(), QStringLiteral("serial"));
    auto *ports = child<QComboBox>("combo_comport");
    ASSERT_EQ(ports->count(), 2);
    EXPECT_EQ(ports->itemText(0), "/dev/ttyS1");
    EXPECT_EQ(ports->itemText(1), "/dev/ttyS4");
    EXPECT_EQ(ports->currentIndex(), 0);
    EXPECT_TRUE(child<QRadioButton>("ComCon")->isChecked());
    EXPECT_FALSE(child<QLineEdit>("txtadress")->isVisible());
    EXPECT_EQ(child<QLabel>("lbadress")->text(), "Com port no.:");

    // Switching kinds swaps label and field, and back.
    for (const bool serial : {false, true}) {
        child<QRadioButton>(serial ? "ComCon" : "SockCom")->click();
        EXPECT_EQ(child<QLabel>("lbadress")->text(), serial ? "Com port no.:" : "IP address:");
        EXPECT_EQ(child<QLineEdit>("txtadress")->isVisible(), !serial);
        EXPECT_EQ(ports->isVisible(), serial);
    }

    child<QPushButton>("cmdAdd")->click();
    EXPECT_EQ(m_handed.tries, 1);
    EXPECT_TRUE(m_handed.serial);
    EXPECT_EQ(m_handed.address, "/dev/ttyS1");
    EXPECT_EQ(m_handed.setting, "9600,n,8,1");
}

TEST_F(AddDialog, anAddressWithAPortReachesThatPortAndAnEmptyOneIsStillHandedOn)
{
    open({});
    child<QLineEdit>("txtadress")->setText("127.0.0.1:4555");
    child<QPushButton>("cmdAdd")->click();
    EXPECT_EQ(m_handed.address, "127.0.0.1");
    EXPECT_EQ(m_handed.setting, "4555");

    open({});
    child<QLineEdit>("txtadress")->setText("");
    child<QPushButton>("cmdAdd")->click();
    EXPECT_EQ(m_handed.tries, 2);
    EXPECT_EQ(m_handed.address, "");
    EXPECT_EQ(m_handed.setting, "4001");

    // Not an address: passed on whole, for the link to report.
    EXPECT_EQ(TarvelonAdd::tcpTarget("host:port").address, "host:port");
    EXPECT_EQ(TarvelonAdd::tcpTarget("host:port").setting, "4001");
}

TEST_F(AddDialog, cancelAndTheCloseBoxEachReportOneCancel)
{
    open({});
    child<QPushButton>("Command1")->click();
    EXPECT_EQ(m_handed.cancels, 1);
    EXPECT_FALSE(m_dialog->isVisible());

    open({});
    m_dialog->close();
    EXPECT_EQ(m_handed.cancels, 2);
    EXPECT_EQ(m_handed.tries, 0);
}
