#include <gtest/gtest.h>

#include "ActionRig.h"
#include "sim/SimFault.h"

using namespace kelvano;
using namespace kelvano::test;

TEST(PicSequences, BlankFlashSendsNoWritesAndConfigurationCarriesIdNibbles) {
    ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.only({Memory::Program, Memory::Configuration});
    rig.devices.IdBuf[0] = 1, rig.devices.IdBuf[1] = 2, rig.devices.IdBuf[2] = 3;
    rig.devices.IdBuf[3] = 0x3FF4;  // only the low four bits are an ID value
    rig.fuses.pic84 = Pic84Page{3, true, false, false, {}};  // RC, WDT: 0x3FFF
    rig.run(5);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    const QStringList c = rig.commands();
    EXPECT_FALSE(c.contains("ErA"));  // data unticked, "Always erase" off: no erase
    EXPECT_EQ(rig.sent("L00"),
              (QStringList{"L003F81", "L003F82", "L003F83", "L003F84", "L003FFF"}));
    EXPECT_EQ(c.count("I"), 1024 + 4 + 3);
    const int cfg = int(c.indexOf("DCFG "));
    ASSERT_GT(cfg, 0);
    EXPECT_EQ(c.mid(cfg - 2, 3), (QStringList{"d    ", "M2", "DCFG "}));
    EXPECT_EQ(c[cfg + 1], "P003FFF");
    EXPECT_EQ(rig.box.card().picId, (std::array<uint16_t, 4>{0x3F81, 0x3F82, 0x3F83, 0x3F84}));
    EXPECT_EQ(rig.sent("d"),
              (QStringList{"dPRG:", "d    ", "d    "}));  // program, configuration, closing
}

TEST(PicSequences, EraseRuleAndQxBaseLeavesOutLabels) {
    ActionRig rig(13, SimBox::Model::QxBase);
    ASSERT_TRUE(rig.connect());
    rig.only({Memory::Program, Memory::Data, Memory::Configuration});
    rig.run(5);
    ASSERT_TRUE(rig.ready());
    QStringList c = rig.commands();
    const int erase = int(c.indexOf("DERAS"));
    ASSERT_GE(erase, 0);
    EXPECT_EQ(c.mid(erase, 4), (QStringList{"DERAS", "M1", "ErA", "M0"}));
    EXPECT_TRUE(rig.sent("d").isEmpty());
    EXPECT_TRUE(c.contains("D0000"));
    EXPECT_EQ(rig.sent("L01").size(), 64);  // every data byte is written, 0xFF included

    rig.box.clearTrace();
    rig.untick();
    rig.options.alwaysErase = true;
    rig.run(5);
    EXPECT_TRUE(rig.commands().contains("ErA"));
}

TEST(PicSequences, ProtectedCardReadsOnlyConfigurationAndWarns) {
    ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.box.card().picConfig = 0x000F;  // code protection on
    rig.options.warnEnable = true;
    rig.run(1);
    EXPECT_TRUE(rig.ready());
    EXPECT_EQ(rig.host.questions,
              QStringList{"Warning!|Controller is protected! \rcan't read contents."});
    EXPECT_TRUE(rig.sent("R05").isEmpty());
    EXPECT_EQ(rig.sent("R04").size(), 5);
    EXPECT_EQ(rig.devices.CfgWord & 0x3FF0, 0);

    // Abort on the warning also skips the external EEPROM.
    rig.box.clearTrace();
    rig.host.answerOk = false;
    rig.run(1);
    EXPECT_FALSE(rig.commands().contains("M3"));
    EXPECT_NE(rig.actions.label(), "READY");
    EXPECT_TRUE(rig.host.errors.isEmpty());
}

TEST(PicSequences, FailedConfigurationReadIsReportedAndShiftsNothing) {
    ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.only({Memory::Configuration});
    rig.box.card().picId = {1, 2, 3, 4};
    rig.box.addFault(*SimFault::parse("noanswer,on=R,at=2"));  // the second ID location
    rig.run(1);
    EXPECT_EQ(rig.host.errors, QStringList{"Error while reading PIC Configuration"});
    EXPECT_EQ(rig.devices.IdBuf[0], 1);
    EXPECT_EQ(rig.devices.IdBuf[1], 0xF);  // left as it was, nothing shifted into it
    EXPECT_NE(rig.actions.label(), "READY");
}

TEST(AvrSequences, At90sFuseAndLockBytesAndSkippedBlankWords) {
    ActionRig rig(22);
    ASSERT_TRUE(rig.connect());
    rig.only({Memory::Program, Memory::Configuration});
    rig.fuses.avr.avrFuse = true;
    rig.fuses.avr.lockBit1 = rig.fuses.avr.lockBit2 = true;
    rig.devices.ProgBuf[5] = 0x1234;
    rig.run(5);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    const QStringList c = rig.commands();
    EXPECT_EQ(rig.sent("Y40"), QStringList{"Y40000534"});
    EXPECT_EQ(rig.sent("Y48"), QStringList{"Y48000512"});
    EXPECT_EQ(c.mid(c.size() - 5, 2), (QStringList{"YACBE0000", "YACF90000"}));
    EXPECT_EQ(c.mid(c.size() - 7, 2), (QStringList{"d    ", "DCFG "}));
    EXPECT_EQ(rig.box.card().flash[5], 0x1234);

    // The lock now set, a read reports the protection and reads nothing.
    rig.box.clearTrace();
    rig.run(1);
    EXPECT_EQ(
        rig.host.errors,
        QStringList{"AVR-Device is protected!\rCan't read, verify or blank check the device."});
    EXPECT_TRUE(rig.sent("Y28").isEmpty());

    // Type 20 writes the lock byte only.
    ActionRig fun(20);
    ASSERT_TRUE(fun.connect());
    fun.only({Memory::Configuration});
    fun.fuses.avr.lockBit1 = true;
    fun.run(5);
    EXPECT_EQ(fun.sent("YAC"),
              (QStringList{"YAC530000", "YACFD0000"}));  // identify, then lock bit 1 only
}

