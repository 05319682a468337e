// The serial face of the simulated box, spoken to as raw bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "BoxWire.h"
#include "base/Clock.h"
#include "base/PortError.h"
#include "sim/SimBox.h"
#include "sim/SimLatency.h"
#include "sim/SimSerialPort.h"

using namespace kelvano;
using namespace kelvano::test;
using testing::Property;
using testing::Throws;

class SimSerial : public ::testing::Test {
protected:
    void SetUp() override { port.open("SIM", 115200); }
    // Prompt mode, then command mode, with card `type` in the slot.
    void connect(int type) {
        box.insertCard(type);
        ASSERT_EQ(prompt(port, "QXAT\r"), ">");
        port.write("QXAT%\r");
        ASSERT_TRUE(box.inCommandMode());
    }

    VirtualClock clock;
    SimBox box;
    SimSerialPort port{box, clock};
};

TEST_F(SimSerial, PromptModeIdentifiesTakesFirmwareAndSwitchesToCommandMode) {
    // Line feeds and leading noise do not disturb a prompt line; the version is at 39..44.
    for (const auto& [line, answer] :
         {std::pair{"QXAT\r", ">"},
          {"HELLO\r", "ERROR\r>"},
          {"\n\x01QXAT\r", ">"},
          {"QXAT!V#\r", "STRAVINEX QXBASE\rKELVANO BOX SIMULATOR\rSIM-000001\r>"},
          {"QXATQ\r", "STRAVINEX QXBASE firmware version/rev:010001\r>"},
          // Firmware bytes 16..31; the version word and revision are bytes 19..21.
          {"QXATU8010A0A1A2123456A6A7A8A9AAABACADAEAF\r", ">"},
          {"QXATQ\r", "STRAVINEX QXBASE firmware version/rev:123456\r>"},
          // Malformed lines store nothing.
          {"QXATU7FF0AA\r", "ERROR\r>"},
          {"QXATU8000aa\r", "ERROR\r>"},
          {"QXATU8000A\r", "ERROR\r>"},
          {"QXATUFFFFAABB\r", "ERROR\r>"}})
        EXPECT_EQ(prompt(port, line), answer) << line;
    EXPECT_EQ(box.firmwareMemory().mid(15, 18).toHex(), "ffa0a1a2123456a6a7a8a9aaabacadaeafff");
    EXPECT_EQ(box.firmwareLinesReceived(), 1);

    EXPECT_EQ(prompt(port, "QXAT%\r"), "");  // no answer: command mode from here
    port.write("@*");
    EXPECT_EQ(port.readByte(30), '!');
    // A program connecting anew finds the prompt again.
    EXPECT_EQ(prompt(port, "QXAT\r"), ">");
    EXPECT_FALSE(box.inCommandMode());

    box.setModel(SimBox::Model::Serial);  // no firmware to ask about
    EXPECT_EQ(prompt(port, "QXAT!V#\r"), "STRAVINEX QX200\rKELVANO BOX SIMULATOR\rSIM-000002\r>");
    EXPECT_EQ(prompt(port, "QXATQ\r"), "ERROR\r>");
}

TEST_F(SimSerial, CommandFramesHaveFixedLengthsAndAnswerCodes) {
    connect(10);
    EXPECT_EQ(ask(port, "d    "), "ok");
    EXPECT_EQ(box.traceLines(),
              (QStringList{"prompt QXAT<0D>  ->  >", "prompt QXAT%<0D>  ->  (none)",
                           "cmd    @d      ->  00"}));
    // The refused ones all in the wrong mode (M5); no AVR on the lines of a PIC card.
    expectSession(port,
                  "K=0 DINS. M0 M1 M3 M5 M9=no Z=no R04=no I=no G0000=no Q0000=no ErA=no "
                  "YAC530000=FFFF");
    // A frame arriving byte by byte, and two frames in one write, answered in order.
    for (const char* part : {"@", "M", "2"}) port.write(part);
    EXPECT_EQ(port.readByte(60), 0);
    port.write("@R04@K");
    EXPECT_EQ(readUntil(port, '\0', 30).toHex(), "04334646460130");
}

