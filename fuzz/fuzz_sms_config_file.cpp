// The SMS module's configuration file reader, on arbitrary file texts. Checked beyond "no
// crash": a refused file leaves the configuration as it was; whatever the reader accepts,
// the writer can save, and reading what it saves gives the same configuration and the same
// text again; the record lines of an accepted file say what was read, field by field, as
// the writer would put it; the reserved numbers always come out cleared.

#include "fuzz_check.h"
#include "sms/hydo_sms_modul.h"

namespace
{

// A configuration that differs from a new one everywhere, so that any change shows.
cHydoSmsModul filled()
{
    cHydoSmsModul m;
    for (int n = 1; n <= cHydoSmsModul::kConfigurations; ++n) {
        m.set_ee_mobile_number(n, "+49170" + QByteArray::number(n));
        m.set_ee_service_number(n, "+49172");
        m.set_ee_cause_name(n, "Alarm " + QByteArray::number(n));
        m.set_ee_cause(n, quint8(n % 11));
        m.set_ee_cause_ext(n, quint8(n % 4));
        m.set_ee_time(n, qint16(n * 37));
    }
    return m;
}

// The record lines of a file text, line ends and the closing code 3 taken off.
QList<QByteArray> recordLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    const qsizetype first = text.indexOf('\x03');
    for (QByteArray line : text.mid(first + 1).split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains('"'))
            lines << line;
    }
    return lines;
}

QList<QByteArray> quoted(const QByteArray &line)
{
    QList<QByteArray> fields;
    const QList<QByteArray> parts = line.split('"');
    for (qsizetype i = 1; i < parts.size(); i += 2)
        fields << parts[i];
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzProcessSetup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray text = bytesOf(data, size);
    static const cHydoSmsModul before = filled();
    cHydoSmsModul record = before;
    const Error error = parseSmsConfigFile(text, QStringLiteral("fuzz.cfg"), &record);
    if (!error.ok()) {
        FUZZ_CHECK(error.code == ErrorCode::SmsFileInvalid ||
                       error.code == ErrorCode::SmsRecordIncomplete,
                   "a refused file says why");
        FUZZ_CHECK(error.extra.toInt() >= 1, "a refused file names the line");
        FUZZ_CHECK(record.HydoSmsModulString() == before.HydoSmsModulString(),
                   "a refused file changes nothing");
        return 0;
    }

    for (const int n : {1, 9, 13, 17, 21}) {
        FUZZ_CHECK(cHydoSmsModul::textOf(record.ee_mobile_number(n)).isEmpty() &&
                       cHydoSmsModul::textOf(record.ee_service_number(n)).isEmpty() &&
                       cHydoSmsModul::textOf(record.ee_cause_name(n)).isEmpty() &&
                       record.ee_cause(n) == 0 && record.ee_cause_ext(n) == 0 &&
                       record.ee_time(n) == 0,
                   "reserved configurations come out cleared");
    }
    FUZZ_CHECK(smsUnwritableConfiguration(record) == 0, "what was read can be saved");

    const int port = 7;
    const QByteArray saved = smsConfigFileText(record, port);
    cHydoSmsModul again;
    FUZZ_CHECK(parseSmsConfigFile(saved, QStringLiteral("again.cfg"), &again).ok(),
               "a saved file reads back");
    FUZZ_CHECK(again.HydoSmsModulString() == record.HydoSmsModulString(),
               "reading a saved file gives the configuration saved");
    FUZZ_CHECK(smsConfigFileText(again, port) == saved, "saving is stable");

    // Field by field, the accepted lines hold what the writer puts for what was read:
    // texts as they are, numbers with the same value.
    const QList<QByteArray> readLines = recordLines(text);
    const QList<QByteArray> savedLines = recordLines(saved);
    FUZZ_CHECK(readLines.size() == cHydoSmsModul::kConfigurations &&
                   savedLines.size() == cHydoSmsModul::kConfigurations,
               "an accepted file has one line per configuration");
    for (int n = 1; n <= cHydoSmsModul::kConfigurations; ++n) {
        if (cHydoSmsModul::isReserved(n))
            continue;
        const QList<QByteArray> got = quoted(readLines[n - 1]);
        const QList<QByteArray> put = quoted(savedLines[n - 1]);
        FUZZ_CHECK(got.size() == 7 && put.size() == 7, "seven quoted fields a line");
        for (int f = 0; f < 3; ++f)
            FUZZ_CHECK(got[f] == put[f], "a text is taken as it stands");
        for (int f = 3; f < 7; ++f)
            FUZZ_CHECK(got[f].toInt() == put[f].toInt(), "a number is taken as it stands");
    }
    return 0;
}
