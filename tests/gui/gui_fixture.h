#pragma once

// What the GUI tests share: the application object, pictures of windows, a main window on
// a fresh database, emulators to connect to, and waiting without blocking the UI thread.

#include "store/database.h"
#include "support/gui_box_answerer.h"
#include "support/sim_process.h"
#include "support/user_input.h"
#include "ui/ostracom_form.h"

#include <QAction>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

// A QApplication for the whole test program (offscreen unless a platform is chosen).
void ensureGuiApplication();

// Saves a picture of `widget` as screenshots/<test>_<label>.png in the build folder.
void saveScreenshot(QWidget *widget, const QString &label);

// The texts of the actions of `w` (a menu bar's menu titles, a menu's entries).
QStringList actionTexts(const QWidget *w);

// Answers the next file dialog shown within `timeoutMs` as a user does: `path` typed into
// its name box, then its Open or Save button. The answer is true once it was answered.
std::shared_ptr<bool> answerFileDialog(const QString &path, int timeoutMs = 30000);

// A suite of dialogs that need the language table: one English database for all its tests.
class EnglishSuite : public ::testing::Test
{
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

private:
    static inline std::unique_ptr<QTemporaryDir> s_dir;
    static inline std::unique_ptr<Database> s_db;
};

class MainWindowTest : public ::testing::Test
{
protected:
    // Long enough for a connect over loopback TCP with its questions answered.
    static constexpr int kConnectTimeoutMs = 30000;

    void SetUp() override;
    void TearDown() override;

    // Starts an emulator with these arguments; fails the test when it does not start.
    SimProcess &startSim(const QStringList &arguments);
    QString simAddress(const SimProcess &sim) const
    {
        return QStringLiteral("127.0.0.1:%1").arg(sim.port());
    }

    QAction *action(const char *name) const { return user::find<QAction>(m_form.get(), name); }
    QTreeWidget *list() const { return user::find<QTreeWidget>(m_form.get(), "ListView1"); }
    QStringList rowTexts(int row) const;
    // A values file forcing sensor readings in the emulator.
    QString valuesFile(const char *name, const QByteArray &content);

    // Clicks the menu titled `menu` on the window's menu bar, then its entry `entry`.
    bool chooseMenu(const QString &menu, const QString &entry);
    // Clicks the list's row `row` (as it is shown).
    bool clickRow(int row, bool twice = false);
    // Opens the add dialog from the menu, clicks TCP, types `address` and clicks OK.
    void addByDialog(const QString &address);
    // Waits until no operation holds the window.
    bool waitIdle(int timeoutMs = kConnectTimeoutMs);

    QTemporaryDir m_dir;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<OstracomForm> m_form;
    std::unique_ptr<BoxAnswerer> m_boxes;
    std::vector<std::unique_ptr<SimProcess>> m_sims;
};
