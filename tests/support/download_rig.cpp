#include "support/download_rig.h"

#include "link/encodings.h"

QByteArray programImage(int controllerId)
{
    QString p(5630, QLatin1Char('0'));
    p = HexWordPut(p, 13, controllerId);
    p = HexBytePut(p, 100, 1); // oxygen shown as saturation
    return p.toLatin1();
}

QByteArray calibrationImage()
{
    QString k(672, QLatin1Char('0'));
    k = HexBytePut(k, 0, 2);
    k = HexBytePut(k, 42, 1);
    k = HexSinglePut(k, 2, 25.0f);
    k = HexSinglePut(k, 42 + 2, 7.8f);
    return k.toLatin1();
}

QByteArray storedData(const QList<Rec> &records, int announced)
{
    QString d(4 + 24 * records.size(), QLatin1Char('0'));
    d = HexWordPut(d, 0, announced < 0 ? records.size() : announced);
    for (int i = 0; i < records.size(); ++i) {
        const int r = 2 + 12 * i;
        d = HexBytePut(d, r, records[i].sensor);
        d = HexWordPut(d, r + 2, records[i].word);
        const QTime t = records[i].when.time();
        d = HexSinglePut(d, r + 4,
                         static_cast<float>(t.hour() * 3600 + t.minute() * 60 + t.second()));
        d = HexDatePut(d, r + 8, records[i].when.date());
    }
    return d.toLatin1();
}

ConnectedController::ConnectedController(int controllerId, Backend backend)
    : tmp(TempDb::Start::Prepared, backend)
{
    fake.controller.setPayload("DX", "400CCCCD05");
    fake.controller.setPayload("DN", programImage(controllerId));
    fake.controller.setPayload("DK", calibrationImage());
    fake.controller.setPayload("DL", "0001");
    connected = t.connect(false, "ctl.example", "4001", &db, fake.link.get());
}
