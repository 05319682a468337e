#include "link/RecordingSerialPort.h"

#include "base/PortError.h"

namespace kelvano {

template <class F>
auto RecordingSerialPort::logged(const char* operation, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const PortError& e) {
        recorder_.bytesEvent(QStringLiteral("error"),
                             QStringLiteral("%1 %2 %3")
                                 .arg(QLatin1String(operation))
                                 .arg(e.kind())
                                 .arg(e.systemCode()),
                             {});
        throw;
    }
}

void RecordingSerialPort::open(const QString& name, int baud) {
    // Blanks in a port name would split the fields; a name never needs them.
    QString shown = name;
    shown.replace(QLatin1Char(' '), QLatin1Char('_'));
    recorder_.event(QStringLiteral("open"), QStringLiteral("%1 %2").arg(shown).arg(baud));
    logged("open", [&] { inner_->open(name, baud); });
}

void RecordingSerialPort::close() {
    recorder_.event(QStringLiteral("close"));
    inner_->close();
}

void RecordingSerialPort::write(const QByteArray& bytes) {
    recorder_.bytesEvent(QStringLiteral("tx"), {}, bytes);
    logged("write", [&] { inner_->write(bytes); });
}

int RecordingSerialPort::readByte(int timeoutMs) {
    const int b = logged("read", [&] { return inner_->readByte(timeoutMs); });
    if (b >= 0) recorder_.rxByte(uchar(b));
    else recorder_.event(QStringLiteral("timeout"), QString::number(timeoutMs));
    return b;
}

void RecordingSerialPort::purge() {
    recorder_.event(QStringLiteral("purge"));
    logged("purge", [&] { inner_->purge(); });
}

void RecordingSerialPort::setRts(bool on) {
    recorder_.event(QStringLiteral("rts"), on ? QStringLiteral("1") : QStringLiteral("0"));
    logged("rts", [&] { inner_->setRts(on); });
}

SerialPortFactory RecordingSerialPort::wrap(SerialPortFactory factory,
                                            TranscriptRecorder& recorder) {
    return [factory = std::move(factory), &recorder](const QString& name)
               -> std::unique_ptr<SerialPort> {
        std::unique_ptr<SerialPort> port = factory ? factory(name) : nullptr;
        if (!port) return nullptr;
        return std::make_unique<RecordingSerialPort>(std::move(port), recorder);
    };
}

}  // namespace kelvano
