#pragma once

#include "controller.h"
#include "wire_session.h"

#include <QHostAddress>
#include <QStringList>

namespace sim
{

struct SimOptions {
    bool tcp = true;
    QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 port = 4001;
    bool pty = false;
    QString ptyLink;
    QString serialDevice;
    bool quiet = false;
    ControllerSettings controller;
    FailureModes failures;
};

enum class ParseOutcome { Run, ExitOk, UsageError };

// Parses the command line; fills message with the help text (ExitOk) or the error
// (UsageError).
ParseOutcome parseOptions(const QStringList &arguments, SimOptions *options, QString *message);

} // namespace sim
