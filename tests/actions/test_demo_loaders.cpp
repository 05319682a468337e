// The built-in store's demo loaders: every card's EEPROM works on the simulated box, and no
// other box is sent one.
#include <gtest/gtest.h>

#include <random>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {

// A rig whose program and box both use the store built into the program.
void useBuiltInStore(ActionRig& rig) {
    rig.com.setStore(ImageStore(ImageStore::builtInData()));
    rig.box.setLoaderImages(SimBox::builtInLoaders());
}

std::vector<uint8_t> eepromOf(const ActionRig& rig) { return rig.box.card().eeprom; }

}  // namespace

TEST(DemoLoaders, EveryCardTypeProgramsVerifiesAndReadsItsEepromOnTheSimulatedBox) {
    std::mt19937 rng(1307);
    for (int card : {10, 11, 12, 13, 14, 15, 20, 21, 22, 23, 24, 25, 26, 31}) {
        SCOPED_TRACE(card);
        ActionRig rig(card);
        useBuiltInStore(rig);
        rig.box.setTraceKept(false);
        ASSERT_TRUE(rig.connect());
        rig.options.verify = true;
        TDevices& d = rig.devices;
        for (int i = 0; i < d.ProgBuf.length(); ++i)
            d.ProgBuf[i] = uint16_t(rng() & (isPicCode(card) ? 0x3FFF : 0xFFFF));
        for (int i = 0; i < d.EepBuf.length(); ++i) d.EepBuf[i] = uint16_t(rng() & 0xFF);
        const TBufArray prog = d.ProgBuf, eep = d.EepBuf;

        rig.run(5);
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        const std::vector<uint8_t> held = eepromOf(rig);
        ASSERT_EQ(int(held.size()), eep.length());
        int differ = 0;
        for (int i = 0; i < eep.length(); ++i) differ += held[size_t(i)] != eep[i];
        EXPECT_EQ(differ, 0);

        rig.run(4);
        EXPECT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();

        d.ApplyBuffers();
        rig.run(1);
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_TRUE(d.EepBuf == eep);
        EXPECT_TRUE(d.ProgBuf == prog);
    }
}

// A box that names itself as a real QXBASE box gets no demo loader: the action stops before
// the card is erased, and the card keeps its program.
TEST(DemoLoaders, ARealBoxIsRefusedTheDemoLoaderBeforeAnythingIsErased) {
    for (int card : {20, 31, 15, 11}) {
        for (int action : {5, 1}) {
            SCOPED_TRACE(QString("card %1 action %2").arg(card).arg(action).toStdString());
            ActionRig rig(card, SimBox::Model::QxBase);
            useBuiltInStore(rig);
            rig.box.setIdentity("STRAVINEX QXBASE", "V2.10", "0012345");
            ASSERT_TRUE(rig.connect());
            for (size_t i = 0; i < rig.box.card().flash.size(); ++i)
                rig.box.card().flash[i] = uint16_t(0x1000 + i);
            const std::vector<uint16_t> before = rig.box.card().flash;
            rig.run(action);
            const QString name = card == 15 ? "PICLOAD" : card == 11 ? "DS9LOAD" : "FUNLOAD";
            EXPECT_EQ(rig.host.errors,
                      QStringList{
                          "The EEPROM loader \"" + name +
                          "\" in the image store is a demo loader for the "
                          "simulated box and does not run on a real card. Nothing on the card was "
                          "changed.\r\rPut the box maker's loaders into kelvano.store beside the "
                          "program."});
            EXPECT_TRUE(rig.box.card().flash == before);
            const QStringList sent = rig.commands();
            EXPECT_FALSE(sent.contains("ErA") || sent.contains("YAC800000") ||
                         sent.contains("DLOAD"))
                << sent.join(' ').toStdString();
        }
    }
}