TEST_F(SimSerial, PicAndAvrCardsProgramReadHoldTheirConfigurationAndHideWhatIsProtected) {
    connect(10);
    // 14-bit program words, read back from 0 after "M2"; data bytes keep the low 8 bits. Then
    // the configuration area: ID locations, three more increments, configuration word.
    expectSession(port,
                  "M2 L002805=2805 I L001234=1234 I L00FFFF=3FFF M2 R04=2805 I R04=1234 I "
                  "R04=3FFF M2 L0100A5=00A5 I L010142=0042 M2 P003FFF L003F81=3F81 I L003F82=3F82 "
                  "I L003F83=3F83 I L003F84=3F84 I I I I L003FF9=3FF9 P0012AB=no L02ABCD=no");

    // Code-protected: reads give 0, writes do not take, until an erase (in erase mode only).
    box.card().flash[0] = 0x1111;
    box.card().data[0] = 0x22;
    box.card().picConfig = 0x000D;  // every CP bit programmed
    expectSession(port,
                  "M2 R04=0000 R05=0000 L002222=0000 P003FFF I I I I I I I R04=000D L003FFF=000F "
                  "ErA=no M1 ErA");
    const SimCard& card = box.card();
    EXPECT_EQ(QList<int>({card.flash[0], card.data[0], card.picConfig, card.picId[0]}),
              QList<int>({0x3FFF, 0xFF, 0x3FFF, 0x3FFF}));

    // The 16F876: 8192 words, wrapping like the silicon; "1000-1FFF" protects the upper half.
    connect(11);
    ask(port, "M2");
    for (int i = 0; i < 8192; ++i) ask(port, "I");
    EXPECT_EQ(ask(port, "L000123"), "0123");
    EXPECT_EQ(box.card().flash[0], 0x0123);
    box.card().flash[0x0FFF] = box.card().flash[0x1000] = 0x0ABC;
    box.card().picConfig = 0x1FDF;
    EXPECT_EQ(box.card().picReadWord(0x0FFF), 0x0ABC);
    EXPECT_EQ(box.card().picReadWord(0x1000), 0);

    connect(22);
    // AT90S2323, not yet in sync; flash cells only lose bits until a chip erase.
    expectSession(port,
                  "M5 Y30000000=FFFF YAC530000=5300 Y58000000=00FF Y40001012=0010 Y48001034=0010 "
                  "Y40001021=0010 Y20001000=0000 Y28001000=0034 YC0000577=0005 YA0000500=0077");
    // Fuse (bit 0), lock bits (7, 6) in the lock read; LB1 alone stops writing, not reading.
    // Fully locked: signature 00 01 02, reads give the low address byte; an erase frees all
    // but the fuse, which stayed programmed while LB1 was. "M0" takes programming mode away.
    expectSession(port,
                  "YACBE0000=BE00 Y58000000=00FE YACFD0000=FD00 Y58000000=007E Y40002000=0020 "
                  "Y20002000=00FF Y20001000=0000 YACBF0000=BF00 YACFB0000=FB00 Y58000000=003E "
                  "Y30000100=0001 Y28001000=0010 YA0000500=0005 YAC800000=8000 Y58000000=00FE "
                  "Y30000100=0091 Y20001000=00FF YA0000500=00FF M0 Y30000100=no");

    // ATmega163: only the page write (at its start) stores the buffer; then fuses, lock, erase.
    connect(31);
    expectSession(port,
                  "M5 YAC530000=5300 Y40000001=0000 Y48000002=0000 Y4000033F=0003 Y20004000=00FF "
                  "Y4C004700=0047 Y20004000=0001 Y28004000=0002 Y20004300=003F Y28004300=00FF "
                  "Y20004100=00FF Y4C000000=0000 Y20000000=00FF YACA000F0=A000 YACA800F9=A800 "
                  "Y50000000=00F0 Y58080000=08F9 Y58000000=00FF YACE000FC=E000 Y58000000=00FC "
                  "YAC800000=8000 Y58000000=00FF Y50000000=00F0");
}

