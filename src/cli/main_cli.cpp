#include <QCoreApplication>

#include "cli/CliParser.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvano-cli"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return kelvano::runCli(arguments);
}
