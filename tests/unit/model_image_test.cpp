// The controller object's properties over captured images: positions, scaling, rounding,
// signed words, dates, times and the display remapping rules; the code tables behind them.

#include "link/clock.h"
#include "link/encodings.h"
#include "link/progress.h"
#include "model/ctarvelon.h"
#include "model/field_access.h"
#include "model/tables.h"
#include "support/answer_ok.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace
{

// Hex digits of the byte at a position.
QString byteAt(const QString &image, int pos)
{
    return image.mid(pos * 2, 2);
}

class ControllerImage : public ::testing::Test
{
protected:
    void SetUp() override
    {
        t.set_HydoProgramString(QString(2815 * 2, QLatin1Char('0')));
        t.setProgramAsRead(t.HydoProgramString());
        t.setKalibController(QString(336 * 2, QLatin1Char('0')));
        t.ProgrammingStatusChange = [this] { ++changes; };
    }
    void setSensorType(int sensor, int rawType)
    {
        t.setKalibController(HexBytePut(t.kalibController(), (sensor - 1) * 42, rawType));
    }

    VirtualClock clock;
    AnswerOk interaction;
    NoProgress progress;
    cTarvelon t{clock, progress, interaction};
    int changes = 0;
};

} // namespace

TEST_F(ControllerImage, scaledFieldsUseTheirSensorTypesFactor)
{
    t.set_aq_hd_ph(7.25f);
    EXPECT_EQ(t.HydoProgramString().mid(40, 4), QStringLiteral("02D5"));
    EXPECT_FLOAT_EQ(t.aq_hd_ph(), 7.25f);

    t.set_aq_ld_temp(-2.5f);
    EXPECT_EQ(t.HydoProgramString().mid(84, 4), QStringLiteral("FFE7"));
    EXPECT_FLOAT_EQ(t.aq_ld_temp(), -2.5f);

    t.set_aq_hd_temp(2.25f); // 22.5 rounds to the even neighbour
    EXPECT_EQ(HexWordGet(t.HydoProgramString(), 16), 22);
    EXPECT_EQ(changes, 3) << "every field change raises ProgrammingStatusChange once";
    EXPECT_TRUE(t.programming_is_dirty());
}

// Every finite single read is written back; no number is refused like a value too large.
TEST_F(ControllerImage, valuesThatDoNotFitAreRefusedBeforeTheImageChanges)
{
    const QString before = t.HydoProgramString();
    const QString calibration = t.kalibController();
    EXPECT_THROW(t.set_aq_AnzLeitwert(256), FieldOverflow);
    EXPECT_THROW(t.set_aq_Status(-1), FieldOverflow);
    EXPECT_THROW(t.set_aq_hd_ph(400.0f), FieldOverflow) << "40000 does not fit a signed word";
    EXPECT_THROW(t.Aktor(2).set_ValueOn(300), FieldOverflow);
    EXPECT_THROW(t.Regelung(1, 1).set_Regelart(256), FieldOverflow);
    EXPECT_THROW(t.Sensor(1).set_offset(std::numeric_limits<float>::quiet_NaN()), FieldOverflow);
    EXPECT_THROW(t.Sensor(1).set_offset(std::numeric_limits<float>::infinity()), FieldOverflow);
    EXPECT_EQ(t.HydoProgramString(), before);
    EXPECT_EQ(t.kalibController(), calibration);
    EXPECT_EQ(changes, 0);

    const float largest = std::numeric_limits<float>::max();
    t.Sensor(1).set_Steigung(largest);
    EXPECT_EQ(t.Sensor(1).Steigung(), largest);
    t.Regelung(1, 1).set_RW_ObererAlarm(-largest);
    EXPECT_EQ(t.Regelung(1, 1).RW_ObererAlarm(), -largest);
    EXPECT_EQ(setControllerField(t, QStringLiteral("Regelung(1,1).RW_UntererAlarm"),
                                 QStringLiteral("3.40282e+38")),
              Error());
}

TEST_F(ControllerImage, clockAndTimeFieldsRoundTrip)
{
    const QDateTime when(QDate(2026, 12, 4), QTime(23, 10, 5));
    t.set_aq_Datum_Uhrzeit(when);
    EXPECT_EQ(t.aq_Datum_Uhrzeit(), when);
    EXPECT_FLOAT_EQ(HexSingleGet(t.HydoProgramString(), 1), 83405.0f);
    EXPECT_FLOAT_EQ(HexSingleGet(t.HydoProgramString(), 5), DateToMjd(QDate(2026, 12, 4)));
    t.set_aq_SpeicherIntervall(QTime(0, 10, 0));
    EXPECT_EQ(t.aq_SpeicherIntervall(), QTime(0, 10, 0));
}

