#pragma once

#include "common/lumbriowire.h"

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

namespace marlo {

// The board's radio: a client of lumbrio-sim that announces the gateway's name and address
// E2 E2 E2 E2 and then exchanges frames as kind-1 messages (preamble, frame, X.25 CRC). Frames
// whose CRC does not match are not heard, as on a real radio.
// Owned by the board; emits frameHeard for each frame and lost when the simulator goes away.
class Radio : public QObject
{
    Q_OBJECT

public:
    explicit Radio(QObject *parent = nullptr);
    ~Radio() override;

    // Blocks up to 5 s for the connection, then announces the board.
    bool connectTo(quint16 port, QString *error);
    void send(const QByteArray &frame);

signals:
    void frameHeard(const QByteArray &frame);
    void lost(const QString &reason);

private:
    void readMessages();

    QTcpSocket socket_;
    lumbrio::MessageReader reader_;
};

} // namespace marlo
