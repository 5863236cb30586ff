#pragma once

// Runs ostracom-cli (or another program) as a user runs it and collects what it said.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

struct CliRun {
    int exitCode = -1; // -1: it crashed, or hung and was killed
    QString out;
    QString err;
};

struct CliCall {
    QByteArray input;        // standard input, closed after it
    QStringList environment; // NAME=VALUE added to the test's own
    QString workingDirectory;
    QString program = QStringLiteral(OSTRACOM_CLI_PATH);
    // A ceiling against a hang, not a measurement: a whole program written over TCP takes
    // over a minute.
    int hangCeilingMs = 200000;
};

// Runs to the end. A hang or a sanitizer report fails the running test.
CliRun runCli(const QStringList &args, const CliCall &call = {});
// Starts a run that the test watches and ends itself (a poller), with the same environment.
void startCli(QProcess &process, const QStringList &args, const CliCall &call = {});
