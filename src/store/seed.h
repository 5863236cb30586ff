#pragma once

// The English translations the program ships with (resource :/seed/hydolang.tsv).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct SeedTranslation {
    QString german;
    QString english;
};

struct SeedFile {
    QList<SeedTranslation> entries;
    QStringList problems; // one readable line per rejected line; empty for a sound file
};

// Parses the seed format: one `German<TAB>English` line per text, lines starting with #
// are comments, blank lines are skipped. In both fields \r, \n, \t and \\ stand for a
// carriage return, a line feed, a tab and a backslash. Blanks are kept as written.
SeedFile parseSeed(const QByteArray &utf8);

// The seed built into the program, parsed once.
const SeedFile &builtInSeed();
