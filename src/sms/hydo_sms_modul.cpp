#include "sms/hydo_sms_modul.h"

#include "store/strings.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <optional>

namespace
{

constexpr int kMobileOffset = 0;
constexpr int kServiceOffset = 20;
constexpr int kCauseNameOffset = 40;
constexpr int kCauseOffset = 56;
constexpr int kCauseExtOffset = 57;
constexpr int kTimeOffset = 58;
constexpr int kNumberWidth = 20;
constexpr int kCauseNameWidth = 16;

constexpr char kEndOfFile = '\x03';
constexpr char kQuote = '"';
constexpr int kFieldsPerLine = 7;

bool inRange(int n)
{
    return n >= 1 && n <= cHydoSmsModul::kConfigurations;
}

Error fileInvalid(const QString &file, int line)
{
    return Error(ErrorCode::SmsFileInvalid, file, QString::number(line));
}

// The quoted fields of a record line, or nothing when it is no record line.
std::optional<QList<QByteArray>> quotedFields(const QByteArray &line)
{
    if (line.count(kQuote) != 2 * kFieldsPerLine)
        return std::nullopt;
    QList<QByteArray> fields;
    qsizetype pos = 0;
    for (int i = 0; i < kFieldsPerLine; ++i) {
        const qsizetype open = line.indexOf(kQuote, pos);
        const qsizetype close = line.indexOf(kQuote, open + 1);
        // Between fields only the tab the format puts there.
        const QByteArray gap = line.mid(pos, open - pos);
        if (gap != (i == 0 ? QByteArray() : QByteArray("\t")))
            return std::nullopt;
        fields.append(line.mid(open + 1, close - open - 1));
        pos = close + 1;
    }
    if (pos != line.size())
        return std::nullopt;
    return fields;
}

bool printable(const QByteArray &text, int width)
{
    if (text.size() > width)
        return false;
    for (const char c : text)
        if (quint8(c) < 0x20)
            return false;
    return true;
}

std::optional<int> decimal(const QByteArray &text, int minimum, int maximum)
{
    static const QRegularExpression digits(QStringLiteral("^-?[0-9]{1,6}$"));
    if (!digits.match(QString::fromLatin1(text)).hasMatch())
        return std::nullopt;
    const int value = text.toInt();
    if (value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

} // namespace

cHydoSmsModul::cHydoSmsModul() : m_image(kImageLength, ' ')
{
}

bool cHydoSmsModul::setHydoSmsModulString(const QByteArray &image)
{
    if (image.size() != kImageLength)
        return false;
    m_image = image;
    return true;
}

QByteArray cHydoSmsModul::field(int n, int offset, int width) const
{
    if (!inRange(n))
        return {};
    return m_image.mid((n - 1) * kRecordLength + offset, width);
}

void cHydoSmsModul::setText(int n, int offset, int width, const QByteArray &text)
{
    if (!inRange(n))
        return;
    // A shorter text gets an end mark; what stood behind it stays, as on the device.
    QByteArray put = text.size() < width ? text + '\0' : text.left(width);
    m_image.replace((n - 1) * kRecordLength + offset, put.size(), put);
}

void cHydoSmsModul::setByte(int n, int offset, quint8 value)
{
    if (inRange(n))
        m_image[(n - 1) * kRecordLength + offset] = char(value);
}

QByteArray cHydoSmsModul::ee_mobile_number(int n) const
{
    return field(n, kMobileOffset, kNumberWidth);
}
void cHydoSmsModul::set_ee_mobile_number(int n, const QByteArray &text)
{
    setText(n, kMobileOffset, kNumberWidth, text);
}
QByteArray cHydoSmsModul::ee_service_number(int n) const
{
    return field(n, kServiceOffset, kNumberWidth);
}
void cHydoSmsModul::set_ee_service_number(int n, const QByteArray &text)
{
    setText(n, kServiceOffset, kNumberWidth, text);
}
QByteArray cHydoSmsModul::ee_cause_name(int n) const
{
    return field(n, kCauseNameOffset, kCauseNameWidth);
}
void cHydoSmsModul::set_ee_cause_name(int n, const QByteArray &text)
{
    setText(n, kCauseNameOffset, kCauseNameWidth, text);
}
quint8 cHydoSmsModul::ee_cause(int n) const
{
    return inRange(n) ? quint8(m_image.at((n - 1) * kRecordLength + kCauseOffset)) : 0;
}
void cHydoSmsModul::set_ee_cause(int n, quint8 code)
{
    setByte(n, kCauseOffset, code);
}
quint8 cHydoSmsModul::ee_cause_ext(int n) const
{
    return inRange(n) ? quint8(m_image.at((n - 1) * kRecordLength + kCauseExtOffset)) : 0;
}
void cHydoSmsModul::set_ee_cause_ext(int n, quint8 code)
{
    setByte(n, kCauseExtOffset, code);
}
qint16 cHydoSmsModul::ee_time(int n) const
{
    if (!inRange(n))
        return 0;
    const int at = (n - 1) * kRecordLength + kTimeOffset;
    return qint16(quint8(m_image.at(at)) | (quint8(m_image.at(at + 1)) << 8));
}
void cHydoSmsModul::set_ee_time(int n, qint16 minutes)
{
    const quint16 word = quint16(minutes);
    setByte(n, kTimeOffset, quint8(word & 0xFF));
    setByte(n, kTimeOffset + 1, quint8(word >> 8));
}

void cHydoSmsModul::clear(int n)
{
    set_ee_mobile_number(n, {});
    set_ee_service_number(n, {});
    set_ee_cause_name(n, {});
    set_ee_cause(n, 0);
    set_ee_cause_ext(n, 0);
    set_ee_time(n, 0);
}

bool cHydoSmsModul::isReserved(int n)
{
    return n == 1 || n == 9 || n == 13 || n == 17 || n == 21;
}

QString cHydoSmsModul::textOf(const QByteArray &field)
{
    const qsizetype end = field.indexOf('\0');
    return QString::fromLatin1(end < 0 ? field : field.left(end));
}

QByteArray cHydoSmsModul::bytesOf(const QString &text, bool *ok)
{
    bool latin1 = true;
    for (const QChar c : text)
        latin1 = latin1 && c.unicode() <= 0xFF;
    if (ok)
        *ok = latin1;
    return latin1 ? text.toLatin1() : QByteArray();
}

const QStringList &cHydoSmsModul::causeKeys()
{
    static const QStringList keys{QString::fromUtf8(msKey("AUS")),
                                  QString::fromUtf8(msKey("Alarm")),
                                  QString::fromUtf8(msKey("Keine Kontrolle")),
                                  QString::fromUtf8(msKey("Tägl. Info")),
                                  QString::fromUtf8(msKey("Anruf Info")),
                                  QString::fromUtf8(msKey("Eingang 1")),
                                  QString::fromUtf8(msKey("Eingang 2")),
                                  QString::fromUtf8(msKey("Eingang 3")),
                                  QString::fromUtf8(msKey("Eingang 4")),
                                  QString::fromUtf8(msKey("Fehler")),
                                  QString::fromUtf8(msKey("Stromausfall"))};
    return keys;
}

const QStringList &cHydoSmsModul::wiringKeys()
{
    static const QStringList keys{
        QString::fromUtf8(msKey("kein")), QString::fromUtf8(msKey("Schließer")),
        QString::fromUtf8(msKey("Öffner")), QString::fromUtf8(msKey("Öffner o. Schließer"))};
    return keys;
}

QString cHydoSmsModul::timeText(int minutes)
{
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

namespace
{

QByteArray cut(const QByteArray &field)
{
    const qsizetype end = field.indexOf('\0');
    return end < 0 ? field : field.left(end);
}

// A quoted field ends at the next quote and a line at a line break; the file has no escape
// for either, and old files must load as they are, so such texts are not written at all.
bool fileCanHold(const QByteArray &text)
{
    for (const char c : text)
        if (c == kQuote || quint8(c) < 0x20)
            return false;
    return true;
}

bool fileCanHold(const cHydoSmsModul &record, int n)
{
    return fileCanHold(cut(record.ee_mobile_number(n))) &&
           fileCanHold(cut(record.ee_service_number(n))) &&
           fileCanHold(cut(record.ee_cause_name(n)));
}

} // namespace

int smsUnwritableConfiguration(const cHydoSmsModul &record)
{
    for (int n = 1; n <= cHydoSmsModul::kConfigurations; ++n)
        if (!cHydoSmsModul::isReserved(n) && !fileCanHold(record, n))
            return n;
    return 0;
}

QByteArray smsConfigFileText(const cHydoSmsModul &record, int portNumber)
{
    auto quoted = [](const QByteArray &text) { return kQuote + text + kQuote; };
    QByteArray text = QByteArray::number(portNumber) + kEndOfFile;
    for (int n = 1; n <= cHydoSmsModul::kConfigurations; ++n) {
        // Loading clears the reserved numbers anyway; their line only has to be readable.
        cHydoSmsModul cleared;
        cleared.clear(n);
        const cHydoSmsModul &from =
            cHydoSmsModul::isReserved(n) && !fileCanHold(record, n) ? cleared : record;
        const QList<QByteArray> fields{quoted(cut(from.ee_mobile_number(n))),
                                       quoted(cut(from.ee_service_number(n))),
                                       quoted(cut(from.ee_cause_name(n))),
                                       quoted(QByteArray::number(from.ee_cause(n))),
                                       quoted(QByteArray::number(from.ee_cause_ext(n))),
                                       quoted(QByteArray::number(from.ee_time(n))),
                                       quoted("0")};
        text += fields.join('\t') + "\r\n";
    }
    return text + kEndOfFile;
}

Error parseSmsConfigFile(const QByteArray &text, const QString &file, cHydoSmsModul *record)
{
    // The port's number may have any number of digits: one-digit files are the old form.
    qsizetype digits = 0;
    while (digits < text.size() && text.at(digits) >= '0' && text.at(digits) <= '9')
        ++digits;
    if (digits == 0 || digits >= text.size() || text.at(digits) != kEndOfFile)
        return fileInvalid(file, 1);

    QList<QByteArray> lines = text.mid(digits + 1).split('\n');
    cHydoSmsModul read;
    int n = 0;
    bool ended = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const int lineNumber = int(i) + 1;
        if (ended) {
            if (!line.isEmpty())
                return fileInvalid(file, lineNumber);
            continue;
        }
        if (!line.contains(kQuote)) {
            // The closing code 3 after exactly 30 records, and nothing behind it.
            if (line.size() != 1 || line.at(0) != kEndOfFile || n != cHydoSmsModul::kConfigurations)
                return fileInvalid(file, lineNumber);
            ended = true;
            continue;
        }
        ++n;
        const auto fields = quotedFields(line);
        if (n > cHydoSmsModul::kConfigurations || !fields)
            return fileInvalid(file, lineNumber);
        if (cHydoSmsModul::isReserved(n)) {
            read.clear(n);
            continue;
        }
        const auto cause = decimal(fields->at(3), 0, 255);
        const auto wiring = decimal(fields->at(4), 0, 255);
        const auto time = decimal(fields->at(5), -32768, 32767);
        if (!printable(fields->at(0), kNumberWidth) || !printable(fields->at(1), kNumberWidth) ||
            !printable(fields->at(2), kCauseNameWidth) || !cause || !wiring || !time)
            return fileInvalid(file, lineNumber);
        if (fields->at(6) != "0") {
            return Error(ErrorCode::SmsRecordIncomplete, file, QString::number(n));
        }
        read.set_ee_mobile_number(n, fields->at(0));
        read.set_ee_service_number(n, fields->at(1));
        read.set_ee_cause_name(n, fields->at(2));
        read.set_ee_cause(n, quint8(*cause));
        read.set_ee_cause_ext(n, quint8(*wiring));
        read.set_ee_time(n, qint16(*time));
    }
    if (!ended)
        return fileInvalid(file, int(lines.size()));
    *record = read;
    return {};
}

Error saveSmsConfigFile(const QString &path, const cHydoSmsModul &record, int portNumber)
{
    auto failed = [&](const QString &why) {
        return Error(ErrorCode::SmsFileUnwritable, QFileInfo(path).fileName(), why);
    };
    if (const int n = smsUnwritableConfiguration(record))
        return Error(ErrorCode::SmsRecordUnwritable, QFileInfo(path).fileName(),
                     QString::number(n));
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return failed(out.errorString());
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (out.write(smsConfigFileText(record, portNumber)) < 0 || !out.commit())
        return failed(out.errorString());
    return {};
}

Error openSmsConfigFile(const QString &path, cHydoSmsModul *record, QString *rawText)
{
    const QString name = QFileInfo(path).fileName();
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return Error(ErrorCode::SmsFileUnreadable, name, in.errorString());
    // A configuration file is a few kilobytes; anything much larger is no such file.
    constexpr qint64 kLargestFile = 64 * 1024;
    const QByteArray text = in.read(kLargestFile + 1);
    if (rawText)
        *rawText = QString::fromLatin1(text.left(kLargestFile));
    if (text.size() > kLargestFile)
        return fileInvalid(name, 1 + int(text.left(kLargestFile).count('\n')));
    return parseSmsConfigFile(text, name, record);
}

int portNumberOf(const QString &device)
{
    static const QRegularExpression tail(QStringLiteral("([0-9]+)$"));
    const auto m = tail.match(device);
    return m.hasMatch() ? m.captured(1).left(9).toInt() : 0;
}
