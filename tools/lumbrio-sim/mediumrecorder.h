#pragma once

#include "capture/pcapngwriter.h"
#include "lumbrio-sim/medium.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

namespace lumbrio {

// Records every frame the medium carries to a pcapng file, as the simulator sees it: frames that
// clients put on the medium are inbound, the virtual nodes' answers outbound, each with a comment
// that names its sender (and the fault a node put in it on purpose). What was recorded reaches the
// disk as soon as the event loop is free again, after the frame was delivered. Main thread.
class MediumRecorder : public QObject
{
    Q_OBJECT

public:
    using Log = std::function<void(const QString &line)>;

    explicit MediumRecorder(Log log, QObject *parent = nullptr);

    // Creates the file. False with errorString() set when it cannot be written.
    bool open(const QString &path);
    QString errorString() const { return writer_.errorString(); }
    // Records what `medium` carries from now on; `interfaceName` names the link in the file.
    void attach(Medium *medium, const QString &interfaceName);

private:
    void record(const Station *from, const QByteArray &frame);
    void flush();

    Log log_;
    capture::PcapngWriter writer_;
    uint32_t interface_ = 0;
    QTimer flushSoon_;
    bool failureSaid_ = false;
};

} // namespace lumbrio
