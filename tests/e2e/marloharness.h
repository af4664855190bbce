#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QtGlobal>

// Test plumbing for the serial path: the tools as child processes that never outlive a test, a
// free TCP port, and a recorder of the debug output (where the serial driver logs the board's
// DEBUG messages).
namespace marloharness {

// A tool started as a child process; ended (SIGTERM, then SIGKILL) when the object goes.
class ToolProcess
{
public:
    ToolProcess(const QString &program, const QStringList &arguments)
    {
        process_.setProgram(program);
        process_.setArguments(arguments);
        process_.start();
    }

    ~ToolProcess() { stop(); }

    ToolProcess(const ToolProcess &) = delete;
    ToolProcess &operator=(const ToolProcess &) = delete;

    bool started() { return process_.waitForStarted(10000); }

    // The next line on standard output, without its end; empty when none comes in time.
    QString readLine(int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!process_.canReadLine()) {
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
                return QString();
            process_.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        return QString::fromLocal8Bit(process_.readLine()).trimmed();
    }

    // Reads standard output until a line contains `text`; false when none does in time.
    bool waitForLine(const QString &text, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            const QString line = readLine(int(qMax<qint64>(1, deadline.remainingTime())));
            if (line.contains(text))
                return true;
            if (line.isEmpty() && (deadline.hasExpired() || !isRunning()))
                return false;
        }
    }

    bool isRunning() const { return process_.state() != QProcess::NotRunning; }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

    QProcess &process() { return process_; }

private:
    QProcess process_;
};

// A port on which nothing listens right now.
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Collects debug output besides passing it on, so that QTest::ignoreMessage still works and a
// test can also see what it did not expect. One at a time.
class DebugLog
{
public:
    DebugLog()
    {
        current() = this;
        previous() = qInstallMessageHandler(&DebugLog::record);
    }
    ~DebugLog()
    {
        qInstallMessageHandler(previous());
        current() = nullptr;
    }

    DebugLog(const DebugLog &) = delete;
    DebugLog &operator=(const DebugLog &) = delete;

    QStringList lines;

private:
    static DebugLog *&current()
    {
        static DebugLog *log = nullptr;
        return log;
    }
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type == QtDebugMsg && current())
            current()->lines.append(text);
        previous()(type, context, text);
    }
};

} // namespace marloharness
