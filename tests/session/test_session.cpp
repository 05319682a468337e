// The one set-up of both front ends: where the settings are read and saved, the store and the
// simulated box it feeds, the USB ids of the settings, and one simulated box per link.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/Host.h"
#include "base/MainView.h"
#include "base/QuietHost.h"
#include "link/QtSerialPortImpl.h"
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
    SettingsLocation readOnlyProgram() const {
        return SettingsLocation::choose(program.path(), userDir(), false);
    }
};

const QDateTime kOld = QDateTime::fromSecsSinceEpoch(1'700'000'000);
const QDateTime kNew = QDateTime::fromSecsSinceEpoch(1'700'086'400);

TEST(SettingsLocation, BesideTheProgramWhileItsFolderIsWritable) {
    Folders f;
    writeFile(f.beside(), "[Config]\r\nDevice=21\r\n", kOld);
    EXPECT_TRUE(SettingsLocation::folderWritable(f.program.path()));
    const SettingsLocation where = SettingsLocation::choose(f.program.path(), f.userDir());
    EXPECT_EQ(where.file(), f.beside());
    EXPECT_FALSE(where.tookProgramCopy());
    EXPECT_FALSE(QFile::exists(f.userFile()));
    EXPECT_EQ(QDir(f.program.path()).entryList(QDir::Files),
              QStringList{"kelvano.ini"});  // probe gone

    // A folder that cannot be a folder is not writable.
    EXPECT_FALSE(SettingsLocation::folderWritable(f.beside()));
    EXPECT_FALSE(SettingsLocation::folderWritable(QString()));
}

TEST(SettingsLocation, ReadOnlyProgramFolderReadsItsFileAndSavesToTheUsersFolder) {
    Folders f;
    writeFile(f.beside(), "; the installer's\r\n[Config]\r\nDevice=21\r\nUsbIds=0547:2131\r\n",
              kOld);

    // First start: the user has no file yet; the program's is read through a copy.
    SettingsLocation where = f.readOnlyProgram();
    EXPECT_EQ(where.file(), f.userFile());
    EXPECT_TRUE(where.tookProgramCopy());
    SettingsStore store(where.file());
    store.setSection("Config");
    EXPECT_EQ(store.readInt("Device", 10), 21);
    ASSERT_TRUE(store.writeInt("Device", 25));
    EXPECT_EQ(readAll(f.beside()),
              "; the installer's\r\n[Config]\r\nDevice=21\r\nUsbIds=0547:2131\r\n");
    EXPECT_TRUE(readAll(f.userFile()).contains("UsbIds=0547:2131\r\n"));

    // Next start: the user's file is the newer one and stays, its text untouched.
    writeFile(f.userFile(), readAll(f.userFile()), kNew);
    const QByteArray saved = readAll(f.userFile());
    where = f.readOnlyProgram();
    EXPECT_EQ(where.file(), f.userFile());
    EXPECT_FALSE(where.tookProgramCopy());
    EXPECT_EQ(readAll(f.userFile()), saved);
    store.setFileName(where.file());
    EXPECT_EQ(store.readInt("Device", 10), 25);

    // An installer puts a newer file beside the program: that one is taken.
    writeFile(f.beside(), "[Config]\r\nDevice=31\r\n", kNew.addSecs(60));
    where = f.readOnlyProgram();
    EXPECT_TRUE(where.tookProgramCopy());
    store.setFileName(where.file());
    EXPECT_EQ(store.readInt("Device", 10), 31);
}

TEST(SettingsLocation, ReadOnlyProgramFolderWithoutAFileUsesTheUsersFolderAlone) {
    Folders f;
    SettingsLocation where = f.readOnlyProgram();
    EXPECT_EQ(where.file(), f.userFile());
    EXPECT_FALSE(where.tookProgramCopy());
    EXPECT_TRUE(QDir(f.userDir()).exists());  // created, so that the first save succeeds
    EXPECT_FALSE(QFile::exists(f.userFile()));
}

// The store beside the program reaching the link and the simulated box is checked through
// kelvano-cli's link in tests/cli; here the paths and the store without a file.
TEST(Session, PathsAndTheBuiltInStore) {
    Folders f;
    Session session({f.program.path(), f.userDir()});
    EXPECT_EQ(session.programDir(), f.program.path() + "/");
    EXPECT_EQ(session.crdPath(), f.program.filePath("kelvano.crd"));
    // Without a store file: the built-in store, whose PICLOAD is the simulated box's demo loader.
    const auto box = session.makeSimBox(13);
    EXPECT_EQ(box->card().type(), 13);
    EXPECT_TRUE(ImageStore::isDemoImage(box->loaderImages().value("PICLOAD")));
    QByteArray image;
    EXPECT_TRUE(session.store().LoadImage("PICLOAD", image) && ImageStore::isDemoImage(image));
}

TEST(Session, UsbIdsOfTheSettingsReachTheUsbDriver) {
    Folders f;
    writeFile(f.beside(), "[Config]\r\nUsbIds=1209:4b56, 16C0:05DC,zz:1\r\n", kOld);
    Session session({f.program.path(), f.userDir()});
    EXPECT_EQ(session.settingsLocation().file(), f.beside());
    const auto usb = session.makeUsbBackend();
    const auto* libusb = dynamic_cast<const LibusbBackend*>(usb.get());
    ASSERT_NE(libusb, nullptr);
    const QList<LibusbBackend::UsbId> fromSettings{{0x1209, 0x4B56}, {0x16C0, 0x05DC}};
    EXPECT_EQ(libusb->knownIds(), LibusbBackend::defaultIds() + fromSettings);
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
    EXPECT_TRUE(first.ports.simBox().inCommandMode());
    EXPECT_FALSE(second.ports.simBox().inCommandMode());
    EXPECT_TRUE(second.ports.simBox().trace().isEmpty());

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

    // Any other name is a port of the system.
    auto factory = first.ports.factory();
    EXPECT_NE(dynamic_cast<QtSerialPortImpl*>(factory("/dev/ttyUSB0").get()), nullptr);
    EXPECT_EQ(dynamic_cast<QtSerialPortImpl*>(factory("Sim").get()), nullptr);
}

}  // namespace
}  // namespace kelvano
