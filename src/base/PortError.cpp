#include "base/PortError.h"

#include <cstring>

namespace kelvano {

namespace {

QString composed(int kind, int code, const QString& port, bool systemText) {
    QString text = PortError::kindText(kind) + QStringLiteral(" (win error code: %1)").arg(code);
    if (systemText) text += QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(code));
    if (!port.isEmpty()) text += QStringLiteral(" on ") + port;
    return text;
}

}  // namespace

PortError::PortError(int kind, int systemCode, const QString& port)
    : PortError(kind, systemCode, port, true) {}

PortError::PortError(int kind, int code, const QString& port, bool systemText)
    : std::runtime_error(composed(kind, code, port, systemText).toStdString()),
      kind_(kind),
      code_(code),
      port_(port) {}

PortError PortError::fixed(int kind, int code) { return PortError(kind, code, QString(), false); }

QString PortError::text() const { return QString::fromStdString(what()); }

QString PortError::kindText(int kind) {
    switch (kind) {
        case Open:
            return QStringLiteral("Unable to open com port");
        case Write:
            return QStringLiteral("WriteFile function failed");
        case Read:
            return QStringLiteral("ReadFile function failed");
        case Purge:
            return QStringLiteral("PurgeComm function failed");
        case SetState:
            return QStringLiteral("SetCommState function failed");
        case SetTimeouts:
            return QStringLiteral("SetCommTimeouts failed");
        case Setup:
            return QStringLiteral("SetupComm function failed");
        case Escape:
            return QStringLiteral("EscapeCommFunction function failed");
        default:
            return QStringLiteral("Serial port error %1").arg(kind);
    }
}

}  // namespace kelvano
