#pragma once
#include <memory>

#include "base/SerialPort.h"
#include "link/RecordingTranscript.h"

namespace kelvano {

// A SerialPort that passes every call to the port it wraps and, while `recorder` records,
// writes the call and its outcome to the transcript: open, close, tx (bytes written), rx
// (bytes read), timeout (a read that got nothing), purge, rts, and error for a port failure,
// which is then thrown on unchanged. The wrapped port never knows.
class RecordingSerialPort : public SerialPort {
public:
    RecordingSerialPort(std::unique_ptr<SerialPort> inner, TranscriptRecorder& recorder)
        : inner_(std::move(inner)), recorder_(recorder) {}

    void open(const QString& name, int baud) override;
    void close() override;
    bool isOpen() const override { return inner_->isOpen(); }
    void write(const QByteArray& bytes) override;
    int readByte(int timeoutMs) override;
    void purge() override;
    void setRts(bool on) override;
    QString openRemark() const override { return inner_->openRemark(); }

    SerialPort& inner() { return *inner_; }

    // The factory's ports, each wrapped.
    static SerialPortFactory wrap(SerialPortFactory factory, TranscriptRecorder& recorder);

private:
    template <class F>
    auto logged(const char* operation, F&& f) -> decltype(f());

    std::unique_ptr<SerialPort> inner_;
    TranscriptRecorder& recorder_;
};

}  // namespace kelvano
