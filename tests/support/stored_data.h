#pragma once

// A controller's memory images and stored measurements as the scripted controller hands
// them over: a temperature sensor on 1 and a pH sensor on 2.

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