// A missing identifier is assigned where the database says one is free: proved against it.
TEST_F(ControllerImage, storedIdentifierIsKept)
{
    t.set_aq_id(1234);
    t.is_new = false;
    EXPECT_EQ(t.aq_id(), 1234);
    EXPECT_FALSE(t.is_new);
}

TEST_F(ControllerImage, versionAndEventRecordsDecode)
{
    QString version = HexSinglePut(QStringLiteral("0000000000"), 0, 2.2f);
    version = HexBytePut(version, 4, 5);
    t.setVersionData(version);
    EXPECT_FLOAT_EQ(t.aq_Version(), 2.2f);
    EXPECT_EQ(t.aq_SubRelease(), 5);

    setSensorType(1, 1); // pH
    setSensorType(2, 2); // temperature
    QString events(2 * (2 + 3 * 12), QLatin1Char('0'));
    events = HexWordPut(events, 0, 3);
    const int r2 = 14;
    events = HexBytePut(events, 2, 1);
    events = HexWordPut(events, 4, 712);
    events = HexBytePut(events, r2, 2);
    events = HexBytePut(events, r2 + 1, 3);
    events = HexWordPut(events, r2 + 2, -15);
    events = HexSinglePut(events, r2 + 4, 3661.0f);
    events = HexDatePut(events, r2 + 8, QDate(2026, 12, 4));
    t.setEventData(events);

    EXPECT_EQ(t.Event_Count(), 3);
    EXPECT_DOUBLE_EQ(t.Event_Wert(1), 7.12)
        << "pH words are hundredths, archived without single rounding";
    EXPECT_EQ(t.Event_Sensor_nr(2), 2);
    EXPECT_EQ(t.Event_RegelStatus(2), 3);
    EXPECT_DOUBLE_EQ(t.Event_Wert(2), -1.5) << "temperature words are tenths, signed";
    EXPECT_EQ(t.Event_Datum(2), QDateTime(QDate(2026, 12, 4), QTime(1, 1, 1)));
    EXPECT_EQ(t.Event_Sensor_nr(4), 0) << "a record past the end reads 0";
}

TEST_F(ControllerImage, sensorDisplayTypeFollowsTheControllersDisplaySettings)
{
    setSensorType(1, 6);
    t.set_aq_AnzSauerStoff(0);
    EXPECT_EQ(t.Sensor(1).sensortyp(), 9);
    EXPECT_EQ(t.Sensor(1).formatierter_Typ(), QStringLiteral("0²"));
    t.set_aq_AnzSauerStoff(1);
    EXPECT_EQ(t.Sensor(1).sensortyp(), 6);
    EXPECT_EQ(t.Sensor(1).WertFormat(), QStringLiteral("000"));

    setSensorType(2, 4);
    setSensorType(3, 5);
    t.set_aq_AnzLeitwert(2);
    EXPECT_EQ(t.Sensor(2).sensortyp(), 12);
    EXPECT_EQ(t.Sensor(3).sensortyp(), 5) << "µS conductivity is never remapped";
    t.set_aq_AnzLeitwert(1);
    EXPECT_EQ(t.Sensor(2).sensortyp(), 11);

    setSensorType(4, 3);
    t.set_aq_AnzRedox(1);
    EXPECT_EQ(t.Sensor(4).sensortyp(), 10);
    EXPECT_EQ(t.Sensor(4).WertFormat(), QStringLiteral("0"));
}

