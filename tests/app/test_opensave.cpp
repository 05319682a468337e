#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/DumpGridView.h"
#include "app/Program.h"
#include "app/uMain.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using testing_support::ensureApp;
using testing_support::RecordingHost;

// The window with a scripted file dialog and the file module recorded.
struct Files {
    RecordingHost host;
    Options options;
    EnableBoxes enable;
    FuseModel fuses;
    SlotFiles files;
    TMain main{host, options, enable, fuses, files};
    TDevices devices;
    QList<FileDialogRequest> asked;
    std::optional<FileDialogChoice> answer;
    QStringList opened;  // "slot:name"
    QStringList saved;   // "slot:name:filter"
    bool openSucceeds = true;

    Files() {
        TMain::Links l;
        l.openFile = [this](const QString& name, int slot) {
            opened << QStringLiteral("%1:%2").arg(slot).arg(name);
            return openSucceeds;
        };
        l.saveFile = [this](const QString& name, int slot, int filter) {
            saved << QStringLiteral("%1:%2:%3").arg(slot).arg(name).arg(filter);
        };
        main.wire(devices, l);
        main.setProgramDir("/opt/kelvano/");
        main.setFileDialogHook([this](const FileDialogRequest& r) {
            asked << r;
            return answer;
        });
        main.ApplyDevice();
    }
    void card(int code) {
        main.setDeviceId(code);
        main.ApplyDevice();
    }
    void choose(const QString& name, int filter = 1) { answer = FileDialogChoice{name, filter}; }
    QStringList recent(int slot) const {
        QStringList l;
        for (int k = 1; k <= 5; ++k) l << files.RecentFiles[size_t(slot)][size_t(k)];
        return l;
    }
    QStringList popup(int slot) {
        main.BtnOpenDropDown(slot);
        QStringList l;
        for (QAction* a : main.PopFiles[size_t(slot)]->actions()) l << a->text();
        return l;
    }
};

class OpenSaveTest : public ::testing::Test {
protected:
    void SetUp() override { ensureApp(); }
};

TEST_F(OpenSaveTest, FiltersKeepTheirOrder) {
    EXPECT_EQ(qtFileFilters(kPicOpenFilter),
              QStringList({"HEX-Files (*.hex,*.hx8) (*.hex *.hx8)", "BIN-Files (*.bin) (*.bin)",
                           "All Files (*.*) (*)"}));
    EXPECT_EQ(qtFileFilters(kSaveFilter),
              QStringList({"IHX8 Files (*.hex,*.h8) (*.hex *.h8)", "Binary Files (*.bin) (*.bin)"}));
    EXPECT_TRUE(qtFileFilters("").isEmpty());
    EXPECT_EQ(qtFileFilters("odd|").size(), 1);

    Files f;
    f.card(10);  // PIC: both slots get the PIC filter
    EXPECT_EQ(f.main.openFilters(2), qtFileFilters(kPicOpenFilter));
    f.card(20);
    EXPECT_EQ(f.main.openFilters(1), qtFileFilters(kAvrFlashOpenFilter));
    EXPECT_EQ(f.main.openFilters(2), qtFileFilters(kAvrEepromOpenFilter));
    EXPECT_EQ(f.main.openFilters(3), qtFileFilters(kSlot3OpenFilter));
    EXPECT_EQ(f.main.openFilters(1).at(2), "AVR-Object-Files (*.obj) (*.obj)");
}

