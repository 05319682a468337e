#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/Settings.h"
#include "base/Options.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using testing_support::readAll;
using testing_support::writeAll;

// The program state that the two sections move in and out of.
struct State {
    Options options;
    TDevices devices;
    EnableBoxes enable;
    FuseModel fuses;
    SlotFiles files;
    SettingsContext ctx{options, devices, enable, fuses, files, QStringLiteral("2.5.0.2"), {}};

    State() { options.ports = {"COM1", "COM10", "COM2", "USB", "SIM"}; }
};

class SettingsTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("kelvano.ini"); }
};

TEST_F(SettingsTest, MissingFileGivesTheDefaults) {
    SettingsStore store(path());
    State s;
    s.options.ports = {"COM3", "COM4"};
    s.devices.DeviceId = 99;
    s.files.SlotFilter = {7, 7, 7, 7};
    s.enable.prog = s.enable.eep = false;
    s.fuses.avr = {};
    EXPECT_TRUE(IniConfig(store, s.ctx, false));
    EXPECT_EQ(s.options.portName(), "COM3");  // "COM1" is not listed: the first port
    EXPECT_FALSE(s.options.conAtStart || s.options.loadAtCon || s.options.verify || s.options.alwaysErase);
    EXPECT_TRUE(s.options.soundReady && s.options.smartAuto && s.options.warnEnable);
    EXPECT_EQ(s.devices.DeviceId, 10);
    EXPECT_EQ(s.files.SlotFilter[3], 1);

    s.options.ports = {"COM1", "COM10"};
    IniConfig(store, s.ctx, false);
    EXPECT_EQ(s.options.portName(), "COM1");

    s.devices.DeviceId = 22;
    s.files.RecentFiles[1][1] = "stale.hex";
    EXPECT_TRUE(IniDevice(store, s.ctx, false));
    EXPECT_TRUE(s.enable.prog && s.enable.data && s.enable.config && s.enable.eep);
    EXPECT_TRUE(s.files.RecentFiles[1][1].isEmpty());
    // The lock and fuse boxes read 0 when the section has no value for them.
    EXPECT_FALSE(s.fuses.avr.lockBit1 || s.fuses.avr.lockBit2 || s.fuses.avr.avrFuse);
    EXPECT_FALSE(QFile::exists(path()));  // reading never creates the file
}

TEST_F(SettingsTest, WritesBothSectionsInTheDesignedLayout) {
    SettingsStore store(path());
    State s;
    s.options.selectPort("COM10");
    s.options.conAtStart = true;
    s.options.soundReady = true;
    s.options.smartAuto = true;
    s.devices.DeviceId = 20;
    s.files.SlotFile[1] = "C:\\cards\\fun.hex";
    s.files.SlotFilter[2] = 3;
    ASSERT_TRUE(IniConfig(store, s.ctx, true)) << store.errorString().toStdString();

    s.ctx.deviceName = "AVR-Fun 2 (AT90S8515 + 24C64)";
    s.enable.data = false;
    s.enable.eep = false;
    s.files.RecentFiles[1][1] = "a.hex";
    s.files.RecentFiles[2][1] = "a.eep";
    s.files.RecentFiles[3][1] = "a.bin";
    s.files.RecentFiles[1][2] = "b.hex";
    s.fuses.avr.lockBit1 = true;
    s.fuses.avr.lockBit2 = false;
    s.fuses.avr.avrFuse = true;
    ASSERT_TRUE(IniDevice(store, s.ctx, true));

    const QByteArray expected =
        "[Config]\r\nVersion=2.5.0.2\r\nPort=COM10\r\nAutoConn=1\r\nAutoLoad=0\r\n"
        "SoundFinish=1\r\nProgVerify=0\r\nAlwaysErase=0\r\nSmartAutostart=1\r\n"
        "EnableWarnings=0\r\nDevice=20\r\nOpen1File=C:\\cards\\fun.hex\r\nOpen1Filter=1\r\n"
        "Open2File=\r\nOpen2Filter=3\r\nOpen3File=\r\nOpen3Filter=1\r\n\r\n\r\n"
        "[DEV_20]\r\nDeviceName=AVR-Fun 2 (AT90S8515 + 24C64)\r\nProgMem=1\r\nDataMem=0\r\n"
        "Config=1\r\nEepMem=0\r\nLoad1_1=a.hex\r\nLoad2_1=a.eep\r\nLoad3_1=a.bin\r\n"
        "Load1_2=b.hex\r\nLockbit1=1\r\nLockbit2=0\r\nAVRFuse1=1\r\n";
    EXPECT_EQ(readAll(path()), expected);

    // Everything comes back into a fresh program state.
    State r;
    IniConfig(store, r.ctx, false);
    EXPECT_EQ(r.options.portName(), "COM10");
    EXPECT_TRUE(r.options.conAtStart && !r.options.warnEnable);
    EXPECT_EQ(r.devices.DeviceId, 20);
    EXPECT_EQ(r.files.SlotFile[1], s.files.SlotFile[1]);
    EXPECT_EQ(r.files.SlotFilter[2], 3);
    IniDevice(store, r.ctx, false);
    EXPECT_FALSE(r.enable.data || r.enable.eep);
    EXPECT_TRUE(r.enable.progEnabled);  // coupling rule ran: EEPROM box unticked
    EXPECT_EQ(r.files.RecentFiles, s.files.RecentFiles);
    EXPECT_TRUE(r.fuses.avr.lockBit1 && !r.fuses.avr.lockBit2 && r.fuses.avr.avrFuse);
}

