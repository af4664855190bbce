#include "marlo-emu/board.h"

#include "marlo-emu/impairments.h"

namespace marlo {

namespace {

constexpr int kPieceGapMs = 1;

} // namespace

Board::Board(const Options &options, Log log, QObject *parent)
    : QObject(parent)
    , options_(options)
    , dice_(options.seed)
    , terminal_(log)
    , link_(options.verbose, log)
{
    pieceTimer_.setTimerType(Qt::PreciseTimer);
    pieceTimer_.setInterval(kPieceGapMs);
    connect(&pieceTimer_, &QTimer::timeout, this, &Board::writeNextPiece);
    connect(&terminal_, &Terminal::received, &link_, &Link::receiveFromPc);
    connect(&terminal_, &Terminal::failed, this, &Board::failed);
    connect(&link_, &Link::sendToPc, this, &Board::sendToPc);
    connect(&link_, &Link::sendToRadio, &radio_, &Radio::send);
    connect(&link_, &Link::wentDown, this, &Board::dropPieces);
    connect(&radio_, &Radio::frameHeard, &link_, &Link::frameHeard);
    connect(&radio_, &Radio::lost, this, &Board::failed);
}

bool Board::open(QString *error)
{
    return terminal_.open(options_.link, error) && radio_.connectTo(options_.port, error);
}

void Board::sendToPc(const QByteArray &message)
{
    const QList<QByteArray> pieces = impair(message, options_.impairments, dice_);
    if (pieces.size() == 1 && pieces_.isEmpty()) {
        terminal_.write(pieces.first());
        return;
    }
    pieces_ += pieces;
    if (!pieceTimer_.isActive()) {
        writeNextPiece();
        pieceTimer_.start();
    }
}

void Board::writeNextPiece()
{
    if (pieces_.isEmpty()) {
        pieceTimer_.stop();
        return;
    }
    terminal_.write(pieces_.takeFirst());
}

void Board::dropPieces()
{
    pieces_.clear();
    pieceTimer_.stop();
}

} // namespace marlo
