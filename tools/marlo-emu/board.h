#pragma once

#include "marlo-emu/link.h"
#include "marlo-emu/options.h"
#include "marlo-emu/radio.h"
#include "marlo-emu/terminal.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>

#include <functional>

namespace marlo {

// The Marlo gateway board: the link protocol between its terminal and its radio, with the
// impairments asked for on the way to the PC (pieces of a message 1 ms apart, reproducibly).
// One thread; emits failed when the terminal or the radio is gone.
class Board : public QObject
{
    Q_OBJECT

public:
    using Log = std::function<void(const QString &line)>;

    Board(const Options &options, Log log, QObject *parent = nullptr);

    // Opens the terminal (and its link) and connects the radio; blocks up to 5 s for the latter.
    bool open(QString *error);
    QString terminalPath() const { return terminal_.path(); }

signals:
    void failed(const QString &reason);

private:
    void sendToPc(const QByteArray &message);
    void writeNextPiece();
    void dropPieces();

    Options options_;
    QRandomGenerator dice_;
    Terminal terminal_;
    Link link_;
    Radio radio_;
    QList<QByteArray> pieces_;
    QTimer pieceTimer_;
};

} // namespace marlo