TEST_F(SettingsTest, CardTypeSectionsKeepTheirOwnChoices) {
    SettingsStore store(path());
    State s;
    EXPECT_EQ(deviceSection(5), "DEV_05");
    // An AVR-Fun card with three recent lists and its lock boxes, then a PIC card, then back.
    s.devices.DeviceId = 24;
    for (int slot = 1; slot <= 3; ++slot) s.files.RecentFiles[slot][1] = QString("fun%1").arg(slot);
    s.fuses.avr.lockBit2 = true;
    s.fuses.avr.lockBit1 = false;
    IniDevice(store, s.ctx, true);

    s.devices.DeviceId = 10;
    IniDevice(store, s.ctx, false);
    EXPECT_TRUE(s.files.RecentFiles[1][1].isEmpty());
    EXPECT_TRUE(s.files.RecentFiles[2][1].isEmpty());
    EXPECT_EQ(s.files.RecentFiles[3][1], "fun3");  // PIC cards have no slot 3: left alone
    s.fuses.avr.lockBit2 = false;
    s.enable.eep = true;
    IniDevice(store, s.ctx, true);
    const QByteArray written = readAll(path());
    EXPECT_FALSE(written.mid(written.indexOf("[DEV_10]")).contains("Load3_"));

    s.devices.DeviceId = 24;
    IniDevice(store, s.ctx, false);
    EXPECT_EQ(s.files.RecentFiles[1][1], "fun1");
    EXPECT_EQ(s.files.RecentFiles[2][1], "fun2");
    EXPECT_TRUE(s.fuses.avr.lockBit2);
    EXPECT_FALSE(s.enable.progEnabled);  // EEPROM box ticked: the others are greyed

    // The ATmega keys belong to the ATmega161 page for 30 and to the ATmega163 page for 31.
    s.devices.DeviceId = 30;
    s.fuses.mega161.osc = 6;
    s.fuses.mega161.blb12 = true;
    s.fuses.mega163.osc = 0;
    IniDevice(store, s.ctx, true);
    s.devices.DeviceId = 31;
    s.fuses.mega163.osc = 11;
    s.fuses.mega163.bootSize = 2;
    s.fuses.mega163.bootrst = true;
    IniDevice(store, s.ctx, true);
    const QByteArray file = readAll(path());
    EXPECT_TRUE(file.contains("[DEV_30]"));
    EXPECT_TRUE(file.contains("Oscillator=6\r\nBODEN=0\r\nBODLEVEL=0\r\nBOOTRST=0\r\n"));
    EXPECT_TRUE(file.contains("Oscillator=11\r\nBODEN=0\r\nBODLEVEL=0\r\nBOOTRST=1\r\nBootSize=2"));
    EXPECT_EQ(file.count("BootSize"), 1);

    State r;
    r.devices.DeviceId = 30;
    IniDevice(store, r.ctx, false);
    EXPECT_TRUE(r.fuses.mega161.osc == 6 && r.fuses.mega161.blb12 && r.fuses.mega163.osc == 0);
    r.devices.DeviceId = 31;
    IniDevice(store, r.ctx, false);
    EXPECT_TRUE(r.fuses.mega163.osc == 11 && r.fuses.mega163.bootSize == 2 && r.fuses.mega163.bootrst);
}

