#include <gtest/gtest.h>

#include <set>

#include "device/uDevices.h"

using namespace kelvano;

namespace {
std::string text(const char* s) { return s ? s : "(none)"; }
}  // namespace

// Code, menu position, flash words, internal and external EEPROM bytes, fuse page and box, loader.
// The menu's names and captions are checked where the window shows them (tests/app).
TEST(Catalogue, EveryRowAndWhatApplyingItGives) {
    const std::tuple<int, int, int, int, int, FusePage, const char*, const char*> rows[] = {
        {15, 1, 1024, 64, 2048, FusePage::CfgPic, nullptr, "PICLOAD"},
        {10, 2, 1024, 64, 2048, FusePage::CfgPic, nullptr, nullptr},
        {13, 3, 1024, 64, 8192, FusePage::CfgPic, nullptr, nullptr},
        {14, 4, 1024, 64, 32768, FusePage::CfgPic, nullptr, nullptr},
        {11, 5, 8192, 256, 8192, FusePage::CfgDs9, nullptr, "DS9LOAD"},
        {12, 6, 8192, 256, 32768, FusePage::CfgDs9, nullptr, "DS9LOAD"},
        {22, 7, 1024, 128, 2048, FusePage::CfgAvr, "FSTRT", "AVRLOAD"},
        {23, 8, 1024, 128, 2048, FusePage::CfgAvr, "RCEN", "AVRLOAD"},
        {21, 9, 4096, 512, 8192, FusePage::CfgAvr, "FSTRT", "FUNLOAD"},
        {20, 10, 4096, 512, 8192, FusePage::CfgAvr, nullptr, "FUNLOAD"},
        {24, 11, 4096, 512, 16384, FusePage::CfgAvr, nullptr, "FUNLOAD"},
        {25, 12, 4096, 512, 32768, FusePage::CfgAvr, nullptr, "FUNLOAD"},
        {26, 13, 4096, 512, 65536, FusePage::CfgAvr, nullptr, "FUNLOAD"},
        {31, 14, 8192, 512, 32768, FusePage::cfgMega163, nullptr, "FUNLOAD"},
        {30, 0, 8192, 512, 8192, FusePage::cfgMega161, nullptr, nullptr},
    };
    ASSERT_EQ(catalogue().size(), std::size(rows));
    for (const auto& [code, menu, flashWords, internalBytes, externalBytes, page, fuseBox, loader] :
         rows) {
        SCOPED_TRACE(code);
        const TDeviceEntry* e = findDevice(code);
        ASSERT_NE(e, nullptr);
        const auto sizes = std::tuple(flashWords, internalBytes, externalBytes);
        EXPECT_EQ(
            std::tuple(e->menuPosition, e->fusePage, text(e->fuseBoxCaption), text(e->loaderImage)),
            std::tuple(menu, page, text(fuseBox), text(loader)));
        EXPECT_EQ(std::tuple(e->flashWords, e->internalEepromBytes, e->externalEepromBytes), sizes);

        // Applying the card sizes, blanks and lays out the buffers, again after writes; only the
        // PIC cards reset their configuration, the AVR fuse bytes never.
        TDevices d;
        d.DeviceId = code;
        d.ApplyBuffers();
        d.ProgBuf[0] = d.CfgWord = 0x1234;
        d.DataBuf[0] = d.EepBuf[externalBytes - 1] = 0x00;
        d.FuseLow = 0x12;
        d.IdBuf[0] = 0x0001;
        d.ApplyBuffers();
        const bool pic = code < 20;
        EXPECT_EQ(std::tuple(d.ProgBuf.length(), d.DataBuf.length(), d.EepBuf.length()), sizes);
        EXPECT_EQ(std::tuple(d.ProgMax + 1, d.DataMax + 1, d.EepMax + 1), sizes);
        EXPECT_EQ(
            std::tuple(d.pGrid.rowCount() * 8, d.dGrid.rowCount() * 16, d.eGrid.rowCount() * 16),
            sizes);
        EXPECT_EQ(d.pGrid.mode(), pic ? ViewMode::PicWords8 : ViewMode::AvrWords8);
        EXPECT_EQ(d.ProgBlank, pic ? 0x3FFFu : 0xFFFFu);
        EXPECT_EQ(d.pGrid.hex(0), QString(pic ? "3FFF  " : "FFFF  ").repeated(8));
        EXPECT_EQ(d.DataBuf[0] & d.EepBuf[externalBytes - 1], 0xFF);
        EXPECT_EQ(std::tuple(d.CfgWord, d.IdBuf[0], d.FuseLow),
                  pic ? std::tuple(0x3FFF, 0x000F, 0x12) : std::tuple(0x1234, 0x0001, 0x12));
        // The 16F84 cards' internal EEPROM grid fits its header and four rows exactly.
        EXPECT_EQ(d.dGrid.fitRows(), page == FusePage::CfgPic ? 5 : 0);
    }
}

