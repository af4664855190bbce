#pragma once

#include "common/seriallink.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

namespace marlo {

// The board's side of the serial link protocol, apart from the line it runs on. It reads the
// PC's CMD and BEACON messages from the byte stream; the link is up from the link command with
// argument 1 to the one with argument 2. While it is up, every BEACON frame goes to the radio,
// every frame heard comes back as a FRAME message stamped with the board's clock (never 0), and
// what the board does is reported with DEBUG messages. Emits whole messages with their checksum;
// how they reach the PC is the owner's business. One thread; owned by the board.
class Link : public QObject
{
    Q_OBJECT

public:
    using Log = std::function<void(const QString &line)>;

    Link(bool verbose, Log log, QObject *parent = nullptr);

    bool isUp() const { return up_; }

    void receiveFromPc(const QByteArray &bytes);
    void frameHeard(const QByteArray &frame);

signals:
    void sendToPc(const QByteArray &message);
    void sendToRadio(const QByteArray &frame);
    // The PC closes the port next: what it has not read yet goes nowhere.
    void wentDown();

private:
    void handle(const seriallink::Message &message);
    void handleCommand(const QByteArray &bytes);
    void handleBeacon(const QByteArray &bytes);
    void sendDebug(const QString &text);

    bool verbose_;
    Log log_;
    seriallink::Reader reader_;
    bool up_ = false;
};

} // namespace marlo
