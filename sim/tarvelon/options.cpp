#include "options.h"

#include <QCommandLineParser>

namespace sim
{

namespace
{

const char kDescription[] =
    "An emulator of a Tarvelon water controller. It answers the controller's commands\n"
    "(DX version, DN program, DK calibration, DO stored records, DL acknowledge, DB/DI\n"
    "writes) over TCP and/or a pseudo-terminal or serial device, and stores one record\n"
    "per fitted sensor at every storage interval.\n"
    "\n"
    "Prints \"listening on ADDRESS:PORT\" and/or \"pty DEVICE\" on stdout when ready,\n"
    "one line per command on stderr (unless --quiet). SIGINT/SIGTERM save the state\n"
    "and exit.\n"
    "\n"
    "Failure modes (combinable): --answer-after, --split, --bad-checksum,\n"
    "--drop-mid-answer, --mute, --pace-9600, --bad-write-checksum, --short-batch,\n"
    "--garble; an old firmware with --version 2.19R23, a controller without identifier\n"
    "with --id 0. --journal lists every record handed over and every record dropped.";

bool parseInt(const QString &text, int min, int max, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

} // namespace

ParseOutcome parseOptions(const QStringList &arguments, SimOptions *options, QString *message)
{
    QCommandLineParser p;
    p.setApplicationDescription(QString::fromLatin1(kDescription));
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("TCP port (default 4001; 0 picks a free one)."),
                                  QStringLiteral("N"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address to listen on (default 127.0.0.1)."),
                                    QStringLiteral("ADDR"));
    const QCommandLineOption noTcp(QStringLiteral("no-tcp"),
                                   QStringLiteral("Do not listen on TCP (use with --pty or "
                                                  "--serial)."));
    const QCommandLineOption pty(QStringLiteral("pty"),
                                 QStringLiteral("Serve a pseudo-terminal; prints \"pty DEVICE\"."));
    const QCommandLineOption ptyLink(QStringLiteral("pty-link"),
                                     QStringLiteral("Also make PATH a symlink to the "
                                                    "pseudo-terminal (implies --pty)."),
                                     QStringLiteral("PATH"));
    const QCommandLineOption serial(QStringLiteral("serial"),
                                    QStringLiteral("Serve a serial device at 9600,n,8,1."),
                                    QStringLiteral("DEVICE"));
    const QCommandLineOption state(QStringLiteral("state"),
                                   QStringLiteral("Keep images, version, identifier and pending "
                                                  "records in this JSON file (loaded at start, "
                                                  "saved after writes, acknowledgements and at "
                                                  "exit)."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption values(QStringLiteral("values"),
                                    QStringLiteral("Force sensor values from lines SENSOR=VALUE "
                                                   "(e.g. 2=7.95); re-read before each record."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Run the controller clock F times faster "
                                                  "(default 1)."),
                                   QStringLiteral("F"));
    const QCommandLineOption clock(QStringLiteral("clock"),
                                   QStringLiteral("Start the controller's clock at this local "
                                                  "wall-clock time (then it runs with --speed; "
                                                  "summer time never moves it)."),
                                   QStringLiteral("YYYY-MM-DD HH:MM:SS"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("Storage interval in seconds (default 10, "
                                                     "or the stored program's)."),
                                      QStringLiteral("SECONDS"));
    const QCommandLineOption maxRecords(QStringLiteral("max-records"),
                                        QStringLiteral("Records the memory holds before the "
                                                       "oldest are dropped (default 2000)."),
                                        QStringLiteral("N"));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Firmware version, e.g. 2.19R23 (default "
                                                    "2.20R5)."),
                                     QStringLiteral("VERSION"));
    const QCommandLineOption id(QStringLiteral("id"),
                                QStringLiteral("Controller identifier (default 1234; 0 = none "
                                               "assigned yet)."),
                                QStringLiteral("N"));
    const QCommandLineOption sensor(QStringLiteral("sensor"),
                                    QStringLiteral("Fit sensor N (1-8) with this type code "
                                                   "(0 none, 1 pH, 2 temperature, 3 redox, 4/5 "
                                                   "conductivity, 6 oxygen, 7 level, 8 air "
                                                   "pressure); may be repeated."),
                                    QStringLiteral("N=TYPE"));
    const QCommandLineOption seed(QStringLiteral("seed"),
                                  QStringLiteral("Seed of the measurement noise."),
                                  QStringLiteral("N"));
    const QCommandLineOption journal(QStringLiteral("journal"),
                                     QStringLiteral("Append \"handed RECORD\" for every record "
                                                    "of a DO answer and \"forgot RECORD\" for "
                                                    "every record a DL drops, synced to disk "
                                                    "before the answer goes out."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("No log lines on stderr."));
    const QCommandLineOption answerAfter(QStringLiteral("answer-after"),
                                         QStringLiteral("Answer only the Nth burst of a command "
                                                        "(the earlier repeats go unanswered)."),
                                         QStringLiteral("N"));
    const QCommandLineOption split(QStringLiteral("split"),
                                   QStringLiteral("Send every answer in N pieces with MS "
                                                  "milliseconds between them."),
                                   QStringLiteral("N:MS"));
    const QCommandLineOption badChecksum(QStringLiteral("bad-checksum"),
                                         QStringLiteral("Read answers carry a wrong checksum."));
    const QCommandLineOption dropMid(QStringLiteral("drop-mid-answer"),
                                     QStringLiteral("Break off halfway through every answer "
                                                    "(TCP: close the connection)."));
    const QCommandLineOption mute(QStringLiteral("mute"), QStringLiteral("Never answer."));
    const QCommandLineOption pace(QStringLiteral("pace-9600"),
                                  QStringLiteral("Send answers at 9600-baud speed (about "
                                                 "1.04 ms per character), also over TCP."));
    const QCommandLineOption badWrite(QStringLiteral("bad-write-checksum"),
                                      QStringLiteral("Echo a wrong checksum for every write and "
                                                     "keep nothing."));
    const QCommandLineOption shortBatch(QStringLiteral("short-batch"),
                                        QStringLiteral("Every Nth DO answer announces 2 records "
                                                       "more than it carries (checksum right)."),
                                        QStringLiteral("N"));
    const QCommandLineOption garble(QStringLiteral("garble"),
                                    QStringLiteral("Every Nth stored record has non-hex digits "
                                                   "in its value, time and date (checksum "
                                                   "right)."),
                                    QStringLiteral("N"));
    p.addOptions({help,    port,   listen,  noTcp,    pty,         ptyLink,    serial,
                  state,   values, speed,   clock,    interval,    maxRecords, version,
                  id,      seed,   journal, quiet,    answerAfter, split,      badChecksum,
                  dropMid, mute,   pace,    badWrite, shortBatch,  garble,     sensor});

    if (!p.parse(arguments)) {
        *message = p.errorText();
        return ParseOutcome::UsageError;
    }
    if (p.isSet(help)) {
        *message = p.helpText();
        return ParseOutcome::ExitOk;
    }
    if (!p.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument: %1").arg(p.positionalArguments().first());
        return ParseOutcome::UsageError;
    }

    SimOptions o;
    int n = 0;
    if (p.isSet(port)) {
        if (!parseInt(p.value(port), 0, 65535, &n)) {
            *message = QStringLiteral("--port needs a number 0 to 65535");
            return ParseOutcome::UsageError;
        }
        o.port = quint16(n);
    }
    if (p.isSet(listen) && !o.listenAddress.setAddress(p.value(listen))) {
        *message = QStringLiteral("--listen needs an IP address, not \"%1\"").arg(p.value(listen));
        return ParseOutcome::UsageError;
    }
    o.tcp = !p.isSet(noTcp);
    o.pty = p.isSet(pty) || p.isSet(ptyLink);
    o.ptyLink = p.value(ptyLink);
    o.serialDevice = p.value(serial);
    if (!o.tcp && !o.pty && o.serialDevice.isEmpty()) {
        *message = QStringLiteral("--no-tcp needs --pty or --serial");
        return ParseOutcome::UsageError;
    }
    o.quiet = p.isSet(quiet);

    ControllerSettings &c = o.controller;
    c.statePath = p.value(state);
    c.valuesPath = p.value(values);
    if (p.isSet(speed)) {
        bool ok = false;
        c.speed = p.value(speed).toDouble(&ok);
        if (!ok || !(c.speed > 0.0) || c.speed > 1.0e7) {
            *message = QStringLiteral("--speed needs a number above 0");
            return ParseOutcome::UsageError;
        }
    }
    if (p.isSet(clock)) {
        // Date and time read apart: as one local QDateTime the hour summer time skips would
        // not exist.
        const QStringList parts = p.value(clock).split(QLatin1Char(' '));
        const QDate date =
            parts.size() == 2 ? QDate::fromString(parts[0], QStringLiteral("yyyy-MM-dd")) : QDate();
        const QTime time =
            parts.size() == 2 ? QTime::fromString(parts[1], QStringLiteral("HH:mm:ss")) : QTime();
        if (!date.isValid() || !time.isValid()) {
            *message = QStringLiteral("--clock needs \"YYYY-MM-DD HH:MM:SS\", not \"%1\"")
                           .arg(p.value(clock));
            return ParseOutcome::UsageError;
        }
        c.clockStart = QDateTime(date, time, Qt::UTC);
    }
    if (p.isSet(interval)) {
        if (!parseInt(p.value(interval), 1, 86399, &n)) {
            *message = QStringLiteral("--interval needs 1 to 86399 seconds");
            return ParseOutcome::UsageError;
        }
        c.intervalSeconds = n;
    }
    if (p.isSet(maxRecords)) {
        if (!parseInt(p.value(maxRecords), 1, 65535, &c.maxPending)) {
            *message = QStringLiteral("--max-records needs a number 1 to 65535");
            return ParseOutcome::UsageError;
        }
    }
    if (p.isSet(version)) {
        c.version = parseFirmwareVersion(p.value(version));
        if (!c.version) {
            *message =
                QStringLiteral("--version needs the form 2.20R5, not \"%1\"").arg(p.value(version));
            return ParseOutcome::UsageError;
        }
    }
    if (p.isSet(id)) {
        if (!parseInt(p.value(id), 0, 32767, &n)) {
            *message = QStringLiteral("--id needs a number 0 to 32767");
            return ParseOutcome::UsageError;
        }
        c.id = n;
    }
    for (const QString &fit : p.values(sensor)) {
        const QStringList parts = fit.split(QLatin1Char('='));
        int number = 0;
        int type = 0;
        if (parts.size() != 2 || !parseInt(parts[0], 1, 8, &number) ||
            !parseInt(parts[1], 0, 8, &type)) {
            *message = QStringLiteral("--sensor needs N=TYPE with N 1 to 8 and TYPE 0 to 8, not "
                                      "\"%1\"")
                           .arg(fit);
            return ParseOutcome::UsageError;
        }
        c.sensorTypes[number] = type;
    }
    if (p.isSet(seed)) {
        bool ok = false;
        c.seed = p.value(seed).toUInt(&ok);
        if (!ok) {
            *message = QStringLiteral("--seed needs a non-negative number");
            return ParseOutcome::UsageError;
        }
    } else {
        c.seed = quint32(QDateTime::currentMSecsSinceEpoch());
    }

    c.journalPath = p.value(journal);
    if (p.isSet(shortBatch) && !parseInt(p.value(shortBatch), 1, 1000000, &c.shortBatchEvery)) {
        *message = QStringLiteral("--short-batch needs a number 1 to 1000000");
        return ParseOutcome::UsageError;
    }
    if (p.isSet(garble) && !parseInt(p.value(garble), 1, 1000000, &c.garbleEvery)) {
        *message = QStringLiteral("--garble needs a number 1 to 1000000");
        return ParseOutcome::UsageError;
    }

    FailureModes &f = o.failures;
    if (p.isSet(answerAfter) && !parseInt(p.value(answerAfter), 1, 1000, &f.answerAfter)) {
        *message = QStringLiteral("--answer-after needs a number 1 to 1000");
        return ParseOutcome::UsageError;
    }
    if (p.isSet(split)) {
        const QStringList parts = p.value(split).split(QLatin1Char(':'));
        if (parts.size() != 2 || !parseInt(parts[0], 1, 10000, &f.splitChunks) ||
            !parseInt(parts[1], 0, 60000, &f.splitPauseMs)) {
            *message = QStringLiteral("--split needs N:MS, e.g. 4:300");
            return ParseOutcome::UsageError;
        }
    }
    f.badChecksum = p.isSet(badChecksum);
    f.dropMidAnswer = p.isSet(dropMid);
    f.mute = p.isSet(mute);
    f.pace9600 = p.isSet(pace);
    f.badWriteChecksum = p.isSet(badWrite);

    *options = o;
    return ParseOutcome::Run;
}

} // namespace sim
