// The one set-up of both front ends: where the settings are read and saved, the paths beside
// the program, and one simulated box per link.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/Host.h"
#include "base/MainView.h"
#include "base/Options.h"
#include "base/QuietHost.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "link/uCom.h"
#include "link/uUsb.h"
#include "session/Session.h"

namespace kelvano {
namespace {

// The link's timers need an application object for the whole run.
int qtArgc = 1;
char qtName[] = "test_session";
char* qtArgv[] = {qtName, nullptr};
QCoreApplication qtApp(qtArgc, qtArgv);

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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

TEST(SettingsLocation, BesideTheProgramOnlyInAFolderOfTheUsersOwn) {
    Folders f;
    writeFile(f.beside(), "[Config]\r\nDevice=21\r\n", kOld);
    const SettingsLocation where = SettingsLocation::choose(f.program.path(), f.userDir());
    EXPECT_EQ(where.file(), f.beside());
    EXPECT_FALSE(where.seededFromProgram());
    EXPECT_FALSE(QFile::exists(f.userFile()));
    EXPECT_EQ(QDir(f.program.path()).entryList(QDir::Files),
              QStringList{"kelvano.ini"});  // probe gone

    // Folders of the system are nobody's own, not even the superuser's who owns them.
    QTemporaryDir other;
    const bool chowned = ::geteuid() == 0 && ::chown(qPrintable(other.path()), 65534, 65534) == 0;
    const struct {
        QString dir;
        bool own;
    } folders[] = {
        {f.program.path(), true},
        {"/usr/bin", false},
        {"/usr/local/bin", false},
        {"/opt", false},
        {"/", false},
        {f.beside(), false},  // a file
        {QString(), false},
        {chowned ? other.path() : QStringLiteral("/proc"), false},
    };
    for (const auto& c : folders)
        EXPECT_EQ(SettingsLocation::usersOwnFolder(c.dir), c.own) << c.dir.toStdString();

    // A program in /usr/bin keeps its settings in the user's folder, whoever runs it.
    Session installed({QStringLiteral("/usr/bin"), f.userDir()});
    EXPECT_EQ(installed.settingsLocation().file(), f.userFile());
}

TEST(SettingsLocation, AFileBesideAnInstalledProgramSeedsTheUsersFileButNeverReplacesIt) {
    Folders f;
    // Without a file beside it: the user's folder alone, created so that the first save works.
    EXPECT_FALSE(f.installed().seededFromProgram());
    EXPECT_TRUE(QDir(f.userDir()).exists() && !QFile::exists(f.userFile()));
    writeFile(f.beside(), "; the installer's\r\n[Config]\r\nDevice=21\r\nUsbIds=0547:2131\r\n",
              kOld);

    // First start: the user has no file yet; the program's seeds it.
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
    const QByteArray users = readAll(f.userFile());
    writeFile(f.beside(), "[Config]\r\nDevice=31\r\n", kNew);
    where = f.installed();
    EXPECT_EQ(where.file(), f.userFile());
    EXPECT_FALSE(where.seededFromProgram());
    EXPECT_EQ(readAll(f.userFile()), users);
    store.setFileName(where.file());
    store.setSection("Config");
    EXPECT_EQ(store.readInt("Device", 10), 21);
    store.setSection("DEV_21");
    EXPECT_EQ(store.readString("Load1_1", {}), "/home/u/card.hex");
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

// The store and the USB ids of the files beside the program reaching the link, the simulated box
// and the USB driver are checked through kelvano-cli's link in tests/cli; here the paths.
TEST(Session, PathsAndPortNames) {
    Folders f;
    Session session({f.program.path(), f.userDir()});
    EXPECT_EQ(session.programDir(), f.program.path() + "/");
    EXPECT_EQ(session.crdPath(), f.program.filePath("kelvano.crd"));
    // "usb" is a serial port's name; the simulator's name has any case.
    EXPECT_TRUE(Session::isUsbPort("USB") && !Session::isUsbPort("usb"));
    EXPECT_TRUE(Session::isSimulatorPort("SIM") && Session::isSimulatorPort("sim"));
    EXPECT_FALSE(Session::isSimulatorPort("/dev/SIM"));
}

// One link as a production line would run it: its own ports and its own TCom.
struct Link {
    Link(Session& session, Clock& clock, int card) : ports(session, clock, card) {
        options.ports = {"SIM"};
        options.portIndex = 0;
        com = std::make_unique<TCom>(host, clock, view, options, usb, ports.factory(),
                                     session.store());
    }
    QuietHost host;
    NullMainView view;
    Options options;
    TUsb usb;
    BoxPorts ports;
    std::unique_ptr<TCom> com;
};

TEST(BoxPorts, EveryLinkHasASimulatedBoxOfItsOwn) {
    Folders f;
    Session session({f.program.path(), f.userDir()});
    VirtualClock clock;
    Link first(session, clock, 10), second(session, clock, 21);
    ASSERT_NE(&first.ports.simBox(), &second.ports.simBox());
    EXPECT_EQ(first.ports.simBox().card().type(), 10);
    EXPECT_EQ(second.ports.simBox().card().type(), 21);

    first.com->Connect();
    ASSERT_TRUE(first.com->linkReady()) << first.host.errors.join('|').toStdString();

    second.com->Connect();
    ASSERT_TRUE(second.com->linkReady());
    QByteArray reply;
    second.ports.simBox().removeCard();
    EXPECT_TRUE(first.com->Transact("K", reply, 0) == 1 && reply == "0");  // card still in
    EXPECT_TRUE(second.com->Transact("K", reply, 0) == 1 && reply == "6");

    // A second connect of one link reaches the same box again, as a real box would be.
    const qsizetype exchanges = first.ports.simBox().trace().size();
    first.com->Disconnect();
    first.com->Connect();
    EXPECT_TRUE(first.com->linkReady());
    EXPECT_GT(first.ports.simBox().trace().size(), exchanges);
}

}  // namespace
}  // namespace kelvano
