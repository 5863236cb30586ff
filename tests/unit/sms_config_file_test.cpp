#include "sms/hydo_sms_modul.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{

// A record line of a configuration file: each field quoted, tab between them.
QByteArray recordLine(const QByteArrayList &fields)
{
    QByteArrayList quoted;
    for (const QByteArray &f : fields)
        quoted << '"' + f + '"';
    return quoted.join('\t');
}

const QByteArray kEmptyRecord = recordLine({"", "", "", "0", "0", "0", "0"});

// An SMS configuration file (.cfg) as sites keep it: port 1, thirty records, closing code 3;
// `replace` holds other lines for the first records (an empty one keeps the record).
QByteArray oldFile(const QList<QByteArray> &replace = {})
{
    QByteArray text = "1\x03";
    for (int n = 1; n <= 30; ++n) {
        QByteArray line = kEmptyRecord;
        if (n == 2)
            line = recordLine({"+491711234567", "+491722270880", "Pumpe aus", "5", "2", "90", "0"});
        if (n == 9)
            line = recordLine({"+4930", "+4930", "reserved", "1", "1", "1", "0"});
        if (n - 1 < replace.size() && !replace[n - 1].isEmpty())
            line = replace[n - 1];
        text += line + "\r\n";
    }
    return text + '\x03';
}

// The file with record 3 made of these fields.
QByteArray withRecord3(const QByteArrayList &fields)
{
    return oldFile({{}, {}, recordLine(fields)});
}

TEST(SmsRecord, fieldsSitInTheirPlacesOfTheImage)
{
    cHydoSmsModul record;
    EXPECT_EQ(record.HydoSmsModulString(), QByteArray(1800, ' '));

    record.set_ee_mobile_number(2, "+491711234567");
    record.set_ee_mobile_number(2, "+4930");
    EXPECT_EQ(record.ee_mobile_number(2).left(14), QByteArray("+4930\0"
                                                              "1234567\0",
                                                              14));
    EXPECT_EQ(cHydoSmsModul::textOf(record.ee_mobile_number(2)), QStringLiteral("+4930"));

    // A text as long as the field fills it without end mark, a longer one is cut.
    record.set_ee_cause_name(30, "0123456789ABCDEFGH");
    EXPECT_EQ(record.ee_cause_name(30), "0123456789ABCDEF");
    EXPECT_EQ(record.HydoSmsModulString().mid(29 * 60 + 56, 1), " ");

    record.set_ee_time(3, 90);
    record.set_ee_cause(3, 4);
    record.set_ee_cause_ext(3, 1);
    EXPECT_EQ(record.HydoSmsModulString().mid(2 * 60 + 56, 4), QByteArray("\x04\x01\x5A\x00", 4));
    EXPECT_EQ(cHydoSmsModul::timeText(record.ee_time(3)), QStringLiteral("01:30"));
    record.set_ee_time(3, -2);
    EXPECT_EQ(record.ee_time(3), -2);

    const QByteArray before = record.HydoSmsModulString();
    record.set_ee_cause(31, 1);
    record.set_ee_mobile_number(0, "1");
    EXPECT_EQ(record.HydoSmsModulString(), before) << "numbers outside 1..30 touch nothing";
    EXPECT_FALSE(record.setHydoSmsModulString(QByteArray(1799, 'x')));
}

TEST(SmsConfigFile, oldFilesLoadAndSavedFilesReadBackTheSame)
{
    cHydoSmsModul record;
    ASSERT_TRUE(parseSmsConfigFile(oldFile(), "old.cfg", &record).ok());
    EXPECT_EQ(cHydoSmsModul::textOf(record.ee_mobile_number(2)), "+491711234567");
    EXPECT_EQ(cHydoSmsModul::textOf(record.ee_cause_name(2)), "Pumpe aus");
    EXPECT_EQ(record.ee_cause(2), 5);
    EXPECT_EQ(record.ee_cause_ext(2), 2);
    EXPECT_EQ(record.ee_time(2), 90);
    EXPECT_EQ(cHydoSmsModul::textOf(record.ee_mobile_number(9)), "") << "reserved: cleared";
    EXPECT_EQ(record.ee_cause(9), 0);
    EXPECT_EQ(smsConfigFileText(record, 1),
              oldFile({{}, {}, {}, {}, {}, {}, {}, {}, kEmptyRecord}));

    // A blank record saves its spaces and codes as they are, and loads again.
    const QByteArray blank = smsConfigFileText(cHydoSmsModul(), 12);
    EXPECT_TRUE(blank.startsWith("12\x03\"                    \"\t"));
    EXPECT_TRUE(blank.contains("\t\"32\"\t\"32\"\t\"8224\"\t\"0\"\r\n"));
    cHydoSmsModul again;
    ASSERT_TRUE(parseSmsConfigFile(blank, "blank.cfg", &again).ok());
    EXPECT_EQ(cHydoSmsModul::textOf(again.ee_mobile_number(2)), QString(20, ' '));
    EXPECT_EQ(again.ee_time(30), 8224);
}

