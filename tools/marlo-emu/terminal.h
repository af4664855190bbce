#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

namespace marlo {

// The board's end of a pseudo-terminal; the PC opens the other end by its path as a serial port.
// Raw from the start, never blocking: what the PC writes comes out of received(), what the board
// writes waits (up to a bound) until the PC reads. Optionally makes a symbolic link to the path,
// and removes it again if it is still ours. Emits failed when the terminal cannot be read.
// One thread; owned by the board.
class Terminal : public QObject
{
    Q_OBJECT

public:
    using Log = std::function<void(const QString &line)>;

    // When the PC does not read, the board stops piling up its output.
    static constexpr int kMaxUnwritten = 64 * 1024;

    explicit Terminal(Log log, QObject *parent = nullptr);
    ~Terminal() override;

    // False, with a one-line reason, when the terminal or the link cannot be made.
    bool open(const QString &link, QString *error);
    QString path() const { return path_; }

    void write(const QByteArray &bytes);

signals:
    void received(const QByteArray &bytes);
    void failed(const QString &reason);

private:
    bool openPair(QString *error);
    bool makeRaw(QString *error);
    bool makeLink(const QString &link, QString *error);
    void read();
    void flush();

    Log log_;
    int master_ = -1;
    // Held open so that the terminal never hangs up between two openings by the PC.
    int slave_ = -1;
    QString path_;
    QString link_;
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    QByteArray unwritten_;
};

} // namespace marlo
