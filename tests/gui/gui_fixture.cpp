#include "gui_fixture.h"

#include "store/strings.h"

#include "service/link_worker.h"
#include "support/user_input.h"
#include "ui/tarvelon_add.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenuBar>
#include <QTest>

void ensureGuiApplication()
{
    if (QApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "ostracom_gui_tests";
    static char *argv[] = {name, nullptr};
    // Never destroyed: at exit the database driver's globals are gone before a static
    // application object would be, and its clean-up would touch them.
    new QApplication(argc, argv);
    // Closing the main window in a test must not end the test program's event handling.
    QApplication::setQuitOnLastWindowClosed(false);
}

void saveScreenshot(QWidget *widget, const QString &label)
{
    // One place for every build's pictures (the sanitizer build runs the suite too).
    const QString dir = QStringLiteral(OSTRACOM_SOURCE_DIR "/build/screenshots");
    QDir().mkpath(dir);
    const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString test = info ? QString::fromLatin1(info->name()) : QStringLiteral("gui");
    // Lay out what changed since the last event round, as the screen would show it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    widget->grab().save(QStringLiteral("%1/%2_%3.png").arg(dir, test, label));
}

QStringList actionTexts(const QWidget *w)
{
    QStringList texts;
    for (QAction *a : w->actions())
        texts << a->text();
    return texts;
}

std::shared_ptr<bool> answerFileDialog(const QString &path, int timeoutMs)
{
    auto answered = std::make_shared<bool>(false);
    user::whenShown<QFileDialog>(
        [path, answered](QFileDialog *dialog) {
            saveScreenshot(dialog, QStringLiteral("file_dialog"));
            // The dialog reads its folder and completes a typed name a moment later.
            QTest::qWait(300);
            const bool typed = user::retype(user::find<QLineEdit>(dialog, "fileNameEdit"), path);
            QTest::qWait(300);
            // The name box's completion list closes first, as a person's Escape closes it.
            if (QWidget *completion = QApplication::activePopupWidget())
                QTest::keyClick(completion, Qt::Key_Escape);
            auto *buttons = user::find<QDialogButtonBox>(dialog, "buttonBox");
            if (typed && buttons)
                user::click(buttons->button(dialog->acceptMode() == QFileDialog::AcceptSave
                                                ? QDialogButtonBox::Save
                                                : QDialogButtonBox::Open));
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the file dialog stayed open";
                dialog->reject();
            }
            *answered = true;
        },
        timeoutMs);
    return answered;
}

void EnglishSuite::SetUpTestSuite()
{
    ensureGuiApplication();
    s_dir = std::make_unique<QTemporaryDir>();
    s_db = std::make_unique<Database>(s_dir->filePath(QStringLiteral("ostracom.db")));
    ASSERT_EQ(initProgram(*s_db, QStringLiteral("ENGLISH")), Error());
}

void EnglishSuite::TearDownTestSuite()
{
    s_db.reset();
    s_dir.reset();
}

void MainWindowTest::SetUp()
{
    ensureGuiApplication();
    ASSERT_TRUE(m_dir.isValid());
    m_db = std::make_unique<Database>(m_dir.filePath(QStringLiteral("ostracom.db")));
    m_form = std::make_unique<OstracomForm>(*m_db, m_dir.path());
    m_form->show();
    m_boxes = std::make_unique<BoxAnswerer>(
        [](QMessageBox *box, int n) { saveScreenshot(box, QStringLiteral("box%1").arg(n)); });
}

void MainWindowTest::TearDown()
{
    if (m_form) {
        // Nothing may still be running when the window goes.
        EXPECT_TRUE(user::waitFor([this] { return !m_form->linkWorker().busy(); }, 120000));
        for (const auto &b : m_boxes->boxes())
            if (!b.scripted)
                ADD_FAILURE() << "unexpected box: " << b.title.toStdString() << ": "
                              << b.text.toStdString();
    }
    m_form.reset();
    m_boxes.reset();
    m_db.reset();
    m_sims.clear();
}

SimProcess &MainWindowTest::startSim(const QStringList &arguments)
{
    auto sim = std::make_unique<SimProcess>();
    EXPECT_TRUE(sim->launch(QStringList{QStringLiteral("--quiet")} + arguments));
    m_sims.push_back(std::move(sim));
    return *m_sims.back();
}

QStringList MainWindowTest::rowTexts(int row) const
{
    QStringList texts;
    QTreeWidgetItem *item = list()->topLevelItem(row);
    for (int c = 0; item && c < list()->columnCount(); ++c)
        texts << item->text(c);
    return texts;
}

QString MainWindowTest::valuesFile(const char *name, const QByteArray &content)
{
    const QString path = m_dir.filePath(QLatin1String(name));
    EXPECT_TRUE(writeTestFile(path, content)) << name;
    return path;
}

bool MainWindowTest::chooseMenu(const QString &menu, const QString &entry)
{
    return user::chooseFromMenuBar(m_form->menuBar(), menu, entry);
}

bool MainWindowTest::clickRow(int row, bool twice)
{
    QTreeWidgetItem *item = list()->topLevelItem(row);
    EXPECT_NE(item, nullptr) << "no row " << row;
    return item && user::clickIndex(list(), list()->indexFromItem(item), twice);
}

void MainWindowTest::addByDialog(const QString &address)
{
    ASSERT_TRUE(chooseMenu("Edit", "New Tarvelon"));
    auto *dialog = m_form->findChild<TarvelonAdd *>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(user::click(dialog, "SockCom"));
    ASSERT_TRUE(user::retype(user::find<QLineEdit>(dialog, "txtadress"), address));
    saveScreenshot(dialog, QStringLiteral("add_dialog"));
    ASSERT_TRUE(user::click(dialog, "cmdAdd"));
}

bool MainWindowTest::waitIdle(int timeoutMs)
{
    return user::waitFor([this] { return m_form->isIdle(); }, timeoutMs);
}
