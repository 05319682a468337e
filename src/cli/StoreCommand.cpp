// kelvano-cli store: builds and inspects an image store file (kelvano.store) from loader and
// firmware images, so that the box maker's images can be brought in by the user.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>
#include <memory>

#include "base/DataFiles.h"
#include "cli/Commands.h"
#include "cli/TerminalHost.h"
#include "device/uDevices.h"
#include "fileio/uFileio.h"
#include "link/ImageStore.h"
#include "link/StoreWriter.h"
#include "link/uCom.h"

namespace kelvano {

namespace {

int usageError(const QString& text) {
    std::fprintf(stderr, "kelvano-cli: store: %s\n(see kelvano-cli --help)\n", qPrintable(text));
    return 2;
}

int failure(const QString& text) {
    std::fprintf(stderr, "kelvano-cli: store: %s\n", qPrintable(text));
    return 1;
}

// The card types whose loader carries this name, from the catalogue.
QList<const TDeviceEntry*> cardsOfLoader(const QString& name) {
    QList<const TDeviceEntry*> cards;
    for (const TDeviceEntry& e : catalogue())
        if (e.loaderImage && name == QLatin1String(e.loaderImage)) cards.append(&e);
    return cards;
}

QString useOf(const QString& name) {
    const QList<const TDeviceEntry*> cards = cardsOfLoader(name);
    if (!cards.isEmpty()) {
        QStringList codes;
        for (const TDeviceEntry* e : cards) codes << QString::number(e->code);
        return QStringLiteral("EEPROM loader of card types ") + codes.join(QLatin1Char(' '));
    }
    if (name == QLatin1String("QXBASE")) return QStringLiteral("firmware of the QXBASE box");
    if (name == QLatin1String("QXUSB"))
        return QStringLiteral("needed for the USB box (contents unused)");
    return QStringLiteral("not used by the program");
}

// Empty when `image` may be stored under `name`, otherwise why not.
QString fitProblem(const QString& name, const QByteArray& image, const QString& file) {
    if (image.isEmpty()) return QStringLiteral("%1 holds no bytes").arg(file);
    for (const TDeviceEntry* e : cardsOfLoader(name)) {
        const int bytes = e->flashWords * 2;
        if (image.size() > bytes)
            return QStringLiteral(
                       "%1 holds %2 bytes: the loader \"%3\" must fit the program memory "
                       "of card type %4 (%5 bytes)")
                .arg(file)
                .arg(image.size())
                .arg(name)
                .arg(e->code)
                .arg(bytes);
    }
    if (name == QLatin1String("QXBASE") &&
        (image.size() < 22 || image.size() > TCom::kMaxFirmwareSize))
        return QStringLiteral("%1 holds %2 bytes: a QXBASE firmware image holds 22 to %3 bytes")
            .arg(file)
            .arg(image.size())
            .arg(TCom::kMaxFirmwareSize);
    return {};
}

// An Intel HEX file (its first character ':') through the program's reader, from address 0 to
// the last byte that is not FF, in whole 16-bit words; any other file byte for byte.
bool readImage(const QString& path, QByteArray& image) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        failure(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
        return false;
    }
    const QByteArray raw = f.readAll();
    if (!raw.trimmed().startsWith(':')) {
        image = raw;
        return true;
    }
    TerminalHost host(true);
    TDevices devices;
    FuseModel fuses;
    auto io = std::make_unique<TFileIo>(host, devices, fuses, nullptr);
    io->FileName = path;
    const int result = io->ReadHexFile();
    if (result != kLoadOk) {
        if (host.errorCount() == 0) io->ReportLoadError(result);
        return false;
    }
    int end = TFileIo::kImageSize;
    while (end > 0 && io->Image[size_t(end - 1)] == 0xFF) --end;
    end += end % 2;
    image = QByteArray(reinterpret_cast<const char*>(io->Image.data()), end);
    return true;
}

// The store the program reads; where there is none yet, the program's folder when it may be
// written, else the user's data folder (which the program reads next).
QString defaultStorePath() {
    const QString programDir = QCoreApplication::applicationDirPath();
    QString found = findDataFile(programDir, ImageStore::storeFileName());
    if (!found.isEmpty()) return found;
    const QString folder =
        QFileInfo(programDir).isWritable() ? programDir : dataFileFolders(programDir).value(1);
    return QDir(folder).filePath(ImageStore::storeFileName());
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        failure(QStringLiteral("cannot write %1: %2").arg(path, out.errorString()));
        return false;
    }
    return true;
}

