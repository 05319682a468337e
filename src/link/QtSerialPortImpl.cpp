#include "link/QtSerialPortImpl.h"

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/PortError.h"

namespace kelvano {

namespace {

// Unix98 pseudo-terminal slaves use majors 136 to 143; the old BSD ones major 3.
bool isPtyDevice(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned maj = major(st.st_rdev);
    return (maj >= 136 && maj <= 143) || maj == 3;
}

int openErrorCode(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return ENOENT;
        case QSerialPort::PermissionError:
            return EACCES;
        case QSerialPort::OpenError:
            return EBUSY;
        default:
            return errno != 0 ? errno : EIO;
    }
}

qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 steadyUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr qsizetype kReadChunk = 512;
// Bytes an adapter may hold beyond what the driver reports as queued (a UART's send FIFO).
constexpr qsizetype kAdapterFifo = 64;

}  // namespace

QtSerialPortImpl::QtSerialPortImpl() = default;

QtSerialPortImpl::~QtSerialPortImpl() { close(); }

void QtSerialPortImpl::fail(int kind, int code) {
    throw PortError(kind, code != 0 ? code : EIO, name_);
}

void QtSerialPortImpl::open(const QString& name, int baud) {
    close();
    name_ = name;
    port_.setPortName(name);
    errno = 0;
    if (!port_.open(QIODevice::ReadWrite)) fail(PortError::Open, openErrorCode(port_.error()));
    fd_ = int(port_.handle());
    pty_ = isPtyDevice(fd_);

    errno = 0;
    if (!port_.setBaudRate(baud) || !port_.setDataBits(QSerialPort::Data8) ||
        !port_.setParity(QSerialPort::NoParity) || !port_.setStopBits(QSerialPort::OneStop) ||
        !port_.setFlowControl(QSerialPort::NoFlowControl)) {
        const int code = errno;
        close();
        fail(PortError::SetState, code);
    }
    // Reads and writes go straight to the handle: QSerialPort's own notifiers must not pull
    // bytes into its buffer behind our back when the event loop runs.
    for (QSocketNotifier* notifier : port_.findChildren<QSocketNotifier*>())
        notifier->setEnabled(false);
    try {
        setModemLine(TIOCM_DTR, false, PortError::SetState);
        setModemLine(TIOCM_RTS, false, PortError::SetState);
    } catch (...) {
        close();
        throw;
    }
    byteUs_ = baud > 0 ? 10'000'000LL / baud : 0;
    txDoneUs_ = 0;
    askLowLatency();
}

void QtSerialPortImpl::askLowLatency() {
    remark_.clear();
    serial_struct serial{};
    int code = 0;
    if (ioctl(fd_, TIOCGSERIAL, &serial) != 0) {
        code = errno;
    } else if (!(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        if (ioctl(fd_, TIOCSSERIAL, &serial) != 0) code = errno;
    }
    if (code != 0)
        remark_ = QStringLiteral("Serial port %1: no low latency from the driver (%2)")
                      .arg(port_.portName(), QString::fromLocal8Bit(std::strerror(code)));
}

void QtSerialPortImpl::close() {
    if (port_.isOpen()) port_.close();
    fd_ = -1;
    pty_ = false;
    in_.clear();
    inPos_ = 0;
}

bool QtSerialPortImpl::isOpen() const { return port_.isOpen() && fd_ >= 0; }

void QtSerialPortImpl::setModemLine(int line, bool on, int kind) {
    if (fd_ < 0) fail(kind, EBADF);
    if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return;
    const int code = errno;
    if (pty_ && code == ENOTTY) return;  // no modem lines on a pseudo-terminal
    fail(kind, code);
}

void QtSerialPortImpl::setRts(bool on) { setModemLine(TIOCM_RTS, on, PortError::Escape); }

void QtSerialPortImpl::write(const QByteArray& bytes) {
    if (fd_ < 0) fail(PortError::Write, EBADF);
    // The write time-out of the line: 100 ms per byte plus one second.
    const qint64 deadline = steadyMs() + 100 * bytes.size() + 1000;
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, p, size_t(left));
        if (n > 0) {
            p += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) fail(PortError::Write, errno);
        const qint64 wait = deadline - steadyMs();
        if (wait <= 0) fail(PortError::Write, ETIMEDOUT);
        pollfd pfd{fd_, POLLOUT, 0};
        if (poll(&pfd, 1, int(wait)) < 0 && errno != EINTR) fail(PortError::Write, errno);
    }
    // No drain: the bytes cross the line while the reply is awaited (see readByte).
    noteQueued(bytes.size());
}

