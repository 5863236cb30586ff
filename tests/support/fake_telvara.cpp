#include "support/fake_telvara.h"

#include <limits>

namespace
{

class FakeSerial : public Transport
{
public:
    explicit FakeSerial(FakeTelvara &device) : m_device(device) {}
    Kind kind() const override { return Kind::Serial; }
    Error open(const QString &, const QString &, int) override { return m_device.open(); }
    void close() override { m_device.close(); }
    bool isOpen() const override { return m_device.isOpen(); }
    Error write(const QByteArray &data) override
    {
        m_device.write(data);
        return {};
    }
    Error readAvailable(QByteArray *out) override
    {
        *out += m_device.take(std::numeric_limits<qint64>::max());
        return {};
    }
    Error readUpTo(QByteArray *out, qint64 maxBytes) override
    {
        *out += m_device.take(maxBytes);
        return {};
    }

private:
    FakeTelvara &m_device;
};

} // namespace

FakeTelvara::FakeTelvara(VirtualClock &clock) : m_clock(clock)
{
    telvara::setQuiet(true);
    // Tests set the fields they read; the rest of the memory is blank.
    external.fill('\0');
    internal.fill('\0');
    heard = [this](const QByteArray &request) { frames.append(request); };
}

std::unique_ptr<Transport> FakeTelvara::transport()
{
    return std::make_unique<FakeSerial>(*this);
}

Error FakeTelvara::open()
{
    if (refuseOpen)
        return Error(ErrorCode::Runtime, QStringLiteral("No such file or directory"));
    m_open = true;
    dropInput();
    return {};
}

void FakeTelvara::write(const QByteArray &bytes)
{
    for (const char c : bytes)
        sent.append({m_clock.nowMs(), QByteArray(1, c)});
    const QByteArray answer = receive(bytes);
    if (!answer.isEmpty())
        m_out += strayBytes + answer;
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
