#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/Options.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "session/Settings.h"
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

// Without a file: the defaults, and reading never creates it. A save the file system refuses
// keeps the old file and names it.
TEST_F(SettingsTest, WritesBothSectionsInTheirLayoutOverTheDefaultsAndARefusedSaveKeepsTheFile) {
    SettingsStore store(path());
    State s;
    s.options.ports = {"COM3", "COM10"};
    s.devices.DeviceId = 99;
    s.enable.prog = s.enable.eep = false;
    EXPECT_TRUE(IniConfig(store, s.ctx, false));
    EXPECT_EQ(s.options.portName(), "COM3");  // "COM1" is not listed: the first port
    EXPECT_TRUE(!s.options.conAtStart && s.options.warnEnable);  // the others are in the file
    EXPECT_EQ(s.devices.DeviceId, 10);
    s.devices.DeviceId = 22;
    EXPECT_TRUE(IniDevice(store, s.ctx, false));
    EXPECT_TRUE(s.enable.prog && s.enable.data && s.enable.config && s.enable.eep);
    EXPECT_FALSE(QFile::exists(path()));

    s.options.selectPort("COM10");
    s.options.conAtStart = true;
    s.options.warnEnable = false;
    s.devices.DeviceId = 20;
    s.files.SlotFile[1] = "C:\\cards\\fun.hex";
    s.files.SlotFilter[2] = 3;
    ASSERT_TRUE(IniConfig(store, s.ctx, true)) << store.errorString().toStdString();
    s.ctx.deviceName = "AVR-Fun 2 (AT90S8515 + 24C64)";
    s.enable.data = s.enable.eep = false;
    s.files.RecentFiles = {{{}, {"", "a.hex", "b.hex"}, {"", "a.eep"}, {"", "a.bin"}}};
    s.fuses.avr.lockBit1 = s.fuses.avr.avrFuse = true;
    s.fuses.avr.lockBit2 = false;
    ASSERT_TRUE(IniDevice(store, s.ctx, true));
    const QByteArray layout =
        "[Config]\r\nVersion=2.5.0.2\r\nPort=COM10\r\nAutoConn=1\r\nAutoLoad=0\r\n"
        "SoundFinish=1\r\nProgVerify=0\r\nAlwaysErase=0\r\nSmartAutostart=1\r\n"
        "EnableWarnings=0\r\nDevice=20\r\nOpen1File=C:\\cards\\fun.hex\r\nOpen1Filter=1\r\n"
        "Open2File=\r\nOpen2Filter=3\r\nOpen3File=\r\nOpen3Filter=1\r\n\r\n"
        "[DEV_20]\r\nDeviceName=AVR-Fun 2 (AT90S8515 + 24C64)\r\nProgMem=1\r\nDataMem=0\r\n"
        "Config=1\r\nEepMem=0\r\nLoad1_1=a.hex\r\nLoad2_1=a.eep\r\nLoad3_1=a.bin\r\n"
        "Load1_2=b.hex\r\nLockbit1=1\r\nLockbit2=0\r\nAVRFuse1=1\r\n";
    EXPECT_EQ(readAll(path()), layout);

    State r;
    r.devices.DeviceId = 20;
    IniDevice(store, r.ctx, false);
    EXPECT_FALSE(r.enable.data || r.enable.eep);
    EXPECT_TRUE(r.enable.progEnabled);  // coupling rule ran: EEPROM box unticked
    EXPECT_EQ(r.files.RecentFiles, s.files.RecentFiles);
    EXPECT_TRUE(r.fuses.avr.lockBit1 && !r.fuses.avr.lockBit2 && r.fuses.avr.avrFuse);

    QFile::setPermissions(path(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    s.devices.DeviceId = 25;
    EXPECT_FALSE(IniConfig(store, s.ctx, true));
    EXPECT_TRUE(store.errorString().contains(QDir::toNativeSeparators(path())));
    EXPECT_EQ(readAll(path()), layout);
    QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner);

    // The ATmega keys belong to the ATmega161 page for 30 and to the ATmega163 page for 31.
    r.fuses.mega161.osc = 6;
    r.fuses.mega163.osc = 11;
    for (int code : {30, 31}) {
        r.devices.DeviceId = code;
        EXPECT_TRUE(IniDevice(store, r.ctx, true));
        State t;
        t.devices.DeviceId = code;
        IniDevice(store, t.ctx, false);
        EXPECT_EQ(std::pair(t.fuses.mega161.osc, t.fuses.mega163.osc),
                  code == 30 ? std::pair(6, 0) : std::pair(0, 11));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              QStringList{"kelvano.ini"});  // no temporary left
}

TEST_F(SettingsTest, ReadsAFileWrittenElsewhereChangesOnlyItsOwnValuesAndReadsOddValuesSafely) {
    // The lines the save leaves as they are.
    const QByteArray head =
        "[other]\r\nkeep=me\r\n\r\n[config]\r\n; ports are listed by the system\r\n";
    const QByteArray flags = "open1filter=5\r\nJustAFlag\r\nUsbIds=0547:2131, 04b4:8613,zz:1\r\n";
    const QByteArray tail =
        "; end of config\r\n\r\n"
        "[Dev_31]\r\nprogmem=0\r\neepmem=0\r\nOSCILLATOR=99\r\nlb1=1\r\n\r\n"
        "[CONFIG]\r\nPort=COM9\r\nExtra=1\r\n";
    writeAll(path(),
             head +
                 "port=com2\r\nAUTOCONN=1\r\nSoundFinish = 0x0\r\nEnableWarnings=yes\r\n"
                 "device=0x1F\r\nOpen1File=\"C:\\My K\xE4rten\\card.hex\"\r\nopen1filter=2\r\n" +
                 flags + tail);
    SettingsStore store(path());
    State s;
    IniConfig(store, s.ctx, false);
    EXPECT_EQ(readUsbIds(store), (decltype(readUsbIds(store)){{0x0547, 0x2131}, {0x04B4, 0x8613}}));
    IniDevice(store, s.ctx, false);
    EXPECT_FALSE(s.enable.prog);
    EXPECT_TRUE(s.fuses.mega163.lb1);
    EXPECT_EQ(s.fuses.mega163.osc, 0);  // 99 names no list entry
    // A file in the Windows code page: its values read as Latin-1, and new ones are written in it.
    EXPECT_EQ(s.files.SlotFile[1], QString::fromUtf8("C:\\My K\u00E4rten\\card.hex"));
    s.files.SlotFile[2] = QString::fromUtf8("C:\\\u00D6l.hex");

    // The save writes back what was read (the first of two sections or keys, "0x0" as 0, "yes"
    // as the default, no quotes) in place, and adds its missing keys after the section's last.
    ASSERT_TRUE(IniConfig(store, s.ctx, true));
    EXPECT_EQ(readAll(path()),
              head +
                  "port=COM2\r\nAUTOCONN=1\r\nSoundFinish=0\r\nEnableWarnings=1\r\ndevice=31\r\n"
                  "Open1File=C:\\My K\xE4rten\\card.hex\r\nopen1filter=2\r\n" +
                  flags +
                  "Version=2.5.0.2\r\nAutoLoad=0\r\nProgVerify=0\r\nAlwaysErase=0\r\n"
                  "SmartAutostart=1\r\nOpen2File=C:\\\xD6l.hex\r\nOpen2Filter=1\r\nOpen3File="
                  "\r\nOpen3Filter=1\r\n" +
                  tail);

    // A byte-order mark in front of the first section is no part of its name, and stays.
    writeAll(path(), "\xEF\xBB\xBF[Config]\r\nDevice=22\r\n");
    IniConfig(store, s.ctx, false);
    EXPECT_EQ(s.devices.DeviceId, 22);
    ASSERT_TRUE(IniConfig(store, s.ctx, true));
    EXPECT_TRUE(
        readAll(path()).startsWith("\xEF\xBB\xBF[Config]\r\nDevice=22\r\nVersion=2.5.0.2\r\n"));

    store.setSection("S");
    const std::pair<const char*, int> ints[] = {{" -12 ", -12},      {"0xFFFFFFFF", -1},
                                                {"12abc", 42},       {"0x123456789", 42},
                                                {"99999999999", 42}, {"", 42}};
    for (const auto& [text, expected] : ints) {
        ASSERT_TRUE(store.writeString("k", QString::fromLatin1(text)));
        EXPECT_EQ(store.readInt("k", 42), expected) << text;
    }
    // A line break in a value must not end the line and smuggle in a key of its own.
    ASSERT_TRUE(store.writeString("name", "evil\r\nDevice=31"));
    EXPECT_EQ(store.readInt("Device", 10), 10);
    EXPECT_EQ(store.readString("name", ""), "evil  Device=31");
}

}  // namespace
}  // namespace kelvano