TEST(Catalogue, MenuCodeGroupsUnknownCodesAndActionTexts) {
    // The ATmega161 row is no menu item and has no name; the window never shows its captions.
    const TDeviceEntry* mega161 = findDevice(30);
    EXPECT_EQ(std::tuple(text(mega161->displayName), text(mega161->controllerCaption),
                         text(mega161->eepromCaption)),
              std::tuple("(none)", "ATMega161", "EEPROM 24C64"));
    std::vector<int> codes;
    for (const auto& l : devicesMenuLines()) codes.push_back(l.code);
    EXPECT_EQ(codes, (std::vector<int>{15, 10, 13, 14, 0, 11, 12, 0, 22, 23, 0, 21, 0, 20, 24, 25,
                                       26, 0, 31}));
    EXPECT_EQ(devicesMenuLines()[4].caption, "-");

    // Every group of codes, over every code a settings file might hold.
    const std::tuple<const char*, bool (*)(int), std::set<int>> groups[] = {
        {"PIC", isPicCode, {10, 11, 12, 13, 14, 15}},
        {"PIC16F84", isPic84, {10, 13, 14, 15}},
        {"PIC16F876", isPic876, {11, 12}},
        {"AVR texts", isAvrCode, {20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}},
        {"AVR sized", isAvrSized, {20, 21, 22, 23, 24, 25, 26, 30, 31}},
        {"AT90S", isAt90s, {20, 21, 22, 23, 24, 25, 26}},
        {"AT90S with fuse box", hasAvrFuseBox, {21, 22, 23}},
        {"PIC direct EEPROM", isPicDirect, {10, 13, 14}},
        {"PIC loader", isPicLoader, {11, 12, 15}},
        {"EEPROM coupling",
         eepCouplingApplies,
         {11, 12, 15, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}},
    };
    for (const auto& [name, member, members] : groups)
        for (int code = -1; code <= 40; ++code)
            EXPECT_EQ(member(code), members.count(code) == 1) << name << " " << code;

    for (int code : {0, 16, 27, 28, 29, 99, -5}) {
        TDevices d;
        d.DeviceId = code;
        d.ApplyBuffers();
        EXPECT_EQ(std::tuple(d.DeviceId, d.EepBuf.length()), std::tuple(10, 2048)) << code;
    }
    // The second slot's open texts of every card: tests/app, MainWindowTest.
    EXPECT_EQ(openHint(10, 1), "Open PIC Flash + internal EEPROM <1>");
    EXPECT_TRUE(openHint(10, 3).isEmpty());
    EXPECT_EQ(saveHint(12, 1), "Save PIC Flash + internal EEPROM <1>");
    EXPECT_EQ(openHint(28, 1), "Open AVR Flash memory <1>");  // 27..29 get the AVR texts
    EXPECT_EQ(saveHint(31, 3), "Save external EEPROM <3>");
    EXPECT_EQ(saveHint(20, 2), "Save AVR internal EEPROM <2>");
    EXPECT_TRUE(saveHint(16, 1).isEmpty());
}
