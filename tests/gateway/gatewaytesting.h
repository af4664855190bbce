#pragma once

#include "gateway/talvennetwork.h"
#include "recordingdriver.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>

// Frames are written as hex text in the tests; spaces are for the reader only.
inline QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// A well-formed MPDU of `node` carrying `count` ePDUs written out in `ePdus` (hex).
inline QByteArray mpdu(int node, int count, const char *ePdus = "")
{
    const QByteArray body = bytes(ePdus);
    QByteArray frame = bytes("e2e2e2e2");
    frame.append(char(2 + body.size()));
    frame.append(char(0x80 | node));
    frame.append(char(count));
    return frame + body;
}

// Everything the engine reports, in order; the end of a cycle shows as "<cycle finished>".
struct EngineLog
{
    explicit EngineLog(TalvenNetwork &network)
    {
        QObject::connect(&network, &TalvenNetwork::error,
                         [this](const QString &line) { lines << line; });
        QObject::connect(&network, &TalvenNetwork::cycleFinished,
                         [this] { lines << QStringLiteral("<cycle finished>"); });
    }

    QStringList lines;
};

// An engine on a recording link; the engine owns the link, the test keeps a pointer to it.
struct Bench
{
    Bench()
        : driver(new RecordingDriver)
    {
        network.setNetworkInterfaceDriver(driver);
    }

    // Reception `offset` ms after the last beacon, in the engine's unsigned time base.
    void receiveAfterBeacon(qint64 offset, const QByteArray &frame)
    {
        driver->deliver(uint32_t(network.beaconTime() + offset), frame);
    }

    TalvenNetwork network;
    RecordingDriver *driver;
    EngineLog log{network};
};
