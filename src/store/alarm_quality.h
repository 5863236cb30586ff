#pragma once

// How a regulation's limit crossings are filtered before they count and are mailed. All
// zero is the plain behaviour: every crossing and every return counts and is mailed at once.
struct AlarmQuality {
    double hysteresis = 0; // in the unit of the regulation's sensor
    int holdSeconds = 0;   // a crossing counts once it lasted this long
    int repeatSeconds = 0; // mails of one regulation at most this often

    bool isPlain() const { return hysteresis == 0 && holdSeconds == 0 && repeatSeconds == 0; }
    bool operator==(const AlarmQuality &) const = default;
};

// Upper bounds the program accepts, so that a typing slip cannot silence a regulation
// for years.
inline constexpr int kAlarmQualityMaxSeconds = 7 * 24 * 3600;
inline constexpr double kAlarmQualityMaxHysteresis = 100000;
