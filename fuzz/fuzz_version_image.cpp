// The controller's version data as it arrives from the device, held by the controller
// object and read through its getters. Checked beyond "no crash": the version is the single
// in the first four bytes and the sub-release the fifth byte, each 0 when not wholly there
// or not hex digits; the version text has two decimals, reads back to the version rounded
// to them and stays short whatever the single holds; encoding what was read gives the
// same digits back. (The largest single has 39 digits, with group separators 54 characters.)

#include "fuzz_check.h"
#include "link/clock.h"
#include "link/encodings.h"
#include "link/progress.h"
#include "model/ctarvelon.h"
#include "support/answer_ok.h"

#include <QLocale>

#include <bit>
#include <cmath>
#include <optional>

namespace
{

// The bytes at pos as one number when they are wholly there and all hex digits.
std::optional<quint32> hexAt(const QByteArray &text, int pos, int bytes)
{
    if ((pos + bytes) * 2 > text.size())
        return std::nullopt;
    bool ok = false;
    const quint32 v = text.mid(pos * 2, bytes * 2).toUInt(&ok, 16);
    for (const char c : text.mid(pos * 2, bytes * 2))
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    return ok ? std::optional(v) : std::nullopt;
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
    t.setVersionData(image);

    const float version = t.aq_Version();
    const int sub = t.aq_SubRelease();

    const auto versionBits = hexAt(bytes, 0, 4);
    FUZZ_CHECK(std::bit_cast<quint32>(version) == versionBits.value_or(0),
               "the version is the first four bytes' single, or 0");
    FUZZ_CHECK(sub == int(hexAt(bytes, 4, 1).value_or(0)),
               "the sub-release is the fifth byte, or 0");
    FUZZ_CHECK(sub >= 0 && sub <= 255, "the sub-release is a byte");

    const QString text = cTarvelon::versionNumberText(version);
    FUZZ_CHECK(!text.isEmpty() && text.size() <= 64, "the version text is short");
    if (std::isfinite(version)) {
        const qsizetype point = text.indexOf(QLocale().decimalPoint());
        FUZZ_CHECK(point >= 0 && text.size() - point - 1 == 2, "the version has two decimals");
        bool ok = false;
        const double back = QLocale().toDouble(text, &ok);
        FUZZ_CHECK(ok && std::fabs(back - double(version)) <=
                             0.005 * (1 + 1e-9) + std::fabs(double(version)) * 1e-15,
                   "the version text reads back to the version");
    }

    // Encoding what was read gives the digits that were read, up to the case of hex digits.
    if (versionBits) {
        const QString again =
            HexBytePut(HexSinglePut(QString(10, QLatin1Char('0')), 0, version), 4, sub);
        FUZZ_CHECK(again.left(8) == image.left(8).toUpper(), "the version encodes back");
        if (bytes.size() >= 10 && hexAt(bytes, 4, 1))
            FUZZ_CHECK(again == image.left(10).toUpper(), "the sub-release encodes back");
    }
    return 0;
}
