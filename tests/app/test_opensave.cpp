#include <gtest/gtest.h>

#include <QDir>

#include "app/DumpGridView.h"
#include "test_main_support.h"

namespace kelvano {
namespace {

using namespace testing_support;

QStringList popup(Window& w, int slot) {
    w.main.BtnOpenDropDown(slot);
    QStringList l;
    for (QAction* a : w.main.PopFiles[size_t(slot)]->actions()) l << a->text();
    return l;
}

// The open filters follow the card type and slot. Open and save dialogs start where the slot's
// last file was, with its filter; a save proposes the last name; the recent list takes the files
// that loaded.
TEST(OpenSaveTest, DialogsRememberNameFilterAndFolderAndTheRecentListReordersAndOpens) {
    Window w(20);
    EXPECT_EQ(w.main.openFilters(2).at(2), "AVR-Eeprom-Files (*.eep) (*.eep)");
    EXPECT_EQ(w.main.openFilters(1).at(2), "AVR-Object-Files (*.obj) (*.obj)");
    EXPECT_EQ(w.main.openFilters(3).at(2), "CRD-Files (*.crd) (*.crd)");
    w.choose("/out/first.hex");
    w.main.ActSave2->trigger();
    w.choose("/out/second", 2);  // binary chosen by the filter
    w.main.ActSave2->trigger();
    EXPECT_EQ(w.asked.last().fileName, "/out/first.hex");
    EXPECT_EQ(w.asked.last().directory, "/out");
    EXPECT_EQ(w.takeCalls(), QStringList({"Save 2:/out/first.hex:1", "Save 2:/out/second:2"}));
    // The filter and the folder last used stay for the next save of any slot; opens are not
    // touched.
    w.answer.reset();
    w.main.ActSave1->trigger();
    EXPECT_TRUE(w.asked.last().filterIndex == 2 && w.asked.last().directory == "/out");
    EXPECT_TRUE(w.calls.isEmpty() && w.files.SlotFile[2].isEmpty() &&
                w.recent(2).join("").isEmpty());

    w.main.ActOpen1->trigger();  // cancelled: nothing changes, nothing is read
    EXPECT_EQ(w.asked.last().directory, QDir::currentPath());  // no directory of its own yet
    EXPECT_TRUE(w.calls.isEmpty() && w.files.SlotFile[1].isEmpty());
    w.choose("/data/fw/main.obj", 3);
    w.main.ActOpen1->trigger();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 1:/data/fw/main.obj"}));
    w.main.ActOpen1->trigger();  // the next open starts there, with that filter
    EXPECT_EQ(w.asked.last().directory, "/data/fw");
    EXPECT_EQ(w.asked.last().filterIndex, 3);
    EXPECT_EQ(w.recent(1), QStringList({"/data/fw/main.obj", "", "", "", ""}));  // no duplicate
    // A file that fails to load updates the names but not the list.
    w.openSucceeds = false;
    w.choose("/e/bad.hex", 2);
    w.main.ActOpen1->trigger();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 1:/data/fw/main.obj", "Open 1:/e/bad.hex"}));
    EXPECT_EQ(w.files.SlotFile[1], "/e/bad.hex");
    EXPECT_EQ(w.recent(1).first(), "/data/fw/main.obj");

    // The entry chosen from a drop-down becomes entry 1 and is opened, its name as it was ('&'
    // and all); a failing open keeps the new order.
    w.files.RecentFiles[3] = {QString(), "/r/1.hex", "/r/2.hex", "/r/3 a&b.hex", "", ""};
    EXPECT_EQ(popup(w, 3), QStringList({"&1 /r/1.hex", "&2 /r/2.hex", "&3 /r/3 a&&b.hex"}));
    w.main.PopFiles[3]->actions().at(2)->trigger();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 3:/r/3 a&b.hex"}));
    EXPECT_EQ(w.recent(3), QStringList({"/r/3 a&b.hex", "/r/1.hex", "/r/2.hex", "", ""}));
}

TEST(OpenSaveTest, FastOpenOrder) {
    QTemporaryDir dir;
    const QString flash = dir.filePath("flash.hex"), data = dir.filePath("data.eep"),
                  ext = dir.filePath("ext.bin");
    for (const QString& f : {flash, data, ext}) writeAll(f, "");
    Window w(26);
    w.files.SlotFile = {QString(), flash, data, ext};
    w.main.FastOpen->trigger();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 3:" + ext, "Open 2:" + data, "Open 1:" + flash}));
    EXPECT_EQ(w.recent(1), QStringList({"", "", "", "", ""}));  // lists untouched
    // Missing files are skipped; a missing slot 1 file stops everything.
    w.files.SlotFile[2] = dir.filePath("gone.eep");
    w.main.FastOpenExecute();
    EXPECT_EQ(w.takeCalls(), QStringList({"Open 3:" + ext, "Open 1:" + flash}));
    w.files.SlotFile = {QString(), dir.filePath("gone.hex"), data, ext};
    w.main.FastOpenExecute();
    EXPECT_TRUE(w.calls.isEmpty());
    // A PIC card has no slot 3; its external EEPROM opens the formats of a program file.
    w.card(10);
    EXPECT_EQ(w.main.openFilters(2),
              QStringList({"HEX-Files (*.hex,*.hx8) (*.hex *.hx8)", "BIN-Files (*.bin) (*.bin)",
                           "All Files (*.*) (*)",
                           "S-Record-Files (*.s19,*.s28,*.s37,*.srec,*.mot) (*.s19 *.s28 *.s37 "
                           "*.srec *.mot)",
                           "TI-TXT-Files (*.txt) (*.txt)"}));
    w.calls.clear();
    w.files.SlotFile[1] = flash;
    w.main.FastOpenExecute();
    EXPECT_EQ(w.calls, QStringList({"Open 2:" + data, "Open 1:" + flash}));
}

}  // namespace
}  // namespace kelvano
