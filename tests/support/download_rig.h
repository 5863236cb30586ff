#pragma once

// A controller's memory images and stored measurements as the scripted controller hands
// them over: a temperature sensor on 1 and a pH sensor on 2; and such a controller
// connected to a database with its spool, ready for downloads.

#include "support/answer_ok.h"
#include "support/fake_transport.h"
#include "support/temp_db.h"

#include "link/progress.h"
#include "model/ctarvelon.h"
#include "service/measurement_download.h"
#include "store/archive_spool.h"
#include "store/database.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

QByteArray programImage(int controllerId);
QByteArray calibrationImage();

struct Rec {
    int sensor;
    int word;
    QDateTime when;
};

// A "DO" payload: count (the announced one if given), then per record sensor, status, word,
// time, date.
QByteArray storedData(const QList<Rec> &records, int announced = -1);

// The scripted controller with identifier controllerId, connected to a prepared database
// with the spool the polling service uses in a temporary folder.
struct ConnectedController {
    explicit ConnectedController(int controllerId = 1234, Backend backend = Backend::Sqlite);

    TempDb tmp;
    // A short wait for a locked database keeps the locked-database cases quick.
    Database db{tmp.path(), Database::Mode::Prepare, 100};
    ArchiveSpool spool{db, tmp.dir()};
    FakeLink fake;
    NoProgress progress;
    AnswerOk interaction;
    cTarvelon t{fake.clock, progress, interaction};
    // Its downloads into the database through the spool, as the polling service makes them.
    MeasurementDownload downloader{t, &spool};
    Outcome connected; // what connecting gave
};