TEST_F(ControllerImage, sensorRecordsSitInTheCalibrationImageAndAreFoundByType)
{
    setSensorType(1, 2);
    setSensorType(3, 1);
    EXPECT_EQ(t.SensorAnzahl(), 2);
    bool found = false;
    EXPECT_EQ(t.First_sensor_of_type(1, found), &t.Sensor(3));
    EXPECT_TRUE(found);
    found = false;
    EXPECT_EQ(t.First_sensor_of_type(8, found), nullptr);
    EXPECT_FALSE(found);

    t.setKalibController(HexBytePut(t.kalibController(), 335, 7));
    EXPECT_EQ(t.Sensor(8).Wasserart(), 7) << "sensor 8's last byte is the image's last";

    // Sensor 3's slope, and nothing around it, changes.
    const QString before = t.kalibController();
    t.Sensor(3).set_Steigung(1.25f);
    const QString after = t.kalibController();
    EXPECT_EQ(after.mid((2 * 42 + 10) * 2, 8), QStringLiteral("3FA00000"));
    EXPECT_EQ(after.left((2 * 42 + 10) * 2), before.left((2 * 42 + 10) * 2));
    EXPECT_EQ(after.mid((2 * 42 + 14) * 2), before.mid((2 * 42 + 14) * 2));
    EXPECT_EQ(changes, 0) << "the calibration image is not the program";
}

TEST_F(ControllerImage, formattedValueUsesTheFormatUnitAndLocaleSeparator)
{
    setSensorType(1, 1);
    t.Sensor(1).set_CurVal(7.1f);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(t.Sensor(1).formatierter_wert(), QStringLiteral("07,10 pH"));
    QLocale::setDefault(QLocale::system());
}

TEST_F(ControllerImage, socketsAreSevenByteRecordsFrom2703)
{
    t.set_HydoProgramString(HexBytePut(t.HydoProgramString(), 2703, 2));
    t.set_HydoProgramString(HexBytePut(t.HydoProgramString(), 2814, 9));
    changes = 0;
    EXPECT_EQ(t.Aktor(1).DosenType(), 2);
    EXPECT_EQ(t.Aktor(1).formatierter_Typ(), QStringLiteral("Dimmbare Dose"));
    EXPECT_EQ(t.Aktor(16).Alarm(), 9);

    t.Aktor(2).set_ValueOn(0xAB);
    EXPECT_EQ(byteAt(t.HydoProgramString(), 2714), QStringLiteral("AB"));
    EXPECT_EQ(changes, 1);

    t.Aktor(3).set_ConnectedTo(2);
    EXPECT_EQ(t.Aktor(3).Formated_ConnectedTo(), QStringLiteral("Temperatur"));
}

TEST_F(ControllerImage, regulationRecordsAndLabels)
{
    t.Regelung(8, 4).set_DosenNr(16);
    EXPECT_EQ(byteAt(t.HydoProgramString(), 1253), QStringLiteral("10"));

    setSensorType(2, 2);
    t.Regelung(2, 1).set_RW_ObererAlarm(27.5f);
    EXPECT_EQ(t.Regelung(2, 1).Hoch_Text(), QStringLiteral("Heizen"));
    t.Regelung(2, 1).set_DosenNr(0);
    EXPECT_EQ(t.Regelung(2, 1).Aktor(), nullptr);
    t.Regelung(2, 1).set_DosenNr(5);
    EXPECT_EQ(t.Regelung(2, 1).Aktor(), &t.Aktor(5));
    EXPECT_THROW(t.Regelung(9, 1), std::out_of_range);
    EXPECT_THROW(t.Sensor(-1), std::out_of_range);
}

TEST_F(ControllerImage, readsPastOrOutsideTheImageGiveZeroAndWritesThereChangeNothing)
{
    const int before = t.HydoProgramString().size();
    for (int n = 11; n <= 16; ++n) {
        ASSERT_NE(t.aq_StroemungsSimulation(n), nullptr);
    }
    EXPECT_EQ(t.aq_StroemungsSimulation(16)->Byte25, 0);
    EXPECT_FALSE(t.aq_StroemungsSimulation(16)->Datum5.isValid());
    EXPECT_EQ(t.aq_StroemungsSimulation(0), nullptr);
    EXPECT_EQ(t.aq_StroemungsSimulation(17), nullptr);
    EXPECT_EQ(t.HydoProgramString().size(), before);

    // Short or garbled images never crash a property.
    t.set_HydoProgramString(QStringLiteral("ZZ01"));
    t.setKalibController(QStringLiteral("0"));
    EXPECT_EQ(t.aq_Status(), 0);
    EXPECT_EQ(t.aq_id_flag(), 0);
    EXPECT_FLOAT_EQ(t.aq_hd_ph(), 0.0f);
    EXPECT_EQ(t.Sensor(8).sensortyp(), 0);
    EXPECT_EQ(t.Aktor(16).Alarm(), 0);
    t.Aktor(16).set_Alarm(1);
    EXPECT_EQ(t.HydoProgramString(), QStringLiteral("ZZ01"))
        << "putters past the end change nothing";
}