TEST_F(OpenSaveTest, OpenCommandRemembersNameFilterAndRecentList) {
    Files f;
    f.card(20);
    // Cancel: nothing changes, nothing is read.
    f.answer.reset();
    f.main.ActOpen1->trigger();
    ASSERT_EQ(f.asked.size(), 1);
    EXPECT_EQ(f.asked[0].title, "Open AVR Flash memory <1>...");
    EXPECT_FALSE(f.asked[0].save);
    EXPECT_EQ(f.asked[0].filterIndex, 1);
    EXPECT_EQ(f.asked[0].directory, QDir::currentPath());  // no directory of its own yet
    EXPECT_TRUE(f.opened.isEmpty());
    EXPECT_TRUE(f.files.SlotFile[1].isEmpty());
    EXPECT_EQ(f.files.CurSlot, 1);

    f.choose("/data/fw/main.obj", 3);
    f.main.ActOpen1->trigger();
    EXPECT_EQ(f.opened, QStringList({"1:/data/fw/main.obj"}));
    EXPECT_EQ(f.files.SlotFile[1], "/data/fw/main.obj");
    EXPECT_EQ(f.files.SlotSaveFile[1], "/data/fw/main.obj");
    EXPECT_EQ(f.files.SlotFilter[1], 3);
    EXPECT_EQ(f.recent(1).first(), "/data/fw/main.obj");
    // The next open starts there, with that filter.
    f.main.ActOpen1->trigger();
    EXPECT_EQ(f.asked.last().fileName, "/data/fw/main.obj");
    EXPECT_EQ(f.asked.last().directory, "/data/fw");
    EXPECT_EQ(f.asked.last().filterIndex, 3);
    EXPECT_EQ(f.recent(1), QStringList({"/data/fw/main.obj", "", "", "", ""}));  // no duplicate

    // Six different files: the newest five stay, newest first.
    for (int i = 1; i <= 6; ++i) {
        f.choose(QStringLiteral("/e/%1.eep").arg(i), 3);
        f.main.ActOpen2->trigger();
    }
    EXPECT_EQ(f.recent(2), QStringList({"/e/6.eep", "/e/5.eep", "/e/4.eep", "/e/3.eep", "/e/2.eep"}));
    // Opening one already listed moves it to the top.
    f.choose("/e/4.eep");
    f.main.ActOpen2->trigger();
    EXPECT_EQ(f.recent(2), QStringList({"/e/4.eep", "/e/6.eep", "/e/5.eep", "/e/3.eep", "/e/2.eep"}));
    // A file that fails to load updates the names but not the list.
    f.openSucceeds = false;
    f.choose("/e/bad.hex", 1);
    f.main.ActOpen2->trigger();
    EXPECT_EQ(f.files.SlotFile[2], "/e/bad.hex");
    EXPECT_EQ(f.files.SlotFilter[2], 1);
    EXPECT_EQ(f.recent(2).first(), "/e/4.eep");
}

TEST_F(OpenSaveTest, RecentFileDropDownsReorderAndOpen) {
    Files f;
    f.card(21);
    for (const char* name : {"/r/5 a&b.hex", "/r/4.hex", "/r/3.hex", "/r/2.hex", "/r/1.hex"}) {
        f.choose(name);
        f.main.ActOpen3->trigger();
    }
    f.opened.clear();
    EXPECT_EQ(f.popup(3), QStringList({"&1 /r/1.hex", "&2 /r/2.hex", "&3 /r/3.hex", "&4 /r/4.hex",
                                       "&5 /r/5 a&&b.hex"}));
    EXPECT_EQ(f.files.CurSlot, 3);
    EXPECT_TRUE(f.popup(1).isEmpty());
    EXPECT_EQ(f.files.CurSlot, 1);

    // Entry 3 becomes entry 1; 1 and 2 move down, 4 and 5 stay.
    f.main.BtnOpen[3]->menu()->aboutToShow();
    f.main.PopFiles[3]->actions().at(2)->trigger();
    EXPECT_EQ(f.opened, QStringList({"3:/r/3.hex"}));
    EXPECT_EQ(f.recent(3), QStringList({"/r/3.hex", "/r/1.hex", "/r/2.hex", "/r/4.hex", "/r/5 a&b.hex"}));
    EXPECT_EQ(f.files.SlotFile[3], "/r/3.hex");
    EXPECT_EQ(f.files.SlotSaveFile[3], "/r/3.hex");
    // A name with '&' comes back unchanged; a failing open keeps the new order.
    f.openSucceeds = false;
    f.popup(3);
    f.main.PopFiles[3]->actions().at(4)->trigger();
    EXPECT_EQ(f.opened.last(), "3:/r/5 a&b.hex");
    EXPECT_EQ(f.recent(3).first(), "/r/5 a&b.hex");
}

TEST_F(OpenSaveTest, SaveCommandProposesTheLastName) {
    Files f;
    f.card(10);
    f.choose("/out/first.hex", 1);
    f.main.ActSave2->trigger();
    ASSERT_EQ(f.asked.size(), 1);
    EXPECT_TRUE(f.asked[0].save);
    EXPECT_EQ(f.asked[0].title, "Save external EEPROM <2>...");
    EXPECT_TRUE(f.asked[0].fileName.isEmpty());
    EXPECT_EQ(f.asked[0].directory, "/opt/kelvano/");
    EXPECT_EQ(f.asked[0].filters, qtFileFilters(kSaveFilter));
    EXPECT_EQ(f.saved, QStringList({"2:/out/first.hex:1"}));

    f.choose("/out/second", 2);  // binary chosen by the filter
    f.main.ActSave2->trigger();
    EXPECT_EQ(f.asked[1].fileName, "/out/first.hex");
    EXPECT_EQ(f.asked[1].directory, "/out");
    EXPECT_EQ(f.saved.last(), "2:/out/second:2");
    // The filter stays chosen for the next save of any slot; opens are not touched.
    f.answer.reset();
    f.main.ActSave1->trigger();
    EXPECT_EQ(f.asked[2].filterIndex, 2);
    EXPECT_EQ(f.asked[2].directory, "/opt/kelvano/");
    EXPECT_EQ(f.saved.size(), 2);
    EXPECT_TRUE(f.files.SlotFile[2].isEmpty());
    EXPECT_EQ(f.recent(2), QStringList({"", "", "", "", ""}));

    // After an open, the save of that slot proposes the opened file.
    f.choose("/in/card.hex");
    f.main.ActOpen1->trigger();
    f.answer.reset();
    f.main.ActSave1->trigger();
    EXPECT_EQ(f.asked.last().fileName, "/in/card.hex");
}

