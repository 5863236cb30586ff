// The controller's program image as it arrives from the device, held by the controller
// object and read through its getters and those of its regulations, sockets, interval
// controls and flow entries. Checked beyond "no crash": reading never changes the image;
// each field reads as 0 when not wholly there or not hex digits, and written back through
// its putter keeps the image's length and its other fields (image_check.h); a field's
// text, set by name, is taken and shows the same text again; flow entries past the
// image's end read 0 and no date.
//
// Every field is read; since each write copies the whole image, those written back are an
// eighth of the controller's, one regulation's and one socket's, chosen by the input's
// byte sum.

#include "image_check.h"
#include "link/clock.h"
#include "link/encodings.h"
#include "link/progress.h"
#include "model/ctarvelon.h"
#include "model/field_access.h"
#include "support/answer_ok.h"

namespace
{

// Sensors of every display type the regulations meet, and one unknown.
QString calibrationImage()
{
    const int types[cTarvelon::kSensors] = {1, 2, 3, 4, 6, 13, 200, 0};
    QString k(cTarvelon::kCalibrationBytes * 2, QLatin1Char('0'));
    for (int n = 1; n <= cTarvelon::kSensors; ++n)
        k = HexBytePut(k, (n - 1) * cHydoSensor::kRecordSize, types[n - 1]);
    return k;
}

void readRegulation(cHydoRegelung &r)
{
#define READ_FIELD(name, pos, kind, scale) (void)r.name();
    OSTRACOM_REGELUNG_FIELDS(READ_FIELD)
#undef READ_FIELD
    (void)r.Aus_Text();
    (void)r.Hoch_Text();
    (void)r.runter_Text();
    (void)r.SoTag_Text();
    (void)r.SoNacht_Text();
    const int socket = r.DosenNr();
    cHydoAktor *a = r.Aktor();
    FUZZ_CHECK((a != nullptr) == (socket >= 1 && socket <= cTarvelon::kSockets) &&
                   (!a || a->DosenNummer() == socket),
               "a regulation drives the socket it names, or none");
}

void readSocket(cHydoAktor &a)
{
#define READ_FIELD(name, pos, kind, scale) (void)a.name();
    OSTRACOM_AKTOR_FIELDS(READ_FIELD)
#undef READ_FIELD
    (void)a.formatierter_Typ();
    (void)a.Formated_ConnectedTo();
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
    static int changes = 0;
    static const bool once = [] {
        t.setKalibController(calibrationImage());
        t.ProgrammingStatusChange = [] { ++changes; };
        return true;
    }();
    (void)once;
    const QByteArray bytes = bytesOf(data, size);
    const QString image = QString::fromLatin1(bytes);
    const int sum = Sum8(bytes);
    t.set_HydoProgramString(image);
    changes = 0;

    // ---- everything read
    static const QStringList names = controllerFieldNames();
    for (const QString &name : names) {
        if (!name.startsWith(QLatin1String("Regelung(S,R).")))
            FUZZ_CHECK(controllerFieldText(t, name).has_value(),
                       "every controller field has a text");
    }
    (void)t.aq_Datum_Uhrzeit();
    (void)t.aq_id_raw();
    for (int s = 1; s <= cTarvelon::kSensors; ++s)
        for (int r = 1; r <= cTarvelon::kRegulationsPerSensor; ++r)
            readRegulation(t.Regelung(s, r));
    for (int n = 1; n <= cTarvelon::kSockets; ++n)
        readSocket(t.Aktor(n));
    for (int n = 1; n <= cTarvelon::kIntervalControls; ++n)
        FUZZ_CHECK(!t.IntervallSteuerung(n).name().isEmpty(), "an interval control has a name");
    for (int n = 1; n <= cTarvelon::kFlowEntries; ++n) {
        const cHydoStroemungsSimulation *e = t.aq_StroemungsSimulation(n);
        FUZZ_CHECK(e && e->nummer() == n, "each flow entry is there");
        const int base = cHydoStroemungsSimulation::kTableStart +
                         (n - 1) * cHydoStroemungsSimulation::kRecordSize;
        if (base * 2 >= image.size())
            FUZZ_CHECK(e->Byte0 == 0 && !e->Datum1.isValid() && e->Byte25 == 0,
                       "a flow entry past the image's end reads 0 and no date");
    }
    FUZZ_CHECK(!t.aq_StroemungsSimulation(0) && !t.aq_StroemungsSimulation(17),
               "there are sixteen flow entries");
    bool found = false;
    (void)t.First_sensor_of_type(1, found);
    FUZZ_CHECK(t.SensorAnzahl() == 7, "the calibration image names seven sensors");
    FUZZ_CHECK(t.HydoProgramString() == image && changes == 0, "reading changes nothing");

    // ---- written back
    const int eighth = sum % 8;
    int index = 0;
    const auto imageOf = [&] { return t.HydoProgramString(); };
    const auto restore = [&](const QString &i) { t.set_HydoProgramString(i); };
#define CHECK_CONTROLLER_FIELD(name, pos, kind, scale)                                             \
    if (index++ % 8 == eighth)                                                                     \
        checkField<FieldKind::kind>(                                                               \
            imageOf, restore, pos, scale, [&] { return t.name(); },                                \
            [&](const FieldValue<FieldKind::kind> &v) { t.set_##name(v); });
    OSTRACOM_TARVELON_FIELDS(CHECK_CONTROLLER_FIELD)
#undef CHECK_CONTROLLER_FIELD

    cHydoRegelung &r = t.Regelung(1 + sum / 8 % cTarvelon::kSensors,
                                  1 + sum / 64 % cTarvelon::kRegulationsPerSensor);
#define CHECK_REGULATION_FIELD(name, pos, kind, scale)                                             \
    checkField<FieldKind::kind>(                                                                   \
        imageOf, restore, r.recordBase() + (pos), scale, [&] { return r.name(); },                 \
        [&](const FieldValue<FieldKind::kind> &v) { r.set_##name(v); });
    OSTRACOM_REGELUNG_FIELDS(CHECK_REGULATION_FIELD)
#undef CHECK_REGULATION_FIELD

    cHydoAktor &a = t.Aktor(1 + (sum + int(size)) % cTarvelon::kSockets);
#define CHECK_SOCKET_FIELD(name, pos, kind, scale)                                                 \
    checkField<FieldKind::kind>(                                                                   \
        imageOf, restore, a.recordBase() + (pos), scale, [&] { return a.name(); },                 \
        [&](const FieldValue<FieldKind::kind> &v) { a.set_##name(v); });
    OSTRACOM_AKTOR_FIELDS(CHECK_SOCKET_FIELD)
#undef CHECK_SOCKET_FIELD

    const QDateTime clockReading = t.aq_Datum_Uhrzeit();
    t.set_aq_Datum_Uhrzeit(clockReading);
    FUZZ_CHECK(t.HydoProgramString().size() == image.size() && t.aq_Datum_Uhrzeit() == clockReading,
               "the controller's clock reading is written back as read");
    t.set_HydoProgramString(image);

    // A field's text, typed back by name, is taken and shows the same again; only a single
    // that is no number or a date beyond four-digit years is refused.
    const QString regulation =
        QStringLiteral("Regelung(%1,%2).").arg(r.sensorNumber()).arg(r.regulationNumber());
    index = 0;
    for (QString name : names) {
        if (name == QLatin1String("aq_id") || index++ % 8 != eighth)
            continue;
        name.replace(QLatin1String("Regelung(S,R)."), regulation);
        if (name.endsWith(QLatin1String("Warnung")) || name.endsWith(QLatin1String("beschreibung")))
            continue; // kept by the database, not in the image
        const QString text = *controllerFieldText(t, name);
        if (const Error refused = setControllerField(t, name, text); !refused.ok()) {
            FUZZ_CHECK(!refused.detail.isEmpty(), "a refused text says why");
            const QDate date = name == QLatin1String("aq_Datum_Uhrzeit")
                                   ? t.aq_Datum_Uhrzeit().date()
                               : name == QLatin1String("aq_FlashDatum") ? t.aq_FlashDatum()
                                                                        : QDate();
            FUZZ_CHECK(text.contains(QLatin1String("nan")) || text.contains(QLatin1String("inf")) ||
                           (date.isValid() && (date.year() < 1 || date.year() > 9999)),
                       "only a single that is no number or a date beyond the year 9999 is "
                       "refused");
            FUZZ_CHECK(t.HydoProgramString() == image, "a refused text changes nothing");
            continue;
        }
        FUZZ_CHECK(t.HydoProgramString().size() == image.size(),
                   "setting a field keeps the length");
        FUZZ_CHECK(controllerFieldText(t, name) == text, "a field's text set again reads the same");
        t.set_HydoProgramString(image);
    }
    return 0;
}
