// The add dialog on its own: the link kind it starts with, and what it hands on.

#include "gui_fixture.h"

#include "store/database.h"
#include "store/strings.h"
#include "support/user_input.h"
#include "ui/tarvelon_add.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

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

// With a free serial port the dialog starts on it, without one only TCP can be chosen; a
// click on either kind swaps label and field; the chosen port goes on with the line settings.
TEST_F(AddDialog, theLinkKindFollowsTheFreePortsAndTheChosenPortIsHandedOn)
{
    auto expectKind = [this](bool serial) {
        EXPECT_EQ(child<QRadioButton>("ComCon")->isChecked(), serial);
        EXPECT_EQ(child<QRadioButton>("SockCom")->isChecked(), !serial);
        EXPECT_EQ(child<QLabel>("lbadress")->text(), serial ? "Com port no.:" : "IP address:");
        EXPECT_EQ(child<QLineEdit>("txtadress")->isVisible(), !serial);
        EXPECT_EQ(child<QComboBox>("combo_comport")->isVisible(), serial);
    };
    open({});
    saveScreenshot(m_dialog.get(), QStringLiteral("tcp_only"));
    expectKind(false);
    EXPECT_FALSE(child<QRadioButton>("ComCon")->isEnabled());
    EXPECT_EQ(m_dialog->windowTitle(), "Add a new Tarvelon");
    // A private-network address to start from.
    EXPECT_TRUE(child<QLineEdit>("txtadress")->text().startsWith("192.168."));

    open({"/dev/ttyS1", "/dev/ttyS4"});
    saveScreenshot(m_dialog.get(), QStringLiteral("serial"));
    auto *ports = child<QComboBox>("combo_comport");
    EXPECT_EQ(ports->count(), 2);
    EXPECT_EQ(ports->currentText(), "/dev/ttyS1");
    expectKind(true);
    for (const bool serial : {false, true}) {
        ASSERT_TRUE(user::click(m_dialog.get(), serial ? "ComCon" : "SockCom"));
        expectKind(serial);
    }

    ASSERT_TRUE(user::choose(ports, "/dev/ttyS4")) << "the other free port is offered";
    ASSERT_TRUE(user::click(m_dialog.get(), "cmdAdd"));
    EXPECT_EQ(m_handed.tries, 1);
    EXPECT_TRUE(m_handed.serial);
    EXPECT_EQ(m_handed.address, "/dev/ttyS4");
    EXPECT_EQ(m_handed.setting, "9600,n,8,1");
    EXPECT_FALSE(m_dialog->isVisible());
}

// Whatever is typed is handed on; a port after the host reaches that port, and text that is
// no address goes whole to the link, which reports it.
TEST_F(AddDialog, theTypedAddressIsHandedOnWithItsPort)
{
    const struct {
        const char *typed;
        const char *address;
        const char *setting;
    } cases[] = {
        {"10.1.2.3", "10.1.2.3", "4001"},
        {"127.0.0.1:4555", "127.0.0.1", "4555"},
        {"", "", "4001"},
        {"host:port", "host:port", "4001"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.typed);
        open({});
        auto *address = child<QLineEdit>("txtadress");
        ASSERT_TRUE(user::retype(address, QString::fromLatin1(c.typed)));
        if (!*c.typed)
            QTest::keyClick(address, Qt::Key_Delete); // the selected default goes
        ASSERT_TRUE(user::click(m_dialog.get(), "cmdAdd"));
        EXPECT_EQ(m_handed.cancels, 0);
        EXPECT_FALSE(m_handed.serial);
        EXPECT_EQ(m_handed.address, c.address);
        EXPECT_EQ(m_handed.setting, c.setting);
    }
    EXPECT_EQ(m_handed.tries, 4);
}
