#pragma once
#include <QString>
#include <stdexcept>

namespace kelvano {

// A failure of the serial port itself (not a time-out). Its text is the kind's text followed
// by " (win error code: N)" with the operating system's error number; the texts are the ones
// users and support have always seen, so they stay as they are on every platform.
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

    PortError(int kind, int systemCode);

    int kind() const { return kind_; }
    int systemCode() const { return code_; }
    QString text() const;
    static QString kindText(int kind);

private:
    int kind_;
    int code_;
};

}  // namespace kelvano
