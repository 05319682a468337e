// kelvano-packstore: packs image files into the program's image store.
//
//   kelvano-packstore -o OUT.store NAME=FILE [NAME=FILE ...]
//
// Entries are stored in the order given. Exit status 0 on success, 1 on any error.
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <cstdio>

#include "link/StoreWriter.h"

namespace {
int fail(const QString& text) {
    std::fprintf(stderr, "kelvano-packstore: %s\n", qPrintable(text));
    return 1;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();

    QString outName;
    kelvano::StoreWriter store;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("-o")) {
            if (++i >= args.size()) return fail(QStringLiteral("-o needs a file name"));
            outName = args.at(i);
            continue;
        }
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (eq <= 0) return fail(QStringLiteral("expected NAME=FILE, got \"%1\"").arg(a));
        const QString name = a.left(eq);
        QFile in(a.mid(eq + 1));
        if (!in.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(in.fileName(), in.errorString()));
        QString error;
        if (store.indexOf(name) >= 0)
            return fail(QStringLiteral("the name \"%1\" is given twice").arg(name));
        if (!store.put(name, in.readAll(), &error)) return fail(error);
    }
    if (outName.isEmpty())
        return fail(QStringLiteral("usage: kelvano-packstore -o OUT NAME=FILE ..."));

    const QByteArray data = store.pack();
    if (data.isEmpty()) return fail(QStringLiteral("cannot pack: the store would pass 4 GB"));

    QSaveFile out(outName);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(outName, out.errorString()));
    return 0;
}
