#pragma once

// The controller fields of the program image: name, byte position, encoding and (for
// scaled words) the sensor type whose scale factor applies. One list drives the typed
// accessors of cTarvelon and the by-name access used by ostracom-cli.
//
//   X(name, position, kind, scaleType)
//
// Kinds: Byte, Word (signed 16 bit), Scaled (word holding value x scale), Single, Time
// (seconds since midnight as a single), Date (days since 17.11.1858 as a single).
#define OSTRACOM_TARVELON_FIELDS(X)                                                                \
    X(aq_Status, 0, Byte, 0)                                                                       \
    X(aq_FlashDatum, 9, Date, 0)                                                                   \
    X(aq_id_flag, 15, Byte, 0)                                                                     \
    X(aq_hd_temp, 16, Scaled, 2)                                                                   \
    X(aq_hd_tempf, 18, Scaled, 13)                                                                 \
    X(aq_hd_ph, 20, Scaled, 1)                                                                     \
    X(aq_hd_rx, 22, Scaled, 3)                                                                     \
    X(aq_hd_rxrh, 24, Scaled, 10)                                                                  \
    X(aq_hd_lws, 26, Scaled, 5)                                                                    \
    X(aq_hd_lwm, 28, Scaled, 4)                                                                    \
    X(aq_hd_lwsa, 30, Scaled, 11)                                                                  \
    X(aq_hd_lwdensity, 32, Scaled, 12)                                                             \
    X(aq_hd_o2, 34, Scaled, 6)                                                                     \
    X(aq_hd_o2kon, 36, Scaled, 9)                                                                  \
    X(aq_hd_press, 38, Scaled, 8)                                                                  \
    X(aq_hd_pe, 40, Scaled, 7)                                                                     \
    X(aq_ld_temp, 42, Scaled, 2)                                                                   \
    X(aq_ld_tempf, 44, Scaled, 13)                                                                 \
    X(aq_ld_ph, 46, Scaled, 1)                                                                     \
    X(aq_ld_rx, 48, Scaled, 3)                                                                     \
    X(aq_ld_rxrh, 50, Scaled, 10)                                                                  \
    X(aq_ld_lws, 52, Scaled, 5)                                                                    \
    X(aq_ld_lwm, 54, Scaled, 4)                                                                    \
    X(aq_ld_lwsa, 56, Scaled, 11)                                                                  \
    X(aq_ld_lwdensity, 58, Scaled, 12)                                                             \
    X(aq_ld_o2, 60, Scaled, 6)                                                                     \
    X(aq_ld_o2kon, 62, Scaled, 9)                                                                  \
    X(aq_ld_press, 64, Scaled, 8)                                                                  \
    X(aq_ld_pe, 66, Scaled, 7)                                                                     \
    X(aq_TagDerWoche, 68, Byte, 0)                                                                 \
    X(aq_AnzeigeIntervallExt, 69, Byte, 0)                                                         \
    X(aq_AnzeigeIntervallInt, 70, Byte, 0)                                                         \
    X(aq_SpeicherIntervall, 71, Time, 0)                                                           \
    X(aq_NextStorage, 75, Single, 0)                                                               \
    X(aq_SpeicherPlatz, 79, Word, 0)                                                               \
    X(aq_Breitengrad, 81, Single, 0)                                                               \
    X(aq_Laengengrad, 85, Single, 0)                                                               \
    X(aq_TimeZone, 89, Byte, 0)                                                                    \
    X(aq_AkustAlarm, 90, Byte, 0)                                                                  \
    X(aq_ExternerAlarm, 91, Byte, 0)                                                               \
    X(aq_SpeicherLoeschen, 92, Byte, 0)                                                            \
    X(aq_TrendZeitRaum, 93, Time, 0)                                                               \
    X(aq_ProgStufe, 97, Byte, 0)                                                                   \
    X(aq_AnzLeitwert, 98, Byte, 0)                                                                 \
    X(aq_AnzRedox, 99, Byte, 0)                                                                    \
    X(aq_AnzSauerStoff, 100, Byte, 0)                                                              \
    X(aq_anzTemperatur, 101, Byte, 0)

// Fields of one regulation record, relative to its base.
#define OSTRACOM_REGELUNG_FIELDS(X)                                                                \
    X(Regelart, 1, Byte, 0)                                                                        \
    X(Totzeit, 2, Byte, 0)                                                                         \
    X(RW_SommerTag, 3, Single, 0)                                                                  \
    X(RW_SommerNacht, 7, Single, 0)                                                                \
    X(RW_WinterTag, 11, Single, 0)                                                                 \
    X(RW_WinterNacht, 15, Single, 0)                                                               \
    X(RW_UntererAlarm, 19, Single, 0)                                                              \
    X(RW_ObererAlarm, 23, Single, 0)                                                               \
    X(PegelAlarmzeit, 27, Time, 0)                                                                 \
    X(PegelCounter, 31, Time, 0)                                                                   \
    X(DosenNr, 35, Byte, 0)

// Fields of one socket record, relative to its base.
#define OSTRACOM_AKTOR_FIELDS(X)                                                                   \
    X(DosenType, 0, Byte, 0)                                                                       \
    X(ConnectedTo, 1, Byte, 0)                                                                     \
    X(CurValue, 2, Byte, 0)                                                                        \
    X(OldValue, 3, Byte, 0)                                                                        \
    X(ValueOn, 4, Byte, 0)                                                                         \
    X(ValueOff, 5, Byte, 0)                                                                        \
    X(Alarm, 6, Byte, 0)

// Fields of one sensor record of the calibration image, relative to its base.
#define OSTRACOM_SENSOR_FIELDS(X)                                                                  \
    X(kalib, 1, Byte, 0)                                                                           \
    X(CurVal, 2, Single, 0)                                                                        \
    X(CurAlt1Val, 6, Single, 0)                                                                    \
    X(Steigung, 10, Single, 0)                                                                     \
    X(offset, 14, Single, 0)                                                                       \
    X(TempPuffer, 18, Single, 0)                                                                   \
    X(TempBecken, 22, Single, 0)                                                                   \
    X(pHBecken, 26, Single, 0)                                                                     \
    X(PressureBecken, 30, Single, 0)                                                               \
    X(Trend, 34, Single, 0)                                                                        \
    X(Alarm, 38, Byte, 0)                                                                          \
    X(KompSensor1, 39, Byte, 0)                                                                    \
    X(KompSensor2, 40, Byte, 0)                                                                    \
    X(Wasserart, 41, Byte, 0)