qsizetype QtSerialPortImpl::queuedOut() const {
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) != 0) return -1;
    return std::max(queued, 0);
}

void QtSerialPortImpl::noteQueued(qsizetype written) {
    // The bytes still to cross are those just written, or what the driver holds plus the
    // adapter's FIFO when that is more. A line faster than its nominal speed (a
    // pseudo-terminal, a virtual port) would otherwise push the end of every write later and
    // later, and with it every reply wait.
    const qint64 now = steadyUs();
    qint64 pending = (byteUs_ > 0 ? std::max<qint64>(0, txDoneUs_ - now) / byteUs_ : 0) + written;
    const qsizetype queued = queuedOut();
    if (queued >= 0)
        pending = std::min<qint64>(pending,
                                   std::max<qint64>(written, queued + (pty_ ? 0 : kAdapterFifo)));
    txDoneUs_ = now + byteUs_ * pending;
}

bool QtSerialPortImpl::fill(qint64 deadlineUs) {
    in_.clear();
    inPos_ = 0;
    char buffer[kReadChunk];
    for (;;) {
        // Waiting first: right after a command its reply is not there yet, and a read would
        // only come back empty.
        const qint64 waitUs = std::max<qint64>(0, deadlineUs - steadyUs());
        pollfd pfd{fd_, POLLIN, 0};
        const timespec timeout{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
        const int r = ppoll(&pfd, 1, &timeout, nullptr);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) fail(PortError::Read, errno);
        if (r == 0) return false;
        if (pfd.revents & (POLLERR | POLLNVAL)) fail(PortError::Read, EIO);
        if ((pfd.revents & POLLHUP) && !(pfd.revents & POLLIN)) fail(PortError::Read, EIO);
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        ++readCalls_;
        if (n > 0) {
            in_ = QByteArray(buffer, qsizetype(n));
            return true;
        }
        if (n < 0 && errno != EINTR && errno != EAGAIN) fail(PortError::Read, errno);
        if (steadyUs() >= deadlineUs) return false;
    }
}

int QtSerialPortImpl::readByte(int timeoutMs) {
    if (fd_ < 0) fail(PortError::Read, EBADF);
    if (inPos_ < in_.size()) return uchar(in_.at(inPos_++));
    // The wait starts when the last command has crossed the line: a reply cannot come
    // earlier, and the caller's wait is meant for the box.
    const qint64 start = std::max(steadyUs(), txDoneUs_);
    if (!fill(start + qint64(timeoutMs > 0 ? timeoutMs : 0) * 1000)) return -1;
    return uchar(in_.at(inPos_++));
}

void QtSerialPortImpl::purge() {
    if (fd_ < 0) fail(PortError::Purge, EBADF);
    in_.clear();
    inPos_ = 0;
    // What was written goes out first: flushing the output would drop a command that has not
    // crossed yet (on a pseudo-terminal even one the other side has not taken in). Only
    // stale input is discarded. The wait is the write time-out of what is still queued.
    int what = TCIFLUSH;
    const qsizetype queued = queuedOut();
    if (queued > 0) {
        const qint64 deadline = steadyMs() + 100 * queued + 1000;
        while (queuedOut() > 0 && steadyMs() < deadline)
            usleep(useconds_t(std::max<qint64>(byteUs_, 100)));
        if (queuedOut() > 0) what = TCIOFLUSH;  // a stuck line: give up what it holds
    }
    if (tcflush(fd_, what) != 0) fail(PortError::Purge, errno);
    txDoneUs_ = std::min(txDoneUs_, steadyUs() + byteUs_ * (pty_ ? 0 : kAdapterFifo));
}

std::unique_ptr<SerialPort> makeSystemSerialPort() { return std::make_unique<QtSerialPortImpl>(); }

}  // namespace kelvano
