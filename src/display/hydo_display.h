#pragma once

// What a chart shows: the time range, the online settings and its series. The scalar settings
// live in a record of hexadecimal digits that also mirrors the first ten series; the series
// themselves live in four parallel lists whose item 1 is the logbook.

#include <QDateTime>
#include <QList>
#include <QString>

class cHydoDisplay
{
public:
    static constexpr int kRecordChars = 421;
    static constexpr int kSlots = 10;
    // The logbook series: entries are stored at 100, so these bounds put them at half height.
    static constexpr int kLogbookAqid = -1;
    static constexpr float kLogbookYmax = 1;
    static constexpr float kLogbookYmin = 199;

    cHydoDisplay();

    QDateTime StartDatum() const;
    void set_StartDatum(const QDateTime &when);
    QDateTime endDatum() const;
    void set_endDatum(const QDateTime &when);
    bool onlinedata() const;
    void set_onlinedata(bool online);
    float onlinenumber() const;
    void set_onlinenumber(float number);
    // Interval unit code 0..5 (see IntervalCodeOf).
    int onlineintervall() const;
    // Throws std::overflow_error outside 0..255, the byte that holds it.
    void set_onlineintervall(int code);

    // Item `index` (1-based) of the lists; std::out_of_range outside them.
    int aqid(int index) const;
    int sid(int index) const;
    float ymin(int index) const;
    void ymin_replace(int index, float value);
    float ymax(int index) const;
    void ymax_replace(int index, float value);

    // Appends a series; note ymax before ymin. A sensor number outside a byte is an overflow.
    void add(int aqid, int sid, float ymax, float ymin);
    // Removes item `position` + 1, the series in row `position` (counted from 1) of the
    // settings dialog's list.
    void remove(int position);
    // Items including the logbook series.
    int count() const;

    // Takes a record as record() gave it, with the series of its used slots.
    void init(const QString &record);
    QString record() const { return m_record; }

private:
    void checkIndex(int index) const;
    void rewriteSlots();

    QString m_record;
    QList<int> m_aqid;
    QList<int> m_sid;
    QList<float> m_ymin;
    QList<float> m_ymax;
};

// Interval unit codes: 0 year, 1 month, 2 day, 3 hour, 4 minute, 5 second.
// The code of a German unit name in any case ("Stunde" is 3); any other text gives 0.
int IntervalCodeOf(const QString &name);
// The date-arithmetic unit of a code ("yyyy", "m", "d", "h", "n", "s"); empty for others.
QString IntervalUnit(int code);
// `when` plus `number` units (a unit text of IntervalUnit), the number rounded half to even;
// an unknown unit leaves `when` unchanged.
QDateTime DateAdd(const QString &unit, double number, const QDateTime &when);
