#include "marlo-emu/terminal.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace marlo {

namespace {

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

Terminal::Terminal(Log log, QObject *parent)
    : QObject(parent)
    , log_(std::move(log))
{}

Terminal::~Terminal()
{
    // Only our own link goes; someone may have pointed the name elsewhere meanwhile.
    if (!link_.isEmpty()
        && QFileInfo(link_).symLinkTarget() == QFileInfo(path_).canonicalFilePath())
        QFile::remove(link_);
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool Terminal::open(const QString &link, QString *error)
{
    if (!openPair(error) || !makeRaw(error) || !makeLink(link, error))
        return false;
    readNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, &Terminal::read);
    writeNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Write, this);
    writeNotifier_->setEnabled(false);
    connect(writeNotifier_, &QSocketNotifier::activated, this, &Terminal::flush);
    return true;
}

bool Terminal::openPair(QString *error)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *error = QStringLiteral("cannot open a pseudo-terminal: %1").arg(lastError());
        return false;
    }
    path_ = QString::fromLocal8Bit(ptsname(master_));
    slave_ = ::open(ptsname(master_), O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(path_, lastError());
        return false;
    }
    return true;
}

// Raw from the start: nothing echoed back to us, every byte passed unchanged, also before the PC
// opens the port and after it closes it. A terminal that cooks the bytes would pass on messages
// other than those written, so a failure here ends the start.
bool Terminal::makeRaw(QString *error)
{
    termios settings;
    if (tcgetattr(slave_, &settings) != 0) {
        *error = QStringLiteral("cannot read the settings of %1: %2").arg(path_, lastError());
        return false;
    }
    cfmakeraw(&settings);
    if (tcsetattr(slave_, TCSANOW, &settings) != 0) {
        *error = QStringLiteral("cannot make %1 raw: %2").arg(path_, lastError());
        return false;
    }
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = QStringLiteral("cannot make the pseudo-terminal non-blocking: %1")
                         .arg(lastError());
        return false;
    }
    return true;
}

bool Terminal::makeLink(const QString &link, QString *error)
{
    if (link.isEmpty())
        return true;
    const QFileInfo existing(link);
    if (existing.isSymLink())
        QFile::remove(link);
    else if (existing.exists()) {
        *error = QStringLiteral("--link: %1 exists and is not a symbolic link").arg(link);
        return false;
    }
    if (::symlink(path_.toLocal8Bit().constData(), link.toLocal8Bit().constData()) != 0) {
        *error = QStringLiteral("--link: cannot make %1: %2").arg(link, lastError());
        return false;
    }
    link_ = link;
    return true;
}

void Terminal::read()
{
    QByteArray bytes;
    char chunk[512];
    for (;;) {
        const ssize_t got = ::read(master_, chunk, sizeof chunk);
        if (got > 0) {
            bytes.append(chunk, int(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        // We hold the slave side open, so this does not happen; if it does, stop spinning on it.
        readNotifier_->setEnabled(false);
        emit failed(QStringLiteral("the terminal cannot be read: %1").arg(lastError()));
        return;
    }
    if (!bytes.isEmpty())
        emit received(bytes);
}

void Terminal::write(const QByteArray &bytes)
{
    if (unwritten_.size() + bytes.size() > kMaxUnwritten) {
        log_(QStringLiteral("the PC does not read; dropped %1 bytes").arg(bytes.size()));
        return;
    }
    unwritten_.append(bytes);
    flush();
}

void Terminal::flush()
{
    while (!unwritten_.isEmpty()) {
        const ssize_t written = ::write(master_, unwritten_.constData(), size_t(unwritten_.size()));
        if (written > 0) {
            unwritten_.remove(0, int(written));
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && errno == EAGAIN) {
            writeNotifier_->setEnabled(true);
            return;
        }
        log_(QStringLiteral("cannot write to the terminal: %1").arg(lastError()));
        unwritten_.clear();
    }
    writeNotifier_->setEnabled(false);
}

} // namespace marlo
