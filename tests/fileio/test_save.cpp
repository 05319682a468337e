#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <functional>

#include "Recorders.h"

namespace kelvano::test {
namespace {

// Runs `save` while this process may write files of 4096 bytes at most, so that it stops
// part-way as on a full disk: the write past the limit fails with EFBIG (its signal ignored).
bool withSmallFileLimit(const std::function<void()>& save) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit lowered = old;
    lowered.rlim_cur = 4096;
    if (setrlimit(RLIMIT_FSIZE, &lowered) != 0) return false;
    save();
    return setrlimit(RLIMIT_FSIZE, &old) == 0;
}

TEST(Save, AWriteThatFailsPartWayKeepsTheOldFileAndAReplacedFileItsKind) {
    // The sizes of a whole save: 4096 records of 16 bytes, or the bare 64 KB.
    for (const auto& [name, size] : {std::pair{"card.hex", 4096 * 45 + 13},
                                     {"card.s19", 26 + 4096 * 44 + 12 + 12},
                                     {"card.bin", 65536}}) {
        SCOPED_TRACE(name);
        Bench b(26);  // a 64 KB external EEPROM: well past the limit in every format
        const QString file = b.write(name, "the old contents");
        ASSERT_TRUE(withSmallFileLimit([&] { EXPECT_TRUE(b.io.SaveFile(file, 3, 1)); }));
        EXPECT_EQ(b.host.errors, QStringList{"I/O-Error #27\rFile too large\rFile: " + file});
        EXPECT_EQ(b.read(name), "the old contents");
        EXPECT_EQ(QDir(b.dir.path()).entryList(QDir::Files | QDir::System),
                  QStringList{name});  // the cut-off copy is gone

        // Without an old file no cut-off file is left either; with room the save goes through.
        const QString fresh = b.path("fresh." + QFileInfo(name).suffix());
        ASSERT_TRUE(withSmallFileLimit([&] { b.io.SaveFile(fresh, 3, 1); }));
        EXPECT_FALSE(QFile::exists(fresh));
        b.host.errors.clear();
        EXPECT_TRUE(b.io.SaveFile(file, 3, 1));
        EXPECT_TRUE(b.host.errors.isEmpty());
        EXPECT_EQ(b.read(name).size(), size);
    }

    // Replacing keeps permissions and links and refuses read-only files.
    Bench b(10);
    const QString real = b.write("real.hex", "old");
    QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    ASSERT_TRUE(QFile::link(real, b.path("link.hex")));
    ASSERT_TRUE(b.io.SaveFile(b.path("link.hex"), 2, 1));
    EXPECT_TRUE(QFileInfo(b.path("link.hex")).isSymLink());
    EXPECT_TRUE(b.read("real.hex").startsWith(":10000000FFFF"));
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(real).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A pipe is written to, not replaced by a file of its name.
    const QByteArray fifo = QFile::encodeName(b.path("pipe.bin"));
    ASSERT_EQ(mkfifo(fifo.constData(), 0600), 0);
    const int readEnd = open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readEnd, 0);
    ASSERT_TRUE(b.io.SaveFile(b.path("pipe.bin"), 2, 2));
    char received[4096];
    EXPECT_EQ(read(readEnd, received, sizeof received), 2048);
    close(readEnd);
    ASSERT_EQ(stat(fifo.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    const QString locked = b.write("locked.bin", "keep");
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    ASSERT_TRUE(b.io.SaveFile(locked, 2, 2));
    EXPECT_EQ(b.host.errors, QStringList{"I/O-Error #13\rPermission denied\rFile: " + locked});
    EXPECT_EQ(b.read("locked.bin"), "keep");
}

}  // namespace
}  // namespace kelvano::test
