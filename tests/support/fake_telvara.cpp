#include "support/fake_telvara.h"

#include <limits>

namespace
{

class FakeSerial : public Transport
{
public:
    explicit FakeSerial(FakeTelvara &device) : m_device(device) {}
    Kind kind() const override { return Kind::Serial; }
    bool open(const QString &, const QString &, int, QString *error) override
    {
        return m_device.open(error);
    }
    void close() override { m_device.close(); }
    bool isOpen() const override { return m_device.isOpen(); }
    bool write(const QByteArray &data, QString *) override
    {
        m_device.receive(data);
        return true;
    }
    bool readAvailable(QByteArray *out, QString *) override
    {
        *out += m_device.take(std::numeric_limits<qint64>::max());
        return true;
    }
    bool readUpTo(QByteArray *out, qint64 maxBytes, QString *) override
    {
        *out += m_device.take(maxBytes);
        return true;
    }

private:
    FakeTelvara &m_device;
};

int sum(const QByteArray &bytes)
{
    int s = 0;
    for (const char c : bytes)
        s += quint8(c);
    return s;
}

} // namespace

FakeTelvara::FakeTelvara(VirtualClock &clock) : m_clock(clock)
{
}

std::unique_ptr<Transport> FakeTelvara::transport()
{
    return std::make_unique<FakeSerial>(*this);
}

bool FakeTelvara::open(QString *error)
{
    if (refuseOpen) {
        *error = QStringLiteral("No such file or directory");
        return false;
    }
    m_open = true;
    m_in.clear();
    return true;
}

QByteArray FakeTelvara::take(qint64 maxBytes)
{
    if (floodPerLook > 0)
        m_out += QByteArray(floodPerLook, '\x55');
    qint64 n = bytesPerRead > 0 ? qMin<qint64>(bytesPerRead, m_out.size()) : m_out.size();
    n = qMin(n, maxBytes);
    const QByteArray out = m_out.left(n);
    m_out.remove(0, n);
    bytesTaken += n;
    return out;
}

void FakeTelvara::reply(const QByteArray &bytes)
{
    if (!mute)
        m_out += strayBytes + bytes;
}

void FakeTelvara::receive(const QByteArray &bytes)
{
    for (const char c : bytes)
        sent.append({m_clock.nowMs(), QByteArray(1, c)});
    m_in += bytes;
    for (;;) {
        if (m_in.startsWith("@K")) {
            frames.append(m_in.left(2));
            m_in.remove(0, 2);
            if (m_ignored++ >= ignoreFirst)
                reply("@K!K!");
            continue;
        }
        if (m_in.size() < 4 || m_in.size() < 5 + quint8(m_in.at(2)))
            return;
        const QByteArray frame = m_in.left(5 + quint8(m_in.at(2)));
        m_in.remove(0, frame.size());
        frames.append(frame);
        answer(frame);
    }
}

void FakeTelvara::answer(const QByteArray &frame)
{
    const QByteArray ack("\x06\xF9\x00\x00", 4);
    const int n = quint8(frame.at(2));
    const int command = quint8(frame.at(3));
    const QByteArray payload = frame.mid(4, n);
    const bool reset = command == 0x63;
    if (!reset && (sum(frame.mid(3, n + 2)) & 0xFF) != 0)
        return;
    if (m_ignored++ < ignoreFirst)
        return;
    const int address = n >= 2 ? quint8(payload.at(0)) | quint8(payload.at(1)) << 8 : 0;
    switch (command) {
    case 0x01:
        m_memory = quint8(payload.at(0)) == 0x09 ? &internal : &external;
        reply(ack);
        break;
    case 0x02:
        if (muteAfterWrites >= 0 && writesTaken >= muteAfterWrites)
            mute = true;
        if (mute)
            return;
        ++writesTaken;
        if (address != loseWriteAt)
            m_memory->replace(address, n - 2, payload.mid(2));
        reply(ack);
        break;
    case 0x03: {
        const QByteArray data = m_memory->mid(address, quint8(payload.at(2)));
        const int check = ((256 - (sum(data) & 0xFF)) + (badReadChecksum ? 1 : 0)) & 0xFF;
        reply(QByteArray("\x06\xF9\x00", 3) + data + char(check) + (noEndMarker ? '\x55' : '\0'));
        break;
    }
    case 0x63:
        ++resets;
        reply(QByteArray(1, '\x06'));
        break;
    }
}
