#pragma once

#include "marlo-emu/options.h"
#include "marlo-emu/radio.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <functional>

namespace serialcon {
class Msg;
}

namespace marlo {

// The Marlo gateway board, played on a pseudo-terminal. The PC opens the terminal's slave side
// as the board's serial port. While the link is up (from the link command with argument 1 to the
// one with argument 2) the board puts every BEACON frame on the radio and sends every frame it
// hears back as a FRAME message stamped with its clock, never 0; it reports what it does with
// DEBUG messages. Noise, split writes and wrong checksums are added on request, reproducibly.
// One thread; emits failed when the radio is gone.
class Board : public QObject
{
    Q_OBJECT

public:
    using Log = std::function<void(const QString &line)>;

    Board(const Options &options, Log log, QObject *parent = nullptr);
    ~Board() override;

    // Opens the terminal (and its link) and connects the radio; blocks up to 5 s for the latter.
    bool open(QString *error);
    QString terminalPath() const { return path_; }

signals:
    void failed(const QString &reason);

private:
    bool openTerminal(QString *error);
    bool makeLink(QString *error);

    void readFromPc();
    void handleFromPc(const serialcon::Msg &msg);
    void handleCommand(const serialcon::Msg &msg);
    void handleBeacon(const serialcon::Msg &msg);
    void frameHeard(const QByteArray &frame);

    void sendDebug(const QString &text);
    // Completes the message with its checksum (a wrong one now and then, if asked) and sends it.
    void sendToPc(serialcon::Msg &msg);
    void pushToTerminal(const QByteArray &bytes);
    void flushTerminal();
    void writeNextPiece();

    Options options_;
    Log log_;
    int master_ = -1;
    // Held open so that the terminal never hangs up between two openings by the PC.
    int slave_ = -1;
    QString path_;
    bool linkMade_ = false;
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    QByteArray fromPc_;
    QByteArray unwritten_;
    QList<QByteArray> pieces_;
    QTimer pieceTimer_;
    bool linkUp_ = false;
    QRandomGenerator random_;
    Radio radio_;
};

} // namespace marlo