TEST(AvrSequences, Mega163WritesOnlyDirtyPages) {
    ActionRig rig(31);
    ASSERT_TRUE(rig.connect());
    rig.only({Memory::Program});
    rig.devices.ProgBuf[70] = 0xABCD;
    rig.run(5);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    EXPECT_EQ(rig.sent("Y4C"), QStringList{"Y4C004000"});
    const QStringList loads = rig.sent("Y40");
    ASSERT_EQ(loads.size(), 64);
    EXPECT_EQ(loads.first(), "Y400000FF");
    EXPECT_EQ(loads[6], "Y400006CD");
    EXPECT_EQ(rig.sent("Y48")[6], "Y480006AB");
    EXPECT_EQ(rig.box.card().flash[70], 0xABCD);
}

TEST(AvrSequences, WrongDeviceIsNamed) {
    ActionRig rig(22);
    ASSERT_TRUE(rig.connect());
    rig.box.insertCard(20);  // an AT90S8515 where an AT90S2323 belongs
    rig.run(3);
    EXPECT_EQ(rig.host.errors, QStringList{"Wrong AVR Device!\rRead: AT90S8515\rMust: AT90S2323"});
    EXPECT_NE(rig.actions.label(), "READY");
}

TEST(LoaderSequences, WarningsThenLoaderInstalledAndEepromReadThroughIt) {
    ActionRig rig(22);
    ASSERT_TRUE(rig.connect());
    rig.options.warnEnable = true;
    for (int i = 0; i < 2048; ++i) rig.box.card().eeprom[size_t(i)] = uint8_t(i * 7);
    rig.run(1);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    EXPECT_EQ(rig.host.questions, QStringList{"Warning!|Contents of controller will be lost\r\r"});
    EXPECT_EQ(rig.host.beeps, 1);
    const QStringList c = rig.commands();
    EXPECT_TRUE(c.contains("DLOAD"));
    EXPECT_EQ(rig.sent("Y40").size() + rig.sent("Y48").size(), 64);
    const int m4 = int(c.indexOf("M4"));
    ASSERT_GT(m4, 0);
    EXPECT_EQ(c.mid(m4 - 4, 4), (QStringList{"YACBF0000", "YACF90000", "M0", "M5"}));
    EXPECT_EQ(c[m4 + 1], "dEEP:");
    for (int i = 0; i < 2048; ++i) ASSERT_EQ(rig.devices.EepBuf[i], uint8_t(i * 7)) << i;

    // Abort on the warning: nothing is erased.
    rig.box.clearTrace();
    rig.host.answerOk = false;
    rig.run(1);
    EXPECT_FALSE(rig.commands().contains("YAC800000"));
    EXPECT_NE(rig.actions.label(), "READY");
}

TEST(LoaderSequences, MissingLoaderIsNamedBeforeTheCardIsErased) {
    QMap<QString, QByteArray> loaders = testLoaders();
    loaders.remove("FUNLOAD");
    ActionRig rig(24, SimBox::Model::Serial, loaders);
    ASSERT_TRUE(rig.connect());
    rig.run(5);
    ASSERT_EQ(rig.host.errors.size(), 1);
    EXPECT_TRUE(rig.host.errors[0].contains("FUNLOAD"));
    EXPECT_FALSE(rig.commands().contains("YAC800000"));
    EXPECT_NE(rig.actions.label(), "READY");
}

TEST(LoaderSequences, Mega163LoaderPagesAndRetriedEepromWrites) {
    ActionRig rig(31);
    ASSERT_TRUE(rig.connect());
    rig.only({Memory::ExternalEeprom});  // as a script may ask: EEPROM only
    rig.box.addFault(*SimFault::parse("noanswer,on=X,times=5"));
    rig.devices.EepBuf[0] = 0x42;
    rig.run(5);
    ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
    const QStringList c = rig.commands();
    // 300 loader bytes: pages at words 0, 64 and 128.
    EXPECT_EQ(rig.sent("Y4C"), (QStringList{"Y4C000000", "Y4C004000", "Y4C008000"}));
    EXPECT_EQ(c.count("X000042"), 6);
    EXPECT_EQ(rig.box.card().eeprom[0], 0x42);
}

TEST(EepromSequences, DirectLettersBySizeAndVerifyOfEveryDirectCard) {
    for (int type : {10, 13, 14}) {
        ActionRig rig(type);
        ASSERT_TRUE(rig.connect());
        rig.only({Memory::ExternalEeprom});
        rig.devices.EepBuf[3] = 0x5A;
        rig.run(5);
        ASSERT_TRUE(rig.ready()) << type;
        const QString w = type == 10 ? "W" : "w";
        EXPECT_TRUE(rig.commands().contains(w + "00035A")) << type;
        EXPECT_EQ(rig.box.card().eeprom[3], 0x5A);

        rig.box.card().eeprom[0x7F3] = 0x11;
        rig.box.clearTrace();
        rig.run(4);
        EXPECT_EQ(rig.host.errors, QStringList{"Verify error at $07F3 (EEPROM Memory)"}) << type;
        EXPECT_TRUE(rig.commands().contains((type == 10 ? "G" : "g") + QString("07F3")));
    }
}
