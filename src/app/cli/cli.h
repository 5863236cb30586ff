#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

// Options that stand before the subcommand.
struct CliOptions {
    QString dataDir; // --data-dir; empty: the standard application data location
    QString dbPath;  // --db; empty: ostracom.db in the data directory
    QString lang;    // --lang; empty: the stored language
};

// Exit codes of every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

QTextStream &out();
QTextStream &err();

// Subcommands; each takes the arguments after its own name.
int cmdInit(const CliOptions &options, const QStringList &args);
int cmdProbe(const CliOptions &options, const QStringList &args);
int cmdProgram(const CliOptions &options, const QStringList &args);
int cmdPoll(const CliOptions &options, const QStringList &args);
int cmdSettings(const CliOptions &options, const QStringList &args);
int cmdMailTest(const CliOptions &options, const QStringList &args);
int cmdMailQueue(const CliOptions &options, const QStringList &args);
int cmdAlarmQuality(const CliOptions &options, const QStringList &args);
int cmdExport(const CliOptions &options, const QStringList &args);
int cmdCheck(const CliOptions &options, const QStringList &args);
int cmdSms(const CliOptions &options, const QStringList &args);
#ifdef OSTRACOM_CLI_CHART
int cmdChart(const CliOptions &options, const QStringList &args);
#endif
