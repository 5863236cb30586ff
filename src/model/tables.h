#pragma once

// The fixed tables shared by sensors, sockets, regulations, the programming dialog and the
// charts. Texts are German keys, stored untranslated; callers translate them with ms()
// where they are shown. A code beyond a table gives an empty text (and neutral numbers)
// instead of failing, since a controller may report codes this program does not know.

#include <QString>

namespace tables
{

constexpr int kSensorTypeCount = 14; // display types 0..13
constexpr int kSocketKindCount = 4;  // 0 none, 1 switchable, 2 dimmable, 3 (unnamed)

struct SensorType {
    const char *name;        // formatierter_Typ
    const char *unit;        // MesswertEinheit
    int scale;               // a scaled word holds value x scale
    double compression;      // HorizontaleKompression = LineareKompression
    const char *format;      // WertFormat
    const char *trendFormat; // TrendWertFormat
    const char *mask;        // WertMaske
    int width;               // WertWidth
    int group;               // sensor group for the selector
    const char *raiseText;   // Hoch_Text
    const char *lowerText;   // runter_Text
    const char *dayText;     // SoTag_Text
    const char *nightText;   // SoNacht_Text
};

// The row of a display type, or nullptr beyond the table.
const SensorType *sensorType(int type);

QString sensorTypeName(int type);
QString sensorUnit(int type);
// "[unit]" or "" when the type has no unit.
QString formattedUnit(int type);
// 100 for pH, 10 for every other type, including unknown ones.
int scaleFactor(int type);
double compression(int type);
QString valueFormat(int type);
QString trendValueFormat(int type);
QString valueMask(int type);
int valueWidth(int type);
// Group under which a display type is selected; -1 beyond the table.
int sensorGroup(int type);

QString offText(int type); // Aus_Text
QString raiseText(int type);
QString lowerText(int type);
QString dayText(int type);
QString nightText(int type);

QString socketKindName(int kind);

// Formats a value with a pattern such as "00.00": the digits before the point are the
// least number of integer digits, those after it the fixed number of decimals. The decimal
// separator is the given one (the locale's). An empty pattern gives the plain number.
QString formatValue(double value, const QString &pattern, QChar decimalSeparator);

// Every German text in these tables, for the translation check.
QStringList allTexts();

} // namespace tables