TEST_F(SettingsTest, ReadsFilesWrittenByTheWindowsProfileFunctions) {
    writeAll(path(),
             "[other]\r\nkeep=me\r\n\r\n"
             "[config]\r\nport=com2\r\nAUTOCONN=1\r\nSoundFinish = 0x0\r\n"
             "EnableWarnings=yes\r\nProgVerify=0X1\r\ndevice=0x1F\r\n"
             "Open1File=\"C:\\My Cards\\card.hex\"\r\nopen1filter=2\r\nopen1filter=5\r\n"
             "Open2File=C:\\D\xe9p\xf4t\\x.bin\r\nUsbIds=0547:2131, 04b4:8613,zz:1,1:2:3\r\n"
             "\r\n[Dev_31]\r\nprogmem=0\r\neepmem=0\r\nOSCILLATOR=99\r\nBootSize=-1\r\nlb1=1\r\n");
    SettingsStore store(path());
    State s;
    s.options.ports = {"COM1", "COM2"};
    IniConfig(store, s.ctx, false);
    EXPECT_EQ(s.options.portName(), "COM2");
    EXPECT_TRUE(s.options.conAtStart);
    EXPECT_FALSE(s.options.soundReady);     // "0x0"
    EXPECT_TRUE(s.options.warnEnable);      // "yes" is no number: the default
    EXPECT_TRUE(s.options.verify);
    EXPECT_EQ(s.devices.DeviceId, 31);
    EXPECT_EQ(s.files.SlotFile[1], "C:\\My Cards\\card.hex");  // quotes removed
    EXPECT_EQ(s.files.SlotFilter[1], 2);                       // the first of two keys
    EXPECT_EQ(s.files.SlotFile[2], QString::fromUtf8("C:\\Dépôt\\x.bin"));  // code page text
    const auto ids = readUsbIds(store);
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids[0], std::make_pair(uint16_t(0x0547), uint16_t(0x2131)));
    EXPECT_EQ(ids[1], std::make_pair(uint16_t(0x04B4), uint16_t(0x8613)));

    IniDevice(store, s.ctx, false);
    EXPECT_FALSE(s.enable.prog);
    EXPECT_TRUE(s.fuses.mega163.lb1);
    EXPECT_EQ(s.fuses.mega163.osc, 0);       // 99 names no list entry
    EXPECT_EQ(s.fuses.mega163.bootSize, 0);

    // Saving keeps the user's names, the unknown section and key, and rewrites in place.
    ASSERT_TRUE(IniConfig(store, s.ctx, true));
    const QByteArray file = readAll(path());
    EXPECT_TRUE(file.startsWith("[other]\r\nkeep=me\r\n"));
    EXPECT_TRUE(file.contains("[config]\r\nport=COM2\r\nAUTOCONN=1\r\nSoundFinish=0\r\n"));
    EXPECT_TRUE(file.contains("Open2File=C:\\D\xe9p\xf4t\\x.bin\r\n"));  // still in its code page
    EXPECT_TRUE(file.contains("UsbIds=0547:2131, 04b4:8613,zz:1,1:2:3\r\n"));
    EXPECT_TRUE(file.contains("[Dev_31]\r\nprogmem=0\r\n"));
    EXPECT_FALSE(file.contains("\n\n"));  // every line ends in CR LF
    EXPECT_EQ(file.count("Version="), 1);

    // A profile file kept in UTF-16 reads as well.
    const QString text = "[Config]\r\nPort=SIM\r\nDevice=23\r\n";
    QByteArray utf16("\xFF\xFE", 2);
    utf16.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    writeAll(path(), utf16);
    State u;
    IniConfig(store, u.ctx, false);
    EXPECT_EQ(u.options.portName(), "SIM");
    EXPECT_EQ(u.devices.DeviceId, 23);
}