TEST_F(ControllerImage, calibrationDifferenceIsSlopeOrOffset)
{
    t.setKalibDatabase(t.kalibController());
    EXPECT_FALSE(t.kalib_is_dirty());
    t.Sensor(4).set_CurVal(12.0f);
    EXPECT_FALSE(t.kalib_is_dirty()) << "current values are not calibration";
    t.Sensor(4).set_offset(0.5f);
    EXPECT_TRUE(t.kalib_is_dirty());

    // An unset record holds FFFFFFFF, no number: the same bits on both sides are no change.
    t.setKalibController(HexWordPut(HexWordPut(t.kalibController(), 10, -1), 12, -1));
    t.setKalibDatabase(t.kalibController());
    EXPECT_TRUE(std::isnan(t.Sensor(1).Steigung()));
    EXPECT_FALSE(t.kalib_is_dirty());
}

TEST_F(ControllerImage, fieldsAreSetByNameOnlyWhenNameAndValueFit)
{
    EXPECT_EQ(setControllerField(t, QStringLiteral("aq_hd_ph"), QStringLiteral("7.25")), Error());
    EXPECT_EQ(controllerFieldText(t, QStringLiteral("aq_hd_ph")), QStringLiteral("7.25"));
    EXPECT_EQ(setControllerField(t, QStringLiteral("Regelung(2,1).RW_ObererAlarm"),
                                 QStringLiteral("27.5")),
              Error());
    EXPECT_EQ(controllerFieldText(t, QStringLiteral("Regelung(2,1).RW_ObererAlarm")),
              QStringLiteral("27.5"));

    const QString before = t.HydoProgramString();
    for (const auto &[name, value] :
         {std::pair{"Regelung(9,1).Totzeit", "1"}, {"aq_SpeicherIntervall", "25:00:00"}}) {
        const Error error = setControllerField(t, QLatin1String(name), QLatin1String(value));
        EXPECT_EQ(error.code, ErrorCode::Other) << name;
        EXPECT_TRUE(error.detail.contains(QLatin1String(name)))
            << name << ": " << qPrintable(error.detail);
    }
    EXPECT_EQ(t.HydoProgramString(), before);
}

TEST(Tables, GroupsJoinAlternativeDisplaysOfOneQuantity)
{
    EXPECT_EQ(tables::sensorGroup(10), tables::sensorGroup(3)) << "redox mV and rH";
    EXPECT_EQ(tables::sensorGroup(13), tables::sensorGroup(2)) << "temperature C and F";
    for (int t : {5, 11, 12})
        EXPECT_EQ(tables::sensorGroup(t), tables::sensorGroup(4)) << t;
    EXPECT_NE(tables::sensorGroup(6), tables::sensorGroup(9));
}

TEST(Tables, CodesBeyondTheTablesGiveEmptyTexts)
{
    for (int code : {-1, 14, 255}) {
        EXPECT_EQ(tables::sensorTypeName(code), QString()) << code;
        EXPECT_EQ(tables::valueFormat(code), QString()) << code;
        EXPECT_EQ(tables::raiseText(code), QString()) << code;
        EXPECT_EQ(tables::offText(code), QString()) << code;
        EXPECT_EQ(tables::valueWidth(code), 0) << code;
        EXPECT_EQ(tables::scaleFactor(code), 10) << code;
        EXPECT_EQ(tables::sensorGroup(code), -1) << code;
    }
    EXPECT_EQ(tables::socketKindName(4), QString());
    EXPECT_EQ(tables::socketKindName(-3), QString());
}

TEST(Tables, ValuesAreFormattedWithPatternAndLocaleSeparator)
{
    const auto format = [](double value, const char *pattern, char separator = '.') {
        return tables::formatValue(value, QString::fromLatin1(pattern), QLatin1Char(separator));
    };
    EXPECT_EQ(format(7.1, "00.00", ','), "07,10");
    EXPECT_EQ(format(25.06, "00.0"), "25.1");
    EXPECT_EQ(format(5.0, "000"), "005");
    EXPECT_EQ(format(1013.4, "0000"), "1013");
    EXPECT_EQ(format(-1.5, "00.0"), "-01.5");
    EXPECT_EQ(format(12345, "0"), "12345");
}
