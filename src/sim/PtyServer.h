#pragma once
#include <QString>
#include <csignal>
#include <cstdint>
#include <deque>

#include "sim/SimLine.h"

namespace kelvano {

// Serves a SimBox on a pseudo-terminal: whatever a program writes to the terminal's slave
// side goes to the box, the box's answers come back on it at once (after a late-first-byte
// fault's delay), paced at the set line speed if any. The slave is put in raw mode and held
// open by the server, so clients may come and go.
//
// On a paced line an answer goes out in one piece when its first byte is due, and the line
// stays busy until its last byte would have crossed: as from a USB-serial adapter, which hands
// over a whole reply at once. The bytes of one answer then never wait for the server to be
// scheduled again, which on a busy machine could take longer than the program waits for the
// next byte.
class PtyServer {
public:
    explicit PtyServer(SimLine& box);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens the terminal pair. False with `error` set when the system refuses.
    bool open(QString* error);
    QString slavePath() const { return slavePath_; }
    // 10 bit times per answer byte at this speed; 0 (default) = as fast as possible.
    void setBaud(int baud) { baud_ = baud; }
    // Also makes `linkPath` a symbolic link to the terminal (replacing an older link there;
    // never a file). Removed again by the destructor.
    bool makeLink(const QString& linkPath, QString* error);

    // Tells when the program closes the line: once a program has sent its first bytes, the
    // server lets go of its own hold on the terminal, so that the program's close is a
    // hang-up (hungUp()). Off by default: clients come and go.
    void watchHangUp() { watchHangUp_ = true; }
    // The program that talked on the terminal closed it (with watchHangUp only).
    bool hungUp() const { return hungUp_; }

    // Serves until *stop turns nonzero (true) or the link is lost by a fault or a terminal
    // failure (false; the terminal is closed then).
    bool run(const volatile std::sig_atomic_t* stop);
    // Serves what arrives within `ms` milliseconds (for tests driving the server in-process).
    bool serveFor(int ms);

private:
    struct Pending {
        QByteArray bytes;  // one answer
        int64_t atUs;      // when its first byte is due
    };
    bool step(int maxWaitMs);
    bool writeDue();
    // A hang-up seen on the master side: true when it is the watched program's close.
    bool noteHangUp();
    void closeAll();

    SimLine& box_;
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
    QString linkPath_;
    int baud_ = 0;
    std::deque<Pending> output_;
    int64_t rxBusyUntilUs_ = 0;  // when the bytes received so far have crossed a paced line
    int64_t txBusyUntilUs_ = 0;  // when the answers queued so far have crossed it
    bool watchHangUp_ = false;
    bool hungUp_ = false;
};

}  // namespace kelvano
