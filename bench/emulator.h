#pragma once

// tarvelon-sim as a child process for the benchmarks: started with the given options, ready
// once it reports its port, stopped with SIGTERM.

#include "link/protocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <unistd.h>

class Emulator
{
public:
    // Pass "--port", "0" for a free port or another "--port" of your choice.
    explicit Emulator(const QStringList &arguments)
    {
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStringLiteral(TARVELON_SIM_PATH), QStringList{"--quiet"} + arguments);
        QElapsedTimer timer;
        timer.start();
        QByteArray out;
        while (!out.contains('\n') && timer.elapsed() < 5000 &&
               m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(100);
            out += m_process.readAllStandardOutput();
        }
        if (out.startsWith("listening on "))
            m_port = out.trimmed().split(':').last().toUShort();
    }
    ~Emulator()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGTERM);
            if (!m_process.waitForFinished(3000))
                m_process.kill();
        }
    }
    Emulator(const Emulator &) = delete;
    Emulator &operator=(const Emulator &) = delete;

    quint16 port() const { return m_port; }
    LinkParams link() const
    {
        return LinkParams{false, QStringLiteral("127.0.0.1"), QString::number(m_port)};
    }

    // User plus system CPU time of the emulator process, in ms.
    double cpuMs() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return 0.0;
        // Fields after the parenthesised command name; utime and stime are fields 14, 15.
        const QByteArray text = stat.readAll();
        const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (f.size() < 13)
            return 0.0;
        const double ticks = f[11].toDouble() + f[12].toDouble();
        return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
};
