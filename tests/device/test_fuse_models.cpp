#include <gtest/gtest.h>

#include "device/FusePages.h"
#include "device/Models.h"

using namespace kelvano;

TEST(FusePages, Pic84RoundTripAndBits) {
    TDevices d;
    FuseModel m;
    d.CfgWord = 0x3FFF;
    RefreshPic84Page(d, m);
    EXPECT_EQ(m.pic84.osc, 3);  // RC
    EXPECT_TRUE(m.pic84.wdt);
    EXPECT_FALSE(m.pic84.pwrte);
    EXPECT_FALSE(m.pic84.cp);
    ReadPic84Page(d, m);
    EXPECT_EQ(d.CfgWord, 0x3FFF);

    m.pic84.cp = true;
    m.pic84.osc = 1;  // XT
    m.pic84.wdt = false;
    m.pic84.pwrte = false;
    ReadPic84Page(d, m);
    EXPECT_EQ(d.CfgWord, 0x0009);
}

TEST(FusePages, Pic876RoundTripAndDoubleCodeProtection) {
    TDevices d;
    FuseModel m;
    d.CfgWord = 0x3FFF;
    RefreshPic876Page(d, m);
    EXPECT_EQ(m.pic876.fosc, 3);
    EXPECT_EQ(m.pic876.cp, 3);  // OFF
    EXPECT_TRUE(m.pic876.wdte && m.pic876.boden && m.pic876.lvp && m.pic876.wrt);
    EXPECT_FALSE(m.pic876.pwrte || m.pic876.cpd || m.pic876.debug);
    ReadPic876Page(d, m);
    EXPECT_EQ(d.CfgWord, 0x3FFF);
    m.pic876.cp = 1;  // 1000-1FFF
    ReadPic876Page(d, m);
    EXPECT_EQ(d.CfgWord, 0x1FDF);
}

TEST(FusePages, Mega163FromUntickedPageAndBack) {
    TDevices d;
    FuseModel m;
    ReadMega163Page(d, m);
    EXPECT_EQ(d.FuseLow, 0xF0);
    EXPECT_EQ(d.FuseHigh, 0xF9);
    EXPECT_EQ(d.LockByte, 0xFF);

    d.FuseLow = 0x2A;   // osc 10, BODEN and BODLEVEL programmed
    d.FuseHigh = 0xFC;  // bootsize 2, BOOTRST programmed
    d.LockByte = 0xC9;  // LB2, BLB01, BLB11, BLB12 programmed
    RefreshMega163Page(d, m);
    EXPECT_EQ(m.mega163.osc, 10);
    EXPECT_TRUE(m.mega163.boden);
    EXPECT_TRUE(m.mega163.bodlevel);
    EXPECT_TRUE(m.mega163.bootrst);
    EXPECT_EQ(m.mega163.bootSize, 2);
    EXPECT_FALSE(m.mega163.lb1);
    EXPECT_TRUE(m.mega163.lb2);
    EXPECT_TRUE(m.mega163.blb01);
    EXPECT_FALSE(m.mega163.blb02);
    EXPECT_TRUE(m.mega163.blb11);
    EXPECT_TRUE(m.mega163.blb12);
    TDevices back;
    ReadMega163Page(back, m);
    // Bits the page does not show come back as 1.
    EXPECT_EQ(back.FuseLow, 0x3A);
    EXPECT_EQ(back.FuseHigh, 0xFC);
    EXPECT_EQ(back.LockByte, 0xC9);
    EXPECT_EQ(mega163OscillatorItems().size(), 16);
    EXPECT_EQ(mega163OscillatorItems().at(2), "2: Int RC, slow ");
    EXPECT_EQ(mega161OscillatorItems().at(3), "3: Xtal, fast ");
}

TEST(FusePages, IdBoxFilterAndExitRule) {
    EXPECT_TRUE(eCfgKeyAccepted(QChar(8)));
    EXPECT_TRUE(eCfgKeyAccepted(QChar('a')));
    EXPECT_TRUE(eCfgKeyAccepted(QChar('F')));
    EXPECT_FALSE(eCfgKeyAccepted(QChar('g')));
    EXPECT_FALSE(eCfgKeyAccepted(QChar(' ')));

    TDevices d;
    d.ApplyBuffers();
    FuseModel m;
    eCfgExit(d, m, false, 2, "a");
    EXPECT_EQ(d.IdBuf[2], 0x000A);
    EXPECT_EQ(m.pic84.id[2], "A");
    eCfgExit(d, m, false, 1, "");
    EXPECT_EQ(d.IdBuf[1], 0x3FFF);
    EXPECT_EQ(m.pic84.id[1], "F");
    m.pic876.id[3] = "7";
    eCfgExit(d, m, true, 3, "c");
    EXPECT_EQ(d.IdBuf[3], 0x000C);
    EXPECT_EQ(m.pic876.id[3], "C");
}

TEST(FusePages, AvrFuseBoxPerCardType) {
    FuseModel m;
    ApplyAvrFuseBox(22, m);
    EXPECT_TRUE(m.avr.fuseVisible);
    EXPECT_EQ(m.avr.fuseCaption, "FSTRT");
    ApplyAvrFuseBox(23, m);
    EXPECT_EQ(m.avr.fuseCaption, "RCEN");
    ApplyAvrFuseBox(20, m);
    EXPECT_FALSE(m.avr.fuseVisible);
}

TEST(EnableBoxes, CouplingRuleOnlyForLoaderCards) {
    EnableBoxes b;
    b.prog = false;
    b.data = false;
    b.eep = true;
    cbEepMemClick(20, b);
    EXPECT_TRUE(b.prog && b.data && b.config);
    EXPECT_FALSE(b.progEnabled || b.dataEnabled || b.configEnabled);
    b.eep = false;
    cbEepMemClick(20, b);
    EXPECT_TRUE(b.progEnabled && b.dataEnabled && b.configEnabled);
    EXPECT_TRUE(b.prog && b.data && b.config);

    EnableBoxes direct;
    direct.prog = false;
    cbEepMemClick(10, direct);
    EXPECT_FALSE(direct.prog);
    EXPECT_TRUE(direct.progEnabled);
}

TEST(SlotFiles, RecentListOrder) {
    SlotFiles s;
    for (const char* f : {"a", "b", "c", "d", "e", "f"}) s.addRecent(1, f);
    EXPECT_EQ(s.RecentFiles[1][1], "f");
    EXPECT_EQ(s.RecentFiles[1][5], "b");  // "a" dropped
    s.addRecent(1, "d");                  // already entry 3
    EXPECT_EQ(s.RecentFiles[1][1], "d");
    EXPECT_EQ(s.RecentFiles[1][2], "f");
    EXPECT_EQ(s.RecentFiles[1][3], "e");
    EXPECT_EQ(s.RecentFiles[1][4], "c");
    s.addRecent(1, "d");
    EXPECT_EQ(s.RecentFiles[1][1], "d");
    EXPECT_EQ(s.RecentFiles[1][2], "f");
    s.moveRecentToTop(1, 3);  // "e"
    EXPECT_EQ(s.RecentFiles[1][1], "e");
    EXPECT_EQ(s.RecentFiles[1][2], "d");
    EXPECT_EQ(s.RecentFiles[1][3], "f");
    EXPECT_EQ(s.RecentFiles[1][4], "c");
    s.RecentFiles[2][2] = "/x/y.hex";
    const auto popup = s.recentPopup(2);
    ASSERT_EQ(popup.size(), 1);
    EXPECT_EQ(popup[0].first, 2);
    EXPECT_EQ(popup[0].second, "&2 /x/y.hex");
}
