#include "base/PortError.h"

namespace kelvano {

PortError::PortError(int kind, int systemCode)
    : std::runtime_error(
          (kindText(kind) + QStringLiteral(" (win error code: %1)").arg(systemCode)).toStdString()),
      kind_(kind),
      code_(systemCode) {}

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
