// The one set-up of both front ends: where the settings are read and saved, and the paths
// beside the program. (Its links are checked through kelvano-cli's link in tests/cli.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>

#include "base/Options.h"
#include "cli/CliRun.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "session/Session.h"

namespace kelvano {
namespace {

void writeFile(const QString& path, const QByteArray& data, const QDateTime& modified) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush());
    ASSERT_TRUE(f.setFileTime(modified, QFileDevice::FileModificationTime));
}

// A program folder and a user configuration folder of their own.
struct Folders {
    QTemporaryDir program, user;
    QString beside() const { return program.filePath("kelvano.ini"); }
    QString userFile() const { return QDir(user.path()).filePath("cfg/kelvano.ini"); }
    QString userDir() const { return QDir(user.path()).filePath("cfg"); }
    // An installed program: its folder is not the user's own.
    SettingsLocation installed() const {
        return SettingsLocation::choose(program.path(), userDir(), false);
    }
};

const QDateTime kOld = QDateTime::fromSecsSinceEpoch(1'700'000'000);
const QDateTime kNew = QDateTime::fromSecsSinceEpoch(1'700'086'400);

// Beside the program only in a folder of the user's own; an installed program keeps them in the
// user's folder, seeded from a file beside the program that never replaces the user's.
TEST(SettingsLocation, BesideTheProgramOrInTheUsersFolderSeededButNeverReplaced) {
    Folders f;
    // Without a file beside it: the user's folder alone, created so that the first save works.
    EXPECT_FALSE(f.installed().seededFromProgram());
    EXPECT_TRUE(QDir(f.userDir()).exists() && !QFile::exists(f.userFile()));
    writeFile(f.beside(), "; the installer's\r\n[Config]\r\nDevice=21\r\nUsbIds=0547:2131\r\n",
              kOld);
    const SettingsLocation own = SettingsLocation::choose(f.program.path(), f.userDir());
    EXPECT_EQ(own.file(), f.beside());
    EXPECT_FALSE(own.seededFromProgram());
    EXPECT_FALSE(QFile::exists(f.userFile()));
    EXPECT_EQ(QDir(f.program.path()).entryList(QDir::Files),
              QStringList{"kelvano.ini"});  // probe gone

    // Installed, first start: the user has no file yet; the program's seeds it.
    SettingsLocation where = f.installed();
    EXPECT_EQ(where.file(), f.userFile());
    EXPECT_TRUE(where.seededFromProgram());
    SettingsStore store(where.file());
    store.setSection("Config");
    EXPECT_EQ(store.readInt("Device", 10), 21);
    store.setSection("DEV_21");
    ASSERT_TRUE(store.writeString("Load1_1", "/home/u/card.hex"));
    EXPECT_EQ(readAll(f.beside()),
              "; the installer's\r\n[Config]\r\nDevice=21\r\nUsbIds=0547:2131\r\n");

    // The file beside the program is written again, newer than the user's (an administrator
    // ran the program from there): the user's file stays as it is, card sections and all.
    writeFile(f.userFile(), readAll(f.userFile()), kOld);
    writeFile(f.beside(), "[Config]\r\nDevice=31\r\n", kNew);
    where = f.installed();
    EXPECT_EQ(where.file(), f.userFile());
    EXPECT_FALSE(where.seededFromProgram());
    EXPECT_EQ(readAll(f.userFile()),
              "; the installer's\r\n[Config]\r\nDevice=21\r\nUsbIds=0547:2131\r\n\r\n"
              "[DEV_21]\r\nLoad1_1=/home/u/card.hex\r\n");

    // Folders of the system are nobody's own, not even the superuser's who owns them.
    QTemporaryDir other;
    const bool chowned = ::geteuid() == 0 && ::chown(qPrintable(other.path()), 65534, 65534) == 0;
    EXPECT_TRUE(SettingsLocation::usersOwnFolder(f.program.path()));
    for (const QString& dir :
         QStringList{"/usr/bin", "/usr/local/bin", "/opt", "/", f.beside() /* a file */, QString(),
                     chowned ? other.path() : "/proc"})
        EXPECT_FALSE(SettingsLocation::usersOwnFolder(dir)) << dir.toStdString();

    // A program in /usr/bin keeps its settings in the user's folder, whoever runs it.
    Session installed({QStringLiteral("/usr/bin"), f.userDir()});
    EXPECT_EQ(installed.settingsLocation().file(), f.userFile());
    EXPECT_EQ(installed.programDir(), "/usr/bin/");
    EXPECT_EQ(installed.crdPath(), "/usr/bin/kelvano.crd");
    // "usb" is a serial port's name; the simulator's name has any case.
    EXPECT_TRUE(Session::isUsbPort("USB") && !Session::isUsbPort("usb"));
    EXPECT_TRUE(Session::isSimulatorPort("SIM") && Session::isSimulatorPort("sim"));
    EXPECT_FALSE(Session::isSimulatorPort("/dev/SIM"));
}

// A port named on the command line is for its run: the settings keep the port they had,
// unless the user chose another one meanwhile.
TEST(Settings, APortNamedForTheRunIsNotSaved) {
    Folders f;
    writeFile(f.beside(), "[Config]\r\nPort=/dev/ttyS1\r\n", kOld);
    SettingsStore store(f.beside());
    Options options;
    TDevices devices;
    EnableBoxes enable;
    FuseModel fuses;
    SlotFiles files;
    SettingsContext ctx{options, devices, enable, fuses, files, "2.5.0.2", {}, "SIM"};
    options.ports = {"/dev/ttyS0", "/dev/ttyS1", "SIM"};
    ASSERT_TRUE(IniConfig(store, ctx, false));
    EXPECT_EQ(options.portName(), "/dev/ttyS1");

    options.selectPort("sim");
    ASSERT_TRUE(IniConfig(store, ctx, true));
    store.setSection("Config");
    EXPECT_EQ(store.readString("Port", {}), "/dev/ttyS1");
    EXPECT_EQ(store.readString("Version", {}), "2.5.0.2");  // the rest of the section is saved

    options.selectPort("/dev/ttyS0");
    ASSERT_TRUE(IniConfig(store, ctx, true));
    EXPECT_EQ(store.readString("Port", {}), "/dev/ttyS0");
}

// Windows keeps a profile file in UTF-16, little-endian behind its byte order mark.
TEST(Settings, AUtf16FileIsReadToTheLastCharacter) {
    Folders f;
    const QString text = QString::fromUtf8("[Config]\r\nDevice=21\r\nPort=/dev/tty\u00C41\r\n");
    writeFile(f.beside(),
              "\xFF\xFE" + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2),
              kOld);
    SettingsStore store(f.beside());
    store.setSection("Config");
    EXPECT_EQ(store.readInt("Device", 10), 21);
    EXPECT_EQ(store.readString("Port", {}), QString::fromUtf8("/dev/tty\u00C41"));
}

}  // namespace
}  // namespace kelvano
