#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpServer>

// One of our tools as a child process of a test; killed when the test leaves it behind.
class Tool : public QProcess
{
public:
    Tool(const QString &program, const QStringList &arguments) { start(program, arguments); }
    ~Tool() override
    {
        kill();
        waitForFinished(5000);
    }

    // Reads standard output up to a line that contains `text` and returns it; empty when none
    // comes in time.
    QString waitForLine(const QString &text)
    {
        QDeadlineTimer deadline(10000);
        for (;;) {
            while (canReadLine()) {
                const QString line = QString::fromLocal8Bit(readLine()).trimmed();
                if (line.contains(text))
                    return line;
            }
            if (deadline.hasExpired() || !waitForReadyRead(int(deadline.remainingTime()) + 1))
                return QString();
        }
    }
};

// A port on which nothing listens right now.
inline QString freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return QString::number(probe.serverPort());
}
