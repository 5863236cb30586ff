// The stored measurement records of a download: the input is the payload of a "DO" answer,
// which the scripted controller frames and sends, and the controller object downloads,
// checks and decodes it. Checked beyond "no crash": only whole records are taken and a
// count that promises more is reported; every record taken as readable decodes to values
// that encode back to its fields, with its clock reading within half a second of the
// seconds it holds; unreadable records are reported and never reach a sensor; each sensor
// ends with its newest readable record.

#include "fuzz_check.h"
#include "link/encodings.h"
#include "link/progress.h"
#include "model/ctarvelon.h"
#include "service/measurement_download.h"
#include "support/answer_ok.h"
#include "support/fake_transport.h"

#include <bit>
#include <cmath>
#include <memory>

namespace
{

const QByteArray kMarkers[] = {"Stored Data", "End Data", "CheckSum"};
constexpr int kCountChars = 4;
constexpr int kRecordChars = 24;
constexpr int kId = 4711;

// Sensor 1 measures pH (values in hundredths), the others tenths: temperature, redox,
// conductivity, oxygen, Fahrenheit, an unknown type and none.
const int kSensorTypes[cTarvelon::kSensors] = {1, 2, 3, 4, 6, 13, 200, 0};
int scaleOf(int sensor)
{
    return sensor == 1 ? 100 : 10;
}

QByteArray calibrationImage()
{
    QString k(672, QLatin1Char('0'));
    for (int n = 1; n <= cTarvelon::kSensors; ++n)
        k = HexBytePut(k, (n - 1) * 42, kSensorTypes[n - 1]);
    return k.toLatin1();
}

// One controller, connected once; each input is one more download from it.
struct Controller {
    Controller()
    {
        QString program(5630, QLatin1Char('0'));
        program = HexWordPut(program, 13, kId);
        fake.controller.setPayload("DX", "400CCCCD05"); // firmware 2.20 R5
        fake.controller.setPayload("DN", program.toLatin1());
        fake.controller.setPayload("DK", calibrationImage());
        fake.controller.setPayload("DL", "0001");
        const Outcome outcome = t.connect(false, "ctl.example", "4001", nullptr, fake.link.get());
        FUZZ_CHECK(outcome.ok(), "the scripted controller connects");
    }
    FakeLink fake;
    NoProgress progress;
    AnswerOk interaction;
    cTarvelon t{fake.clock, progress, interaction};
    MeasurementDownload download{t, nullptr};
};

int hexField(const QByteArray &record, int from, int digits)
{
    return int(record.mid(from, digits).toUInt(nullptr, 16));
}

float singleField(const QByteArray &record, int from)
{
    return std::bit_cast<float>(quint32(record.mid(from, 8).toUInt(nullptr, 16)));
}

QString recordOf(int sensor, int status, int word, const QDateTime &when)
{
    QString r(kRecordChars, QLatin1Char('0'));
    r = HexBytePut(r, 0, sensor);
    r = HexBytePut(r, 1, status);
    r = HexWordPut(r, 2, word);
    r = HexTimePut(r, 4, when.time());
    return HexDatePut(r, 8, when.date());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzProcessSetup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Controller *c = new Controller;
    cTarvelon &t = c->t;
    const QByteArray payload = bytesOf(data, size);
    c->fake.controller.clearHistory();
    c->fake.controller.setPayload("DO", payload);
    t.setKalibController(QString::fromLatin1(calibrationImage()));

    const Error error = c->download.get_comp();
    const auto &report = c->download.lastDownload();

    bool framable = true;
    for (const QByteArray &marker : kMarkers)
        framable = framable && !payload.contains(marker);
    if (!framable) {
        // The answer cannot be cut as sent; whatever happens, nothing may be made of it.
        if (!error.ok() &&
            (error.code == ErrorCode::Communication || error.code == ErrorCode::Timeout))
            FUZZ_CHECK(report.received == 0, "a failed read archives nothing");
        return 0;
    }
    FUZZ_CHECK(t.eventData() == QString::fromLatin1(payload), "the payload arrives as sent");
    FUZZ_CHECK(!report.acknowledged, "nothing is acknowledged without an archive");

    const int announced = t.Event_Count();
    const int received = report.received;
    if (announced < 1) {
        FUZZ_CHECK(error.ok() && received == 0, "a download without records does nothing");
        return 0;
    }
    FUZZ_CHECK(received >= 0 && received <= announced, "no more records than announced");
    FUZZ_CHECK(kCountChars + qsizetype(received) * kRecordChars <= payload.size(),
               "only records that arrived whole are taken");
    FUZZ_CHECK(received == announced ||
                   kCountChars + qsizetype(received + 1) * kRecordChars > payload.size(),
               "every whole record announced is taken");

    bool anyProblem = false;
    int newest[cTarvelon::kSensors + 1] = {};
    for (int i = 1; i <= received; ++i) {
        const QByteArray record = payload.mid(kCountChars + (i - 1) * kRecordChars, kRecordChars);
        FUZZ_CHECK(t.Event_RecordText(i).toLatin1() == record, "a record is kept as received");
        if (!t.Event_Problem(i).isEmpty()) {
            anyProblem = true;
            continue;
        }
        for (const char ch : record)
            FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(ch)),
                       "a readable record holds hex digits only");

