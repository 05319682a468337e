#pragma once
#include <QByteArray>
#include <cstdint>

namespace kelvano {

// The driver requests that the USB model of the box needs. Implementations: libusb-1.0 (the
// k-th attached box), the simulated box, fakes in the tests. Only the user-interface thread
// uses a backend, one request at a time. Nothing throws; every request reports failure by
// its result.
class UsbBackend {
public:
    virtual ~UsbBackend() = default;

    // Opens the k-th box (k = 0..9) for all further requests. False when there is no such
    // device or it cannot be opened.
    virtual bool openDevice(int k) = 0;
    // Closes the device if it is open; a second call does nothing.
    virtual void closeDevice() = 0;
    virtual bool isOpen() const = 0;

    // Fills `info` with the 336-byte interface information record: the number of pipes as a
    // 32-bit little-endian number at byte 12, then one 20-byte record per pipe from byte 16
    // with the endpoint address at byte 2 of the record. Pipe indices in bulkRead/bulkWrite
    // are these record indices. False when the request fails.
    virtual bool pipeInfo(QByteArray& info) = 0;
    // Reads up to `length` bytes of string descriptor `index` (language 0) into `out`: byte 0
    // is the descriptor length, byte 1 its type, then UTF-16LE characters. False on failure.
    virtual bool stringDescriptor(int index, int length, QByteArray& out) = 0;
    // Sends `bytes` as one packet on pipe `pipe`. True when the device took it.
    virtual bool bulkWrite(int pipe, const QByteArray& bytes) = 0;
    // Receives one packet of at most `capacity` bytes into `buffer`. Returns the number of
    // bytes received, or -1 when the request failed or the device did not answer in time.
    virtual int bulkRead(int pipe, uint8_t* buffer, int capacity) = 0;
    // bulkRead that waits at most timeoutMs for a packet (for emptying the pipe of answers
    // nobody asked for). Backends whose bulkRead returns at once need not override it.
    virtual int bulkReadWithin(int pipe, uint8_t* buffer, int capacity, int timeoutMs) {
        (void)timeoutMs;
        return bulkRead(pipe, buffer, capacity);
    }
};

}  // namespace kelvano
