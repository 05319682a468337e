// Image store reader: any bytes as a store. The damage check, the names, every entry and the
// editor's reading agree with each other, nothing is read beyond the store, and a whole store
// without duplicate names packs again into one that gives back the same entries.
#include <QSet>

#include "FuzzCheck.h"
#include "link/ImageStore.h"
#include "link/StoreWriter.h"

using namespace kelvano;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The store is copied into an allocation of its own size: a read past its end leaves it.
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const ImageStore store(bytes);
    const QString damage = ImageStore::damage(bytes);
    const QStringList names = store.names();
    const int count = bytes.isEmpty() ? 0 : uchar(bytes.at(0));
    FUZZ_CHECK(names.size() <= count);
    if (damage.isEmpty()) FUZZ_CHECK(names.size() == count);
    bool everyEntry = true;
    for (int i = 0; i < names.size(); ++i) {
        QByteArray image = "untouched";
        const bool ok = store.entryImage(i, image);
        everyEntry = everyEntry && ok;
        if (!ok) FUZZ_CHECK(image == "untouched");
        FUZZ_CHECK(names.at(i).size() <= StoreWriter::kMaxName);
        // The first entry of a name is the one found by name.
        QByteArray byName = "untouched";
        const bool found = store.LoadImage(names.at(i), byName);
        if (names.indexOf(names.at(i)) == i) FUZZ_CHECK(found == ok && (!ok || byName == image));
    }
    FUZZ_CHECK(damage.isEmpty() == (names.size() == count && everyEntry));

    StoreWriter writer;
    QString error;
    FUZZ_CHECK(writer.read(bytes, &error) == damage.isEmpty());
    if (!damage.isEmpty()) {
        FUZZ_CHECK(error == damage && writer.entries().isEmpty());
        return 0;
    }
    FUZZ_CHECK(writer.entries().size() == names.size());
    const bool duplicate = writer.hasDuplicate();
    FUZZ_CHECK(duplicate == (QSet<QString>(names.begin(), names.end()).size() != names.size()));
    // A store with a name twice is never changed.
    FUZZ_CHECK(duplicate == !writer.changeRefusal().isEmpty());
    if (duplicate) {
        FUZZ_CHECK(!writer.put(QStringLiteral("X"), "x", &error) && !error.isEmpty());
        FUZZ_CHECK(!writer.remove(names.value(0)));
        return 0;
    }
    // Names the editor can write again (a name with a NUL or beyond Latin-1 cannot occur in
    // a read store; an empty one can).
    for (const QString& name : names)
        if (!StoreWriter::nameProblem(name).isEmpty()) return 0;
    const QByteArray packed = writer.pack();
    if (packed.isEmpty()) return 0;  // beyond 4 GB: not reached by a fuzzer's input
    const ImageStore again(packed);
    FUZZ_CHECK(ImageStore::damage(packed).isEmpty());
    FUZZ_CHECK(again.names() == names);
    for (int i = 0; i < names.size(); ++i) {
        QByteArray before, after;
        FUZZ_CHECK(store.entryImage(i, before) && again.entryImage(i, after) && before == after);
    }
    return 0;
}