        const int sensor = t.Event_Sensor_nr(i);
        const int status = t.Event_RegelStatus(i);
        const QDateTime when = t.Event_Datum(i);
        FUZZ_CHECK(sensor == hexField(record, 0, 2) && status == hexField(record, 2, 2),
                   "sensor and status are the record's first two bytes");
        const int word = qint16(quint16(hexField(record, 4, 4)));
        const int scale = sensor >= 1 && sensor <= cTarvelon::kSensors ? scaleOf(sensor) : 10;
        FUZZ_CHECK(t.Event_Wert(i) == double(word) / scale,
                   "the value is the stored word over its sensor's scale");

        const double seconds = singleField(record, 8);
        const double mjd = singleField(record, 16);
        FUZZ_CHECK(when.isValid(), "a readable record has a valid time");
        FUZZ_CHECK(std::fabs(when.time().msecsSinceStartOfDay() / 1000.0 - seconds) <= 0.5,
                   "the clock reading is the stored seconds, rounded");
        FUZZ_CHECK(when.date() == QDate(1858, 11, 17).addDays(qint64(mjd)),
                   "the date is the stored day number");
        FUZZ_CHECK(t.Event_DatumText(i) == when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                   "the archived time text is the decoded time");

        // Encoding the decoded fields gives the record back, up to the fraction of a second
        // the decoder rounds away and the sign of a zero.
        const QString again =
            recordOf(sensor, status, int(std::lround(t.Event_Wert(i) * scale)), when);
        const bool exact =
            seconds == std::floor(seconds) && !std::signbit(seconds) && !std::signbit(mjd);
        if (exact)
            FUZZ_CHECK(again == QString::fromLatin1(record).toUpper(),
                       "a record re-encodes to its own digits");
        const float secondsAgain = HexSingleGet(again, 4);
        FUZZ_CHECK(HexTimeGet(again, 4) == when.time() &&
                       HexDateGet(again, 8).date() == when.date() &&
                       secondsAgain == float(when.time().msecsSinceStartOfDay() / 1000),
                   "decoding an encoded record is stable");
        if (sensor >= 1 && sensor <= cTarvelon::kSensors)
            newest[sensor] = i;
    }

    if (received < announced)
        FUZZ_CHECK(error.code == ErrorCode::IncompleteRecords, "missing records are reported");
    else if (anyProblem)
        FUZZ_CHECK(error.code == ErrorCode::RecordsRejected, "unreadable records are reported");
    else
        FUZZ_CHECK(error.ok(), "a clean download succeeds");

    for (int n = 1; n <= cTarvelon::kSensors; ++n) {
        if (newest[n] == 0)
            continue;
        FUZZ_CHECK(t.Sensor(n).CurVal() == float(t.Event_Wert(newest[n])) &&
                       t.Sensor(n).datum() == t.Event_Datum(newest[n]),
                   "each sensor ends with its newest readable record");
    }
    return 0;
}