TEST(SmsConfigFile, everyTextTheDeviceHoldsIsSavedSoItLoadsAgainOrRefusedNamingTheRecord)
{
    QTemporaryDir dir;
    for (int b = 1; b < 256; ++b) {
        const QByteArray text = "a" + QByteArray(1, char(b)) + "z";
        cHydoSmsModul record;
        record.set_ee_mobile_number(5, text);
        record.set_ee_service_number(6, text);
        record.set_ee_cause_name(30, QByteArray(16, char(b)));
        record.set_ee_cause(2, 255);
        record.set_ee_cause_ext(2, 255);
        record.set_ee_time(2, -32768);
        // A reserved number holding anything never stops a save: loading clears it.
        record.set_ee_cause_name(9, "\"\t\r\n");

        const bool holdable = b != '"' && b >= 0x20;
        const QString path = dir.filePath(QStringLiteral("b%1.cfg").arg(b));
        const Error saved = saveSmsConfigFile(path, record, 3);
        if (!holdable) {
            EXPECT_EQ(saved.code, ErrorCode::SmsRecordUnwritable) << b;
            EXPECT_EQ(saved.extra, "5") << b;
            EXPECT_FALSE(QFile::exists(path)) << b;
            const auto boxes = smsMessages(saved);
            ASSERT_EQ(boxes.size(), 1);
            EXPECT_TRUE(boxes.first().text.startsWith("Datensatz 5 ")) << b;
            EXPECT_TRUE(boxes.first().text.contains(QStringLiteral("b%1.cfg").arg(b))) << b;
            continue;
        }
        ASSERT_TRUE(saved.ok()) << b;
        cHydoSmsModul back;
        ASSERT_TRUE(openSmsConfigFile(path, &back).ok()) << b;
        // Compared as the file holds them; the reserved numbers load cleared.
        cHydoSmsModul want = record;
        for (int n = 1; n <= 30; ++n)
            if (cHydoSmsModul::isReserved(n))
                want.clear(n);
        EXPECT_EQ(smsConfigFileText(back, 3), smsConfigFileText(want, 3)) << b;
    }
}

TEST(SmsConfigFile, badFilesAreRefusedNamingFileAndLineAndChangeNothing)
{
    const QByteArray good = oldFile();
    const qsizetype end = good.size() - 1;
    struct Case {
        const char *what;
        QByteArray text;
        int line = 3;
        ErrorCode code = ErrorCode::SmsFileInvalid;
    } cases[] = {
        {"no port number", good.mid(1), 1},
        {"port not followed by code 3", "1x" + good.mid(2), 1},
        {"truncated after 29 records", good.split('\n').mid(0, 29).join('\n') + "\n\x03", 30},
        {"closing code 3 missing", good.left(end), 31},
        {"a 31st record", good.left(end) + good.mid(2, good.indexOf("\r\n")) + "\x03", 31},
        {"text after the end", good + "\r\nmore", 32},
        {"a line without quotes", oldFile({{}, {}, "garbage"})},
        {"number too long", withRecord3({"+4912345678901234567890", "", "", "0", "0", "0", "0"})},
        {"text too long", withRecord3({"", "", "seventeen chars!!", "0", "0", "0", "0"})},
        {"control character", withRecord3({"", "", "a\x01", "0", "0", "0", "0"})},
        {"cause beyond a byte", withRecord3({"", "", "", "256", "0", "0", "0"})},
        {"time beyond a word", withRecord3({"", "", "", "0", "0", "32768", "0"})},
        {"time not a number", withRecord3({"", "", "", "0", "0", "1:30", "0"})},
        {"closing field not 0", withRecord3({"", "", "", "0", "0", "0", "1"}), 3,
         ErrorCode::SmsRecordIncomplete},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        cHydoSmsModul record;
        record.set_ee_cause(3, 7);
        const Error error = parseSmsConfigFile(c.text, "bad.cfg", &record);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.extra, QString::number(c.line));
        EXPECT_EQ(record.ee_cause(3), 7) << "the record must stay as it was";
        EXPECT_TRUE(smsMessages(error).value(0).text.contains("bad.cfg"));
    }
}

// A two-digit port saved and opened again is proved through the SMS window.
TEST(SmsConfigFile, savedFilesAreTheOwnersOnlyAndEveryPortHasANumber)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("module.cfg");
    ASSERT_TRUE(saveSmsConfigFile(path, cHydoSmsModul(), 1).ok());
    EXPECT_EQ(QFile(path).permissions(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ReadUser | QFileDevice::WriteUser);

    EXPECT_EQ(portNumberOf("/dev/pts/3"), 3);
    EXPECT_EQ(portNumberOf("/tmp/telvara"), 0);

    cHydoSmsModul back;
    const Error missing = openSmsConfigFile(dir.filePath("none.cfg"), &back);
    EXPECT_EQ(missing.code, ErrorCode::SmsFileUnreadable);
    EXPECT_EQ(smsMessages(missing).first().title, "Fehler beim Öffnen einer Datei !");
}

} // namespace
