// Failures over real sockets: the emulator's failure modes against the real link code, and
// controllers that cannot be reached. Each must end in the result the PC side promises
// (success, or its error text) and never in a hang. Record faults (short batches, garbled
// records) must reach the PC intact under a right checksum, and the emulator's journal must
// list exactly the records it handed over and forgot.

#include "support/sim_process.h"
#include "support/smtp_server.h"

#include "link/clock.h"
#include "link/encodings.h"
#include "link/hydo_connect.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>

#include <optional>
#include <ostream>

namespace
{

struct ReadMode {
    const char *name;
    QStringList arguments;
    const char *command;
    std::optional<ErrorCode> error; // none: any error that comes before the deadline
    int payloadSize;
    int minMs;
    int maxMs; // 0: any time the link code allows
    const char *logged;
};

void PrintTo(const ReadMode &mode, std::ostream *out)
{
    *out << mode.name;
}

class SimReadModes : public ::testing::TestWithParam<ReadMode>
{
};

TEST_P(SimReadModes, readEndsInThePromisedResult)
{
    const ReadMode &m = GetParam();
    SimProcess sim;
    ASSERT_TRUE(sim.launch(m.arguments));
    const SimRead r = readFromController(sim.tcpLink(), QString::fromLatin1(m.command));
    if (m.error) {
        EXPECT_EQ(r.error.code, *m.error) << sim.log().toStdString();
    } else {
        EXPECT_FALSE(r.error.ok());
        EXPECT_NE(r.error.code, ErrorCode::Timeout)
            << "a closed connection must end the exchange before its deadline";
    }
    EXPECT_EQ(r.payload.size(), m.payloadSize);
    EXPECT_GE(r.elapsedMs, m.minMs);
    EXPECT_LT(r.elapsedMs, m.maxMs ? m.maxMs : 60000);
    EXPECT_TRUE(sim.log().contains(QLatin1String(m.logged))) << sim.log().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SimReadModes,
    ::testing::Values(
        ReadMode{"AnswerToTheThirdBurst",
                 {"--answer-after", "3"},
                 "DX",
                 ErrorCode::None,
                 10,
                 0,
                 0,
                 "DX burst 2 ignored"},
        ReadMode{"PausedPieces", {"--split", "5:400"}, "DN", ErrorCode::None, 5630, 0, 0, ""},
        ReadMode{"BadChecksum", {"--bad-checksum"}, "DK", ErrorCode::Communication, 0, 0, 0, ""},
        ReadMode{"DropMidAnswer", {"--drop-mid-answer"}, "DN", std::nullopt, 0, 0, 0, ""},
        // The read deadline is 6 seconds.
        ReadMode{"Mute", {"--mute"}, "DX", ErrorCode::Timeout, 0, 5900, 9000, ""},
        // The program image alone needs 5.9 s of line time at 9600 baud: the read deadline
        // must grant it on top.
        ReadMode{"Paced9600", {"--pace-9600"}, "DN", ErrorCode::None, 5630, 5800, 0, ""}),
    [](const auto &info) { return std::string(info.param.name); });

struct RecordFault {
    const char *name;
    QStringList arguments;
    int shortEvery;  // every Nth "DO" answer announces 2 records more than it carries
    int garbleEvery; // every Nth stored record has non-hex value, time and date digits
};

void PrintTo(const RecordFault &fault, std::ostream *out)
{
    *out << fault.name;
}

class SimRecordFaults : public ::testing::TestWithParam<RecordFault>
{
};

TEST_P(SimRecordFaults, answersCarryTheFaultAndTheJournalListsWhatWasHandedAndForgotten)
{
    const RecordFault &f = GetParam();
    SimProcess sim;
    const QString journalPath = sim.scratchPath(QStringLiteral("journal.txt"));
    ASSERT_TRUE(sim.launch(
        QStringList{"--speed", "100", "--interval", "10", "--journal", journalPath} + f.arguments));

    QStringList journal; // what the journal must say, from what the PC received
    int answers = 0;
    int firstStored = 1; // number of the oldest record in the memory, counted from 1
    const auto download = [&] {
        const SimRead r = readFromController(sim.tcpLink(), QStringLiteral("DO"));
        EXPECT_EQ(r.error, Error()) << "checksum over what is sent\n" << sim.log().toStdString();
        ++answers;
        const bool shortBatch = f.shortEvery && answers % f.shortEvery == 0;
        const QString body = r.payload.mid(4);
        EXPECT_EQ(body.size() % 24, 0);
        QStringList records;
        for (int i = 0; i + 24 <= body.size(); i += 24)
            records << body.mid(i, 24);
        EXPECT_EQ(HexWordGet(r.payload, 0), records.size() + (shortBatch ? 2 : 0))
            << "answer " << answers;
        for (int i = 0; i < records.size(); ++i) {
            const bool garbled = f.garbleEvery && (firstStored + i) % f.garbleEvery == 0;
            EXPECT_TRUE(isHexText(records[i].left(4))) << "sensor and status stay readable";
            for (const QString &field :
                 {records[i].mid(4, 4), records[i].mid(8, 8), records[i].mid(16, 8)})
                EXPECT_EQ(isHexText(field), !garbled) << records[i].toStdString();
            journal << QStringLiteral("handed ") + records[i];
        }
        return records;
    };

    QStringList first;
    for (int attempt = 0; attempt < 50 && first.isEmpty(); ++attempt)
        first = download();
    ASSERT_FALSE(first.isEmpty()) << sim.log().toStdString();
    // Without an acknowledgement the same records come again, garbled ones unchanged.
    const QStringList again = download();
    EXPECT_EQ(again.mid(0, first.size()), first);
    const QStringList last = download();
    ASSERT_EQ(readFromController(sim.tcpLink(), QStringLiteral("DL")).error, Error());
    for (const QString &record : last)
        journal << QStringLiteral("forgot ") + record;
    firstStored += int(last.size());
    download();

    QFile file(journalPath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              journal);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimRecordFaults,
    ::testing::Values(RecordFault{"ShortBatchEverySecondAnswer", {"--short-batch", "2"}, 2, 0},
                      RecordFault{"EveryThirdRecordGarbled", {"--garble", "3"}, 0, 3}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LinkRealTransport, refusedTcpConnectionFailsAtOnceWithTheConnectText)
{
    ensureCoreApplication();
    const quint16 port = closedLocalPort();
    RealClock clock;
    const auto link = cHydoConnect::createDefault(clock);
    QElapsedTimer timer;
    timer.start();
    const Error error = link->connect(false, QStringLiteral("127.0.0.1"), QString::number(port));
    EXPECT_EQ(error.code, ErrorCode::ConnectFailed);
    EXPECT_TRUE(error.detail.contains(QLatin1String("refused")))
        << "the cause is kept: " << error.detail.toStdString();
    EXPECT_LT(timer.elapsed(), 5000) << "a refused connection need not wait out 20 seconds";
    EXPECT_EQ(link->PutBuffer(QStringLiteral("DX"), 0, true, QStringLiteral("\n")),
              Error(ErrorCode::NoLinkSend));
}

TEST(LinkRealTransport, closedConnectionEndsGetBufferWithTheNoLinkText)
{
    SimProcess sim;
    ASSERT_TRUE(sim.launch({"--drop-mid-answer"}));
    RealClock clock;
    const auto link = cHydoConnect::createDefault(clock);
    ASSERT_EQ(link->connect(false, QStringLiteral("127.0.0.1"), QString::number(sim.port())),
              Error());
    ASSERT_EQ(link->PutBuffer(QStringLiteral("DK"), 0, true, QStringLiteral("\n")), Error());

    Error result;
    QElapsedTimer timer;
    timer.start();
    while (result.ok() && timer.elapsed() < 3000) {
        clock.sleepMs(20);
        result = link->GetBuffer();
    }
    EXPECT_EQ(result, Error(ErrorCode::NoLinkReceive));
    EXPECT_TRUE(link->Buffer.contains("Kalib RAM")) << "what arrived before the close is kept";
    EXPECT_FALSE(link->Buffer.contains("CheckSum"));
    EXPECT_EQ(link->PutBuffer(QStringLiteral("DK"), 0, true, QStringLiteral("\n")),
              Error(ErrorCode::NoLinkSend));
}

} // namespace
