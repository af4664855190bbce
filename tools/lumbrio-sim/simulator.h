#pragma once

#include "common/lumbriowire.h"
#include "lumbrio-sim/medium.h"
#include "lumbrio-sim/options.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <functional>

class QTcpSocket;

namespace lumbrio {

class VirtualNode;

// One TCP client of the simulator: takes its announcements and frame messages apart and puts its
// frames on the medium; writes every frame it hears back as a frame message. Owned by the
// Simulator (deleted later, once its socket is gone). Emits log lines through the simulator.
class ClientConnection : public QObject, public Station
{
    Q_OBJECT

public:
    using Log = std::function<void(const QString &line)>;

    ClientConnection(int number, QTcpSocket *socket, Medium *medium, bool verbose, Log log,
                     QObject *parent = nullptr);
    ~ClientConnection() override;

    QByteArray address() const override;
    void receive(const QByteArray &frame) override;

signals:
    void finished(lumbrio::ClientConnection *client);

private:
    void readMessages();
    void handleControl(const QByteArray &payload);
    void handleFrame(const QByteArray &payload);
    void close();
    QString label() const;

    int number_;
    QTcpSocket *socket_;
    Medium *medium_;
    bool verbose_;
    Log log_;
    MessageReader reader_;
    QByteArray address_;
    QString name_;
    QString peer_;
    bool closed_ = false;
    QElapsedTimer badChecksumSaid_;
    int badChecksumsUnsaid_ = 0;
};

// The whole simulator: listens for clients and plays the virtual nodes, all on one medium.
// Lives on the main thread's event loop.
class Simulator : public QObject
{
    Q_OBJECT

public:
    using Log = ClientConnection::Log;

    Simulator(const Options &options, Log log, QObject *parent = nullptr);
    ~Simulator() override;

    // False, with a one-line reason, when the port cannot be opened.
    bool listen(QString *error);
    // The port listened on (the one chosen by the system when the options ask for 0).
    quint16 port() const { return server_.serverPort(); }
    Medium &medium() { return medium_; }

private:
    void acceptClients();
    void acceptFailed();
    void clientLeft();
    void reportAnswer(int nodeId, Fault fault, int offsetMs, const QByteArray &frame);

    Options options_;
    Log log_;
    Medium medium_;
    QTcpServer server_;
    QList<VirtualNode *> nodes_;
    int clientCount_ = 0;
    // Each client takes a descriptor. At the process's limit accept() fails, and the waiting
    // connection would wake the event loop over and over: accepting pauses before that, until a
    // client leaves.
    int connectedClients_ = 0;
    int maxClients_ = 0;
    QElapsedTimer limitSaid_;
    // Accepting pauses while the system refuses new connections (no descriptors left), longer
    // each time it refuses again, so the pending connection does not wake the loop for nothing.
    QTimer acceptPause_;
    int acceptPauseMs_ = 0;
    int refusedSinceLog_ = 0;
};

} // namespace lumbrio
