#pragma once

#include "link/error.h"

#include <QList>
#include <QPair>
#include <QString>

class cTarvelon;

// NAME=VALUE changes of a connected controller's fields, by the names of
// setControllerField.
using FieldChanges = QList<QPair<QString, QString>>;

struct ProgramChange {
    enum class Outcome {
        Done,        // every change made; the program written when it changed
        Refused,     // a name or value did not fit: nothing changed anywhere
        WriteFailed, // the controller did not take the program: the database is unchanged
    };
    Outcome outcome = Outcome::Done;
    Error error;          // why it was refused or failed
    bool written = false; // a program was sent and taken
};

// Checks every change on a scratch copy (nothing changes unless all of them fit), then
// writes the changed program to the controller, and only once the controller has taken it
// changes the fields kept in the database (warning limits, descriptions): a failed write
// leaves the database as it was.
ProgramChange changeProgram(cTarvelon &controller, const FieldChanges &changes);
