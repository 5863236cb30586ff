// The controller's calibration image as it arrives from the device, held by the controller
// object and read through the sensors' getters. Checked beyond "no crash": reading changes
// nothing; a sensor record's fields read as 0 when not wholly there or not hex digits, and
// written back through their putters keep the image's length and its other fields
// (image_check.h); the type is the record's first byte, shown as the program's display settings
// choose; the formatted value is short and reads back to the value within the format's last
// decimal; a database copy equal to the controller's is never taken for a change, one with another
// slope always is.
//
// The display settings, and the sensor whose fields are written back (each write copies the
// image), come from the input's byte sum, so that each is met.

#include "image_check.h"
#include "link/clock.h"
#include "link/encodings.h"
#include "link/progress.h"
#include "model/ctarvelon.h"
#include "model/tables.h"
#include "support/answer_ok.h"

#include <QLocale>

#include <cmath>

namespace
{

// How the sensor's value is shown, as the formats ("00.00") say it.
void checkFormattedValue(const cHydoSensor &s)
{
    const QString unit = QStringLiteral("U");
    const QString shown = s.formatierter_wert(unit);
    FUZZ_CHECK(shown.endsWith(QStringLiteral(" U")) && shown.size() <= 64,
               "the formatted value is a short number and its unit");
    QString number = shown.chopped(2);
    number.replace(QLocale().decimalPoint(), QStringLiteral("."));
    bool ok = false;
    const double read = number.toDouble(&ok);
    FUZZ_CHECK(ok, "the formatted value is a number");
    const double value = std::isfinite(s.CurVal()) ? double(s.CurVal()) : 0.0;
    const QString format = s.WertFormat();
    const qsizetype point = format.indexOf(QLatin1Char('.'));
    const int decimals = point < 0 ? 0 : int(format.size() - point - 1);
    const double step = format.isEmpty() ? std::fabs(value) * 1e-5 : std::pow(10.0, -decimals);
    FUZZ_CHECK(std::fabs(read - value) <= step / 2 + std::fabs(value) * 1e-15,
               "the formatted value reads back within its last decimal");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzProcessSetup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static VirtualClock clock;
    static NoProgress progress;
    static AnswerOk interaction;
    static cTarvelon t(clock, progress, interaction);
    const QByteArray bytes = bytesOf(data, size);
    const QString image = QString::fromLatin1(bytes);
    const int sum = Sum8(bytes);

    // Conductivity shown three ways, redox two, oxygen two.
    QString program(2 * 102, QLatin1Char('0'));
    program = HexBytePut(program, 98, sum % 3);
    program = HexBytePut(program, 99, sum / 3 % 2);
    program = HexBytePut(program, 100, sum / 6 % 2);
    t.set_HydoProgramString(program);
    t.setKalibController(image);
    t.setKalibDatabase(image);

    const auto imageOf = [&] { return t.kalibController(); };
    const auto restore = [&](const QString &i) { t.setKalibController(i); };
    for (int n = 1; n <= cTarvelon::kSensors; ++n) {
        cHydoSensor &s = t.Sensor(n);
        const int base = (n - 1) * cHydoSensor::kRecordSize;
        FUZZ_CHECK(s.recordBase() == base, "sensor records follow each other");
        FUZZ_CHECK(s.rawType() == HexByteGet(image, base), "the type is the record's first byte");
        const int raw = s.rawType();
        const int shown = s.sensortyp();
        FUZZ_CHECK(shown == raw || (raw == 6 && shown == 9) || (raw == 3 && shown == 10) ||
                       (raw == 4 && (shown == 11 || shown == 12)),
                   "the display settings remap oxygen, redox and conductivity only");
        FUZZ_CHECK(tables::sensorType(shown) || s.formatierter_Typ().isEmpty(),
                   "an unknown type has no name");
        (void)s.MesswertEinheit();
        (void)s.WertMaske();
        (void)s.TrendWertFormat();
        (void)s.WertWidth();
        checkFormattedValue(s);
#define READ_FIELD(name, pos, kind, scale) (void)s.name();
        OSTRACOM_SENSOR_FIELDS(READ_FIELD)
#undef READ_FIELD
    }
    FUZZ_CHECK(t.kalibController() == image, "reading leaves the image as it was");

    cHydoSensor &s = t.Sensor(1 + sum / 7 % cTarvelon::kSensors);
#define CHECK_SENSOR_FIELD(name, pos, kind, scale)                                                 \
    checkField<FieldKind::kind>(                                                                   \
        imageOf, restore, s.recordBase() + (pos), scale, [&] { return s.name(); },                 \
        [&](const FieldValue<FieldKind::kind> &v) { s.set_##name(v); });
    OSTRACOM_SENSOR_FIELDS(CHECK_SENSOR_FIELD)
#undef CHECK_SENSOR_FIELD
    FUZZ_CHECK(t.kalibController() == image, "writing back leaves the image as it was");

    FUZZ_CHECK(!t.kalib_is_dirty(), "an unchanged calibration is no change");
    const int changed = 1 + sum % cTarvelon::kSensors;
    const int slopePos = (changed - 1) * cHydoSensor::kRecordSize + 10;
    if ((slopePos + 4) * 2 <= image.size()) {
        const float slope = t.Sensor(changed).Steigung();
        const float other = std::isfinite(slope) && slope != 0 ? -slope : 1.0f;
        t.setKalibDatabase(HexSinglePut(image, slopePos, other));
        FUZZ_CHECK(t.kalib_is_dirty(), "another slope is a change");
    }
    return 0;
}
