#pragma once
#include <QString>
#include <stdexcept>

namespace kelvano {

// A failure of the serial port itself (not a time-out). Its text is the kind's text followed
// by " (win error code: N)" with the operating system's error number; the texts are the ones
// users and support have always seen, so they stay as they are on every platform. A failure
// that the system reported adds the system's own words for N and the port's name after it:
// "ReadFile function failed (win error code: 5): Input/output error on /dev/ttyUSB0".
class PortError : public std::runtime_error {
public:
    enum Kind {
        Open = 1,         // "Unable to open com port"
        Write = 2,        // "WriteFile function failed"
        Read = 3,         // "ReadFile function failed"
        Purge = 5,        // "PurgeComm function failed"
        SetState = 7,     // "SetCommState function failed"
        SetTimeouts = 8,  // "SetCommTimeouts failed" (also: the box does not answer the prompt)
        Setup = 9,        // "SetupComm function failed"
        Escape = 12,      // "EscapeCommFunction function failed" (RTS)
    };

    // `systemCode` is an errno value; `port` the port's name (may be empty).
    PortError(int kind, int systemCode, const QString& port = QString());
    // A failure the link itself declares (the box did not answer the prompt, an identity line
    // did not come): `code` is the fixed number of the message, not a system error, so the
    // text is only the kind's text and that number.
    static PortError fixed(int kind, int code);

    int kind() const { return kind_; }
    int systemCode() const { return code_; }
    QString port() const { return port_; }
    QString text() const;
    static QString kindText(int kind);

private:
    PortError(int kind, int code, const QString& port, bool systemText);
    int kind_;
    int code_;
    QString port_;
};

}  // namespace kelvano