int list(const StoreWriter& store, const QString& path, bool exists) {
    std::printf("%s%s: %d %s\n", qPrintable(path),
                exists ? "" : " (not there yet: the store built into the program)",
                int(store.entries().size()), store.entries().size() == 1 ? "entry" : "entries");
    QStringList seen;
    for (const StoreWriter::Entry& e : store.entries()) {
        // The program takes the first entry of a name; a second one is never used.
        const QString use = seen.contains(e.name)
                                ? QStringLiteral("never used: a second entry of this name")
                                : useOf(e.name);
        seen << e.name;
        std::printf("%-8s %6d bytes  %s\n", qPrintable(e.name), int(e.image.size()),
                    qPrintable(use));
    }
    return 0;
}

// The store the command starts from, in `store`; false (with the reason shown) when the file
// may not be used. A store that is not there yet starts as the one built into the program, so
// that a new file beside the program keeps what the program carries (QXUSB, for one). A store
// named on the command line must be there, unless it is being made by an add.
bool openStore(const QString& path, const QString& verb, bool named, StoreWriter& store,
               bool& exists) {
    auto refuse = [](const QString& text) {
        failure(text);
        return false;
    };
    QFile file(path);
    exists = file.exists();
    if (QFileInfo(path).isDir())
        return refuse(QStringLiteral("%1 is a folder, not a file").arg(path));
    if (!exists && named && verb != QLatin1String("add"))
        return refuse(QStringLiteral("%1 does not exist").arg(path));
    QByteArray data = ImageStore::builtInData();
    if (exists) {
        if (!file.open(QIODevice::ReadOnly))
            return refuse(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        data = file.readAll();
        // An empty file is no store (the program refuses it too); an add may fill it.
        if (data.isEmpty() && verb != QLatin1String("add"))
            return refuse(QStringLiteral("%1 is damaged: the file is empty").arg(path));
    }
    QString error;
    if (!store.read(data, &error))
        return refuse(QStringLiteral("%1 is damaged: %2").arg(path, error));
    return true;
}

}  // namespace

int runStore(const CliArgs& args) {
    const QStringList& p = args.positional;
    const QString verb = p.value(0);
    static const QMap<QString, int> arity{{"list", 1}, {"add", 3}, {"remove", 2}, {"extract", 3}};
    if (!arity.contains(verb))
        return usageError(QStringLiteral("store takes list, add, remove or extract"));
    if (p.size() != arity.value(verb))
        return usageError(QStringLiteral("store %1 takes %2")
                              .arg(verb, verb == QLatin1String("list")     ? "nothing more"
                                         : verb == QLatin1String("remove") ? "NAME"
                                                                           : "NAME FILE"));
    const bool named = args.options.contains(QStringLiteral("store"));
    const QString path = args.options.value(QStringLiteral("store"), defaultStorePath());
    if (verb == QLatin1String("add") && !StoreWriter::nameProblem(p.at(1)).isEmpty())
        return usageError(StoreWriter::nameProblem(p.at(1)));

    StoreWriter store;
    bool exists = false;
    if (!openStore(path, verb, named, store, exists)) return 1;
    QString error;

    if (verb == QLatin1String("list")) return list(store, path, exists);
    const QString name = p.at(1);
    if (verb != QLatin1String("extract") && !store.changeRefusal().isEmpty())
        return failure(QStringLiteral("%1 is left as it is: %2").arg(path, store.changeRefusal()));
    if (verb == QLatin1String("add")) {
        QByteArray image;
        if (!readImage(p.at(2), image)) return 1;
        const QString fit = fitProblem(name, image, p.at(2));
        if (!fit.isEmpty()) return failure(fit);
        const bool replaced = store.indexOf(name) >= 0;
        if (!store.put(name, image, &error)) return failure(error);
        if (!writeFile(path, store.pack())) return 1;
        std::printf("%s \"%s\" (%d bytes) in %s\n", replaced ? "Replaced" : "Added",
                    qPrintable(name), int(image.size()), qPrintable(path));
        return 0;
    }
    const int at = store.indexOf(name);
    if (at < 0) return failure(QStringLiteral("no entry \"%1\" in %2").arg(name, path));
    if (verb == QLatin1String("extract"))
        return writeFile(p.at(2), store.entries().at(at).image) ? 0 : 1;
    store.remove(name);
    if (!writeFile(path, store.pack())) return 1;
    std::printf("Removed \"%s\" from %s\n", qPrintable(name), qPrintable(path));
    return 0;
}

}  // namespace kelvano
