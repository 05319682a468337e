#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace kelvano {

namespace {

int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool fail(QString* error, const QString& text) {
    if (error) *error = text + ": " + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

}  // namespace

PtyServer::PtyServer(SimLine& box) : box_(box) {}

PtyServer::~PtyServer() {
    closeAll();
    if (!linkPath_.isEmpty()) ::unlink(QFile::encodeName(linkPath_).constData());
}

void PtyServer::closeAll() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
}

bool PtyServer::open(QString* error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) return fail(error, "posix_openpt");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return fail(error, "grantpt/unlockpt");
    char name[256];
    if (::ptsname_r(master_, name, sizeof name) != 0) return fail(error, "ptsname");
    slavePath_ = QString::fromLocal8Bit(name);
    // Holding the slave open keeps the master readable while no client is attached, and
    // lets the raw settings stay in place between clients.
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) return fail(error, "open " + slavePath_);
    termios tio{};
    if (::tcgetattr(slave_, &tio) != 0) return fail(error, "tcgetattr");
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(slave_, TCSANOW, &tio) != 0) return fail(error, "tcsetattr");
    return true;
}

bool PtyServer::makeLink(const QString& linkPath, QString* error) {
    const QByteArray link = QFile::encodeName(linkPath);
    struct stat st {};
    if (::lstat(link.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            if (error) *error = linkPath + " exists and is not a symbolic link";
            return false;
        }
        ::unlink(link.constData());
    }
    if (::symlink(QFile::encodeName(slavePath_).constData(), link.constData()) != 0)
        return fail(error, "symlink " + linkPath);
    linkPath_ = linkPath;
    return true;
}

bool PtyServer::run(const volatile std::sig_atomic_t* stop) {
    while (!*stop)
        if (!step(100)) return false;
    return true;
}

bool PtyServer::serveFor(int ms) {
    const int64_t end = nowUs() + int64_t(ms) * 1000;
    while (nowUs() < end)
        if (!step(int(std::max<int64_t>(1, (end - nowUs()) / 1000)))) return false;
    return true;
}

bool PtyServer::noteHangUp() {
    // Only once the server's own hold is gone can a hang-up be the program's close.
    if (!watchHangUp_ || slave_ >= 0) return false;
    hungUp_ = true;
    output_.clear();
    return true;
}

bool PtyServer::writeDue() {
    const int64_t now = nowUs();
    QByteArray due;
    while (!output_.empty() && output_.front().atUs <= now) {
        due += output_.front().bytes;
        output_.pop_front();
    }
    for (qsizetype sent = 0; sent < due.size();) {
        const ssize_t n = ::write(master_, due.constData() + sent, size_t(due.size() - sent));
        if (n < 0 && errno == EIO && noteHangUp()) return true;
        if (n < 0 && errno != EINTR) return false;
        if (n > 0) sent += n;
    }
    return true;
}

bool PtyServer::step(int maxWaitMs) {
    if (master_ < 0) return false;
    if (hungUp_) {
        ::usleep(useconds_t(maxWaitMs) * 1000);
        return true;
    }
    if (!writeDue()) return false;
    int64_t now = nowUs();
    // Wait to the microsecond: at 115200 baud a byte takes 87 us, so a wait rounded up to
    // whole milliseconds would slow a paced box several times over.
    int64_t waitUs = int64_t(maxWaitMs) * 1000;
    if (!output_.empty()) waitUs = std::clamp<int64_t>(output_.front().atUs - now, 0, waitUs);
    const timespec timeout{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
    pollfd pfd{master_, POLLIN, 0};
    const int ready = ::ppoll(&pfd, 1, &timeout, nullptr);
    if (ready < 0) return errno == EINTR;
    if (ready == 0) return true;
    if (!(pfd.revents & POLLIN)) {
        if ((pfd.revents & POLLHUP) && !noteHangUp()) ::usleep(1000);  // no client yet
        return true;
    }

    char buffer[4096];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n < 0 && errno == EIO && noteHangUp()) return true;
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n > 0 && watchHangUp_ && slave_ >= 0) {
        // The program has the terminal open now: from here its close is a hang-up.
        ::close(slave_);
        slave_ = -1;
    }
    const QList<SimLine::Output> answers = box_.receiveSerial(QByteArray(buffer, int(n)));
    if (box_.linkLost()) {
        closeAll();  // the client's next read or write fails like a pulled cable
        return false;
    }
    now = nowUs();
    const int64_t byteUs = baud_ > 0 ? 10'000'000LL / baud_ : 0;
    // A pseudo-terminal delivers the program's bytes at once; on a paced line the command
    // itself takes its line time too, and the box answers only after its last byte.
    rxBusyUntilUs_ = std::max(now, rxBusyUntilUs_) + int64_t(n) * byteUs;
    int64_t at = std::max({rxBusyUntilUs_, txBusyUntilUs_, now});
    for (const SimLine::Output& answer : answers) {
        if (answer.bytes.isEmpty()) continue;
        at += int64_t(answer.delayMs) * 1000;
        output_.push_back(Pending{answer.bytes, at + byteUs});
        at += int64_t(answer.bytes.size()) * byteUs;
    }
    txBusyUntilUs_ = at;
    // What is due goes out before the box does its slow work.
    if (!writeDue()) return false;
    box_.answered();
    return true;
}

}  // namespace kelvano
