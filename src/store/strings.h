#pragma once

#include <QString>

// Language lookup. Every text the user sees is a German key passed through ms() just
// before it is shown. (Placeholder: returns the key; the database-backed table replaces it.)
QString ms(const QString &german);
QString ms(const char *germanUtf8);

// Marks a German key that is stored now and translated later with ms(); the translation
// check of the test suite finds keys written this way.
constexpr const char *msKey(const char *germanUtf8) { return germanUtf8; }
