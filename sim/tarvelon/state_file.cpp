#include "state_file.h"

#include "link/encodings.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace sim
{

namespace
{
constexpr int kStateFormat = 1;
constexpr int kRecordChars = 24;

// Hex digits, or the letters of a record garbled on purpose (--garble).
bool isRecordText(const QString &text)
{
    return text.size() == kRecordChars && std::all_of(text.begin(), text.end(), [](QChar c) {
               return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
           });
}
} // namespace

LoadResult loadState(const QString &path, SimState *state, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return LoadResult::Absent;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read state file %1: %2").arg(path, file.errorString());
        return LoadResult::Invalid;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (doc.isNull() || !doc.isObject()) {
        *error = QStringLiteral("state file %1 is not valid JSON: %2")
                     .arg(path, parseError.errorString());
        return LoadResult::Invalid;
    }
    const QJsonObject o = doc.object();
    if (o.value(QStringLiteral("format")).toInt() != kStateFormat) {
        *error = QStringLiteral("state file %1 has an unknown format").arg(path);
        return LoadResult::Invalid;
    }

    SimState s;
    const auto version = parseFirmwareVersion(o.value(QStringLiteral("version")).toString());
    if (!version) {
        *error = QStringLiteral("state file %1: version is not of the form 2.20R5").arg(path);
        return LoadResult::Invalid;
    }
    s.version = *version;
    s.program = o.value(QStringLiteral("program")).toString().toUpper();
    s.calibration = o.value(QStringLiteral("calibration")).toString().toUpper();
    if (!isImageText(s.program, kProgramBytes)) {
        *error = QStringLiteral("state file %1: program is not %2 bytes of hex text")
                     .arg(path)
                     .arg(kProgramBytes);
        return LoadResult::Invalid;
    }
    if (!isImageText(s.calibration, kCalibrationBytes)) {
        *error = QStringLiteral("state file %1: calibration is not %2 bytes of hex text")
                     .arg(path)
                     .arg(kCalibrationBytes);
        return LoadResult::Invalid;
    }
    for (const QJsonValue &v : o.value(QStringLiteral("pending")).toArray()) {
        const QString record = v.toString().toUpper();
        if (!isRecordText(record)) {
            *error = QStringLiteral("state file %1: a pending record is not 24 digits and "
                                    "letters")
                         .arg(path);
            return LoadResult::Invalid;
        }
        s.pending.append(record);
    }
    const QJsonObject scripted = o.value(QStringLiteral("scripted")).toObject();
    for (auto it = scripted.begin(); it != scripted.end(); ++it) {
        bool ok = false;
        const int sensor = it.key().toInt(&ok);
        if (ok && sensor >= 1 && sensor <= kSensorCount && it.value().isDouble())
            s.scripted.insert(sensor, it.value().toDouble());
    }
    s.snapshot = o.value(QStringLiteral("snapshot")).toInt();
    *state = s;
    return LoadResult::Loaded;
}

bool saveState(const QString &path, const SimState &state, QString *error)
{
    QJsonObject o;
    o.insert(QStringLiteral("format"), kStateFormat);
    o.insert(QStringLiteral("version"), firmwareVersionText(state.version));
    // Informational: the identifier lives in the program image (word at byte 13).
    o.insert(QStringLiteral("identifier"), HexWordGet(state.program, kPosId));
    o.insert(QStringLiteral("program"), state.program);
    o.insert(QStringLiteral("calibration"), state.calibration);
    o.insert(QStringLiteral("pending"), QJsonArray::fromStringList(state.pending));
    QJsonObject scripted;
    for (auto it = state.scripted.begin(); it != state.scripted.end(); ++it)
        scripted.insert(QString::number(it.key()), it.value());
    o.insert(QStringLiteral("scripted"), scripted);
    o.insert(QStringLiteral("snapshot"), state.snapshot);

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write state file %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(QJsonDocument(o).toJson(QJsonDocument::Indented));
    if (!file.commit()) {
        *error = QStringLiteral("cannot write state file %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace sim