// Each card type with its family's rules: device ID or signature, code protection or fuse, and
// direct EEPROM access (the letter case of its size, wrapping at its end) or none.
TEST_F(SimSerial, EveryCardTypeFollowsItsFamilysRules) {
    const char* const pic84 =
        "M2 P003FFF I I I I I I R04=3FFF I L003FEF=3FEF M2 L001234=0000 "
        "L0100A5=0000 ";
    const char* const pic876 =
        "M2 P003FFF I I I I I I R04=09E7 I L003EEF=3EEF M2 L001234=1234 "
        "L0100A5=0000 ";
    const char* const noDirect = "M3 G0000=no g0000=no";
    const auto at90s = [](const char* mid, const char* low, const char* fuseRead) {
        return QByteArray("M5 YAC530000=5300 Y30000000=001E Y30000100=00") + mid + " Y30000200=00" +
               low + " YACBE0000=BE00 Y58000000=" + fuseRead + " M3 G0000=no g0000=no";
    };
    const auto mega = [](const char* low) {
        return QByteArray("M5 YAC530000=5300 Y30000100=0094 Y30000200=00") + low +
               " Y50000000=00E2 Y58080000=08FF YACA800F0=A800 Y58080000=08F8 "
               "YACE000FC=E000 Y28004000=0040 Y30000000=001E M3 G0000=no";
    };
    // Card type, its flash words, data and EEPROM bytes, its loader; frames and answers.
    const std::tuple<int, size_t, size_t, size_t, QString, QByteArray> rows[] = {
        {10, 1024, 64, 2048, "", pic84 + QByteArray("M3 W07FF5A G0FFF=5A g07FF=no")},
        {13, 1024, 64, 8192, "", pic84 + QByteArray("M3 w1FFF5A g3FFF=5A G1FFF=no")},
        {14, 1024, 64, 32768, "", pic84 + QByteArray("M3 w7FFFC3 gFFFF=C3 W0000C3=no")},
        {15, 1024, 64, 2048, "PICLOAD", pic84 + QByteArray(noDirect)},
        {11, 8192, 256, 8192, "DS9LOAD", pic876 + QByteArray(noDirect)},
        {12, 8192, 256, 32768, "DS9LOAD", pic876 + QByteArray(noDirect)},
        {20, 4096, 512, 8192, "FUNLOAD", at90s("93", "01", "00FF")},
        {21, 4096, 512, 8192, "FUNLOAD", at90s("93", "03", "00FE")},
        {22, 1024, 128, 2048, "AVRLOAD", at90s("91", "02", "00FE")},
        {23, 1024, 128, 2048, "AVRLOAD", at90s("91", "03", "00FE")},
        {24, 4096, 512, 16384, "FUNLOAD", at90s("93", "01", "00FF")},
        {25, 4096, 512, 32768, "FUNLOAD", at90s("93", "01", "00FF")},
        {26, 4096, 512, 65536, "FUNLOAD", at90s("93", "01", "00FF")},
        {30, 8192, 512, 8192, "", mega("01")},
        {31, 8192, 512, 32768, "FUNLOAD", mega("02")},
    };
    for (const auto& [type, flashWords, dataBytes, eepromBytes, loader, session] : rows) {
        SCOPED_TRACE(type);
        connect(type);
        expectSession(port, session.constData());
        const SimCard& card = box.card();
        EXPECT_EQ(std::tuple(card.flash.size(), card.data.size(), card.eeprom.size()),
                  std::tuple(flashWords, dataBytes, eepromBytes));
        EXPECT_EQ(card.loaderName(), loader);
    }
    EXPECT_FALSE(SimCard::isKnownType(16) || SimCard::isKnownType(27) || SimCard::isKnownType(32));
}

TEST_F(SimSerial, LoaderModeAnswersOnlyWithTheCardsLoaderInstalled) {
    const QByteArray funLoader = QByteArray::fromHex(QByteArray("0C94").repeated(70));
    box.setLoaderImages({{"PICLOAD", QByteArray::fromHex("8A3001280B")},  // odd: last byte alone
                         {"DS9LOAD", QByteArray::fromHex("8A30")},
                         {"FUNLOAD", funLoader}});
    connect(15);
    // Not before the whole loader is in; then EEPROM through the loader, gone again with "M0".
    expectSession(port,
                  "M4=no M2 L00308A=308A I L002801=2801 I M4=no M2 I I L00000B=000B M4=load "
                  "X07FF99=99 Q07FF=99 M0 Q07FF=no");
    EXPECT_EQ(box.card().eeprom[0x7FF], 0x99);

    // A 16F876 card needs its own loader, DS9LOAD; a blank controller runs none.
    connect(11);
    EXPECT_EQ(ask(port, "M4"), "no");

    // ATmega163: the image written in 64-word pages, as the program installs it.
    connect(31);
    expectSession(port, "M5 YAC530000=5300");
    for (int i = 0; i < funLoader.size(); ++i) {
        ask(port,
            QByteArray(i % 2 ? "Y48" : "Y40") + hex4((i / 2) % 64) + hex2(uchar(funLoader[i])));
        if (i % 128 == 127 || i == funLoader.size() - 1)
            ask(port, "Y4C" + hex4((i / 2) & 0xFFC0) + "00");
    }
    // Locked afterwards: the loader still runs.
    expectSession(port, "YACE000FC=E000 M4=load X7FFF01=01");
    EXPECT_EQ(box.card().eeprom[0x7FFF], 0x01);
}

