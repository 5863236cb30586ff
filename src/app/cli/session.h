#pragma once

#include "app/cli/cli.h"
#include "link/clock.h"
#include "link/hydo_connect.h"
#include "link/progress.h"
#include "link/protocol.h"
#include "model/interaction.h"
#include "store/database.h"

#include <memory>

// Answers the questions of controller operations without asking anybody, by fixed rules
// that go by the question's identifier: the clock question is answered OK; a calibration
// that differs keeps the database copy (OK) unless the controller's copy was chosen; "start
// programming?" is answered Yes, since the command itself asked for it; any other question
// gets the cautious answer (Cancel or No). Messages go to standard error.
class CliInteraction : public Interaction
{
public:
    bool calibrationFromController = false;
    // A new controller (without identifier) is programmed with a fresh one only with --yes.
    bool programNew = false;

    Answer ask(Question question, const QString &text, const QString &title, Buttons buttons,
               Icon icon) override;
    void tell(const QString &text, const QString &title, Icon icon) override;
};

// Shows transfer progress on standard error when it is a terminal; silent otherwise.
class CliProgress : public Progress
{
public:
    CliProgress();
    void DisplayProgress(const QString &text, qint64 current, qint64 maximum) override;
    void finish();

private:
    bool m_tty = false;
    bool m_open = false;
};

// What every subcommand that talks to the database and controllers needs.
class CliSession
{
public:
    // ReadOnly: the database must exist already; no folder or file is created.
    enum class Access { ReadWrite, ReadOnly };
    // Opens the data directory and the database and sets the language. Throws StoreError.
    explicit CliSession(const CliOptions &options, Access access = Access::ReadWrite);

    QString dataDir() const { return m_dataDir; }
    Database &db() { return *m_db; }
    Clock &clock() { return m_clock; }
    cHydoConnect &link();
    CliInteraction &interaction() { return m_interaction; }
    CliProgress &progress() { return m_progress; }

private:
    QString m_dataDir;
    std::unique_ptr<Database> m_db;
    RealClock m_clock;
    std::unique_ptr<cHydoConnect> m_link;
    CliInteraction m_interaction;
    CliProgress m_progress;
};

// Texts of the program use a carriage return as line break.
QString consoleText(const QString &text);

// --controller names a controller as the user knows it: by its identifier in the database
// (a number) or by its address. The database keeps no addresses, so a command that talks to
// the controller needs the address and one that reads the database needs the identifier.
struct ControllerArg {
    LinkParams params;
    QString text;
};
// The controllers to reach at the addresses given. Returns why they are no good, or an
// empty text.
QString controllersFrom(const QStringList &values, QList<ControllerArg> *controllers,
                        bool repeatable);
// The stored controller given by its identifier. Returns why it is no good, or an empty text.
QString storedControllerFrom(const QStringList &values, int *id);
// Says so on standard error and returns true when the database knows no controller `id`.
bool reportMissingController(const Database &db, int id);

// The help of --controller for either kind of command.
extern const char *const kControllerIdHelp;
extern const char *const kControllerAddressHelp;

class cTarvelon;

// Connects a controller as the desktop program does. A new controller (one without
// identifier) is programmed at once with its new identifier when programNew is set;
// otherwise it is refused. Returns nullptr and fills error on failure.
std::unique_ptr<cTarvelon> connectController(CliSession &session, const ControllerArg &controller,
                                             bool programNew, QString *error);