TEST_F(OpenSaveTest, FastOpenOrder) {
    QTemporaryDir dir;
    auto touch = [&](const QString& name) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return dir.filePath(name);
    };
    Files f;
    f.card(26);
    f.files.SlotFile[1] = touch("flash.hex");
    f.files.SlotFile[2] = touch("data.eep");
    f.files.SlotFile[3] = touch("ext.bin");
    f.main.FastOpen->trigger();
    EXPECT_EQ(f.opened, QStringList({"3:" + dir.filePath("ext.bin"), "2:" + dir.filePath("data.eep"),
                                     "1:" + dir.filePath("flash.hex")}));
    EXPECT_EQ(f.recent(1), QStringList({"", "", "", "", ""}));  // lists untouched

    // Missing files are skipped; a missing slot 1 file stops everything.
    f.opened.clear();
    f.files.SlotFile[2] = dir.filePath("gone.eep");
    f.main.fastOpen();
    EXPECT_EQ(f.opened, QStringList({"3:" + dir.filePath("ext.bin"), "1:" + dir.filePath("flash.hex")}));
    f.opened.clear();
    f.files.SlotFile[1] = dir.filePath("gone.hex");
    f.files.SlotFile[2] = dir.filePath("data.eep");
    f.main.FastOpenExecute();
    EXPECT_TRUE(f.opened.isEmpty());
    f.files.SlotFile[1] = dir.path();  // a folder is no file
    f.main.FastOpenExecute();
    EXPECT_TRUE(f.opened.isEmpty());

    // A PIC card has no slot 3.
    f.card(10);
    f.files.SlotFile[1] = dir.filePath("flash.hex");
    f.main.FastOpenExecute();
    EXPECT_EQ(f.opened, QStringList({"2:" + dir.filePath("data.eep"), "1:" + dir.filePath("flash.hex")}));
}

// The commands through the real file module: a file saved from one slot loads back.
TEST_F(OpenSaveTest, SaveAndOpenThroughTheFileModule) {
    QTemporaryDir dir;
    RecordingHost host;
    KelvanoProgram::Setup s;
    s.programDir = dir.path() + "/";
    s.host = &host;
    KelvanoProgram p(std::move(s));
    std::optional<FileDialogChoice> answer;
    p.Main.setFileDialogHook([&](const FileDialogRequest&) { return answer; });
    p.Devices.DeviceId = 20;
    p.Main.ApplyDevice();
    for (int i = 0; i < 512; ++i) p.Devices.DataBuf[i] = uint16_t(i * 7 & 0xFF);
    const QString name = dir.filePath("data.hex");
    answer = FileDialogChoice{name, 1};
    p.Main.ActSave2->trigger();
    ASSERT_TRUE(QFile::exists(name)) << host.errors.join("|").toStdString();

    p.Main.ApplyDevice();  // blank again
    EXPECT_EQ(p.Devices.DataBuf[1], 0xFF);
    p.Main.ActOpen2->trigger();
    EXPECT_EQ(p.Devices.DataBuf[1], 7);
    EXPECT_EQ(p.Devices.DataBuf[511], (511 * 7) & 0xFF);
    EXPECT_EQ(p.Main.dGrid->model()->index(0, 1).data().toString().left(6), "00 07 ");
    EXPECT_FALSE(p.Main.LabFnDataMem->text().isEmpty());
    EXPECT_EQ(p.slotFiles.RecentFiles[2][1], name);

    // A file that does not load leaves the buffer and the recent list alone.
    const QString bad = dir.filePath("bad.hex");
    QFile badFile(bad);
    ASSERT_TRUE(badFile.open(QIODevice::WriteOnly));
    badFile.write(":zz\n");
    badFile.close();
    answer = FileDialogChoice{bad, 1};
    p.Main.ActOpen2->trigger();
    EXPECT_EQ(host.errors.size(), 1);
    EXPECT_EQ(p.Devices.DataBuf[1], 7);
    EXPECT_EQ(p.slotFiles.RecentFiles[2][1], name);
}

}  // namespace
}  // namespace kelvano