TEST_F(SimSerial, FaultsChangeTheAnswersTheyTarget) {
    connect(10);
    expectSession(port, "M3 W07FF5A");
    // Each fault, then frames with their answers: a command is carried out unless refused;
    // a fault hits `times` matching frames from the `at`-th on, then passes.
    for (const auto& [fault, session] :
         {std::pair{"wrong,on=G", "G07FF=5B G07FF=5A"},
          {"refuse,on=W", "W07FF11=no G07FF=5A"},
          {"reply=7E,on=W", "W07FF22=7E G07FF=22"},
          {"reply=00,on=G07", "G07FF=00 G07FF=22"},
          {"garble,on=G", "G07FF=hh G07FF=22"},  // XOR 0x5A
          {"short,on=G", "G07FF=short G07FF=22"},
          {"short,on=M", "M3=short M3"},
          {"noanswer,on=K,at=2,times=2", "K=0 K=none DINS. K=none K=0"},
          {"pullcard,at=3", "K=0 K=0 K=0 K=6 M5 YAC530000=no"}}) {
        box.addFault(*SimFault::parse(fault));
        expectSession(port, session);
    }
    EXPECT_TRUE(box.traceLines().contains("cmd    @K  ->  (none)  [noanswer]"));
    // The same card comes back with its contents; another type is a fresh blank one.
    box.insertCard(10);
    EXPECT_EQ(box.card().eeprom[0x7FF], 0x22);
    box.insertCard(20);
    EXPECT_EQ(box.card().eeprom[0x7FF], 0xFF);

    // 60 ms is not enough for an answer 100 ms late; the next ask() discards it once it is in.
    for (const auto& [wait, answer, took] : {std::tuple{60, "none", 60}, {150, "0", 100}}) {
        box.addFault(*SimFault::parse("late=100,on=K"));
        const qint64 before = clock.nowMs();
        EXPECT_EQ(ask(port, "K", wait), answer);
        EXPECT_EQ(clock.nowMs() - before, took);
        clock.advance(100);
    }

    box.addFault(*SimFault::parse("missalive"));
    port.write("@*");
    EXPECT_EQ(port.readByte(30), -1);
    port.write("@*");
    EXPECT_EQ(port.readByte(30), '!');

    box.addFault(*SimFault::parse("lostlink,on=D"));
    EXPECT_EQ(ask(port, "K"), "0");
    const auto failsAs = [](int kind) {
        return Throws<PortError>(Property(&PortError::kind, kind));
    };
    EXPECT_THAT([&] { port.write("@DTEST"); }, failsAs(PortError::Write));
    EXPECT_THAT([&] { port.readByte(10); }, failsAs(PortError::Read));
    EXPECT_THAT([&] { port.purge(); }, failsAs(PortError::Purge));
    port.close();
    EXPECT_THROW(port.open("SIM", 115200), PortError);
    box.setLinkLost(false);
    port.open("SIM", 115200);
    EXPECT_EQ(ask(port, "K"), "0");
}

TEST_F(SimSerial, LineTimingRunsOnTheClock) {
    // At 11520 baud each byte takes 10 bit times, about 0.87 ms.
    port.setLineSpeed(11520);
    qint64 before = clock.nowMs();
    port.write("QXAT!V#\r");  // 8 bytes out
    EXPECT_EQ(clock.nowMs() - before, 7);
    EXPECT_EQ(readUntil(port, '>', 5).size(), 51);  // the whole identity, '>' included
    EXPECT_NEAR(double(clock.nowMs() - before), 7 + 51 * 0.868, 2.0);

    // Added latency holds every answer, its first byte included, and nothing else.
    connect(10);
    SimLatency late(box, 4);
    SimSerialPort latePort(late, clock);
    latePort.open("SIM", 115200);
    latePort.write("@K");
    before = clock.nowMs();
    EXPECT_EQ(latePort.readByte(3), -1);  // not there after 3 ms
    EXPECT_EQ(latePort.readByte(30), 1);  // there at 4 ms, then the "0" behind it
    EXPECT_EQ(clock.nowMs() - before, 4);
    EXPECT_EQ(latePort.readByte(0), '0');
    latePort.write("@*");
    EXPECT_EQ(latePort.readByte(10), '!');
    EXPECT_EQ(clock.nowMs() - before, 8);

    // A port at the wrong speed reaches a box that never answers.
    SimSerialPort slow(box, clock);
    slow.open("SIM", 9600);
    EXPECT_EQ(prompt(slow, "QXAT\r"), "");
}