TEST_F(SettingsTest, OddValuesReadSafely) {
    SettingsStore store(path());
    store.setSection("S");
    const std::pair<const char*, int> ints[] = {
        {"7", 7},        {" -12 ", -12}, {"+5", 5},          {"0x7fffffff", 0x7FFFFFFF},
        {"0xFFFFFFFF", -1}, {"12abc", 42}, {"0x", 42},       {"0x123456789", 42},
        {"99999999999", 42}, {"", 42},  {"-", 42},           {"1.5", 42}};
    for (const auto& [text, expected] : ints) {
        ASSERT_TRUE(store.writeString("k", QString::fromLatin1(text)));
        EXPECT_EQ(store.readInt("k", 42), expected) << text;
    }
    EXPECT_EQ(store.readInt("missing", -3), -3);
    EXPECT_TRUE(store.readBool("missing", true));
    store.writeString("k", "2");
    EXPECT_TRUE(store.readBool("k", false));

    // A line break in a value must not end the line and smuggle in a key of its own.
    ASSERT_TRUE(store.writeString("name", "evil\r\nDevice=31"));
    EXPECT_EQ(store.readInt("Device", 10), 10);
    EXPECT_EQ(store.readString("name", ""), "evil  Device=31");
    // Blanks at the ends and quotes survive the round trip.
    for (const QString& v : {QString("  padded  "), QString("\"quoted\""), QString("'q'"), QString("\"")}) {
        store.writeString("v", v);
        EXPECT_EQ(store.readString("v", "-"), v);
    }
    store.writeString("long", QString(3000, 'x'));
    EXPECT_EQ(store.readString("long", "").size(), 2047);

    // Arbitrary bytes read without harm and fall back to the defaults.
    static const char junk[] = "\x00[S]\nk=1\n\xff\xfe\x01[[[=\n=\n]]";
    writeAll(path(), QByteArray(junk, sizeof junk - 1));
    State s;
    EXPECT_TRUE(IniConfig(store, s.ctx, false));
    EXPECT_EQ(s.devices.DeviceId, 10);
}

TEST_F(SettingsTest, RefusedSaveKeepsTheOldFileAndNamesIt) {
    SettingsStore store(path());
    State s;
    ASSERT_TRUE(IniConfig(store, s.ctx, true));
    const QByteArray before = readAll(path());

    QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    s.devices.DeviceId = 25;
    EXPECT_FALSE(IniConfig(store, s.ctx, true));
    EXPECT_TRUE(store.errorString().contains(QDir::toNativeSeparators(path())));
    EXPECT_TRUE(store.errorString().contains("read-only"));
    EXPECT_EQ(readAll(path()), before);
    EXPECT_FALSE(store.writeInt("Device", 25));
    EXPECT_EQ(readAll(path()), before);
    // Reading still works.
    State r;
    IniConfig(store, r.ctx, false);
    EXPECT_EQ(r.devices.DeviceId, 10);

    QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_TRUE(IniConfig(store, s.ctx, true));
    EXPECT_TRUE(store.errorString().isEmpty());
    QStringList leftovers = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(leftovers, QStringList{"kelvano.ini"});  // no temporary file left behind

    // A settings "file" that cannot be read is never replaced by what little we know.
    QDir(dir.path()).mkdir("folder.ini");
    SettingsStore unreadable(dir.filePath("folder.ini"));
    EXPECT_FALSE(IniConfig(unreadable, s.ctx, true));
    EXPECT_TRUE(QFileInfo(dir.filePath("folder.ini")).isDir());

    // A folder that cannot hold the file: the system refuses, the message names the file.
    writeAll(dir.filePath("plain"), "x");
    SettingsStore nowhere(dir.filePath("plain/kelvano.ini"));
    EXPECT_FALSE(IniDevice(nowhere, s.ctx, true));
    EXPECT_TRUE(nowhere.errorString().contains("plain"));
}

TEST_F(SettingsTest, SettingsLiveBesideTheProgramWhenThatFolderIsWritable) {
    EXPECT_EQ(settingsFilePath(dir.path()), QDir(dir.path()).filePath("kelvano.ini"));
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());  // the probe is gone
    writeAll(dir.filePath("plain"), "x");
    const QString elsewhere = settingsFilePath(dir.filePath("plain"));
    EXPECT_TRUE(elsewhere.endsWith("/kelvano.ini"));
    EXPECT_FALSE(elsewhere.startsWith(dir.path()));

    EXPECT_TRUE(parseUsbIds("").empty());
    EXPECT_TRUE(parseUsbIds("12345:1, g:1, :1").empty());
    EXPECT_EQ(parseUsbIds(" 1:ffff ").at(0), std::make_pair(uint16_t(1), uint16_t(0xFFFF)));
}

}  // namespace
}  // namespace kelvano
