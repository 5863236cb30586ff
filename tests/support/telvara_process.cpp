#include "support/telvara_process.h"

#include "support/sim_process.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

TelvaraProcess::TelvaraProcess()
{
    ensureCoreApplication();
}

TelvaraProcess::~TelvaraProcess()
{
    if (m_process.state() != QProcess::NotRunning && !stop()) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

bool TelvaraProcess::start(const QStringList &arguments, QString *error)
{
    m_pty.clear();
    // The log goes to a file: a pipe nobody reads would fill up and stall the emulator.
    m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("log-%1.txt").arg(++m_starts)));
    m_process.start(QStringLiteral(TELVARA_SIM_PATH),
                    QStringList{QStringLiteral("--state"), statePath()} + arguments);
    QElapsedTimer timer;
    timer.start();
    QByteArray out;
    while (m_pty.isEmpty()) {
        const qint64 left = kStartTimeoutMs - timer.elapsed();
        if (left <= 0 || m_process.state() == QProcess::NotRunning) {
            *error = QStringLiteral("telvara-sim did not report ready: %1 %2")
                         .arg(QString::fromLocal8Bit(out), log());
            m_process.kill();
            m_process.waitForFinished(2000);
            return false;
        }
        m_process.waitForReadyRead(int(left));
        out += m_process.readAllStandardOutput();
        for (const QByteArray &line : out.split('\n'))
            if (line.startsWith("pty "))
                m_pty = QString::fromLocal8Bit(line.mid(4).trimmed());
    }
    return true;
}

bool TelvaraProcess::stop()
{
    return stopEmulator(m_process, kStartTimeoutMs);
}

QString TelvaraProcess::log() const
{
    QFile f(m_dir.filePath(QStringLiteral("log-%1.txt").arg(m_starts)));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}

QByteArray TelvaraProcess::savedExternalMemory() const
{
    QFile f(statePath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    return QByteArray::fromHex(o.value(QStringLiteral("external")).toString().toLatin1());
}
