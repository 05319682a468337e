#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <random>

#include "Recorders.h"
#include "fileio/FileCompare.h"

namespace kelvano::test {
namespace {

TEST(Dispatch, ChoosesTheFormatByExtension) {
    Bench b(10);
    const QByteArray hex = ":0100000041BE\r\n:00000001FF\r\n";
    EXPECT_TRUE(b.io.OpenFile(b.write("UPPER.HEX", hex), 2));
    EXPECT_TRUE(b.io.OpenFile(b.write("x.ee", hex), 2));  // a fragment of ".eep"
    EXPECT_EQ(b.devices.EepBuf[0], 0x41);
    EXPECT_TRUE(b.io.SaveFile(b.path("a.eep"), 2, 2));
    EXPECT_TRUE(b.io.SaveFile(b.path("a.h8"), 2, 2));
    // Records of 16 bytes in upper-case digits ending with CR LF, and the end record.
    EXPECT_TRUE(
        b.read("a.h8").startsWith(":1000000041FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFBE\r\n:10001000FF"));
    EXPECT_TRUE(b.read("a.h8").endsWith("FFFFFF09\r\n:00000001FF\r\n") &&
                b.read("a.h8") == b.read("a.eep"));
    for (const char* name : {"a.obj", "a.crd", "plain"})  // the fourth file type is none
        EXPECT_FALSE(b.io.SaveFile(b.path(name), 2, 4) || QFile::exists(b.path(name))) << name;
    EXPECT_EQ(b.host.errors, QStringList({"Can't save file of this type: .obj",
                                          "Can't save file of this type: .crd",
                                          "Can't save file of this type: "}));

    // Formats known by content whatever the name; a listing line is no S-record, and a .bin
    // file is raw bytes whatever text it holds.
    const QByteArray s19 = ":ignored\r\nS104000042B9\r\n";
    const QByteArray elf = b.read(testData("at90s2323_fuse_lock.elf"));
    using Case = std::tuple<const char*, QByteArray, FileKind>;
    for (const auto& [name, bytes, kind] :
         std::vector<Case>{{"srec.hex", s19.mid(10), FileKind::Srec},
                           {"srec", s19.mid(10), FileKind::Srec},
                           {"listing.hex", s19, FileKind::Hex},
                           {"srec.bin", s19.mid(10), FileKind::Bin},
                           {"prog.bin", elf, FileKind::Elf},
                           {"prog.s19", elf, FileKind::Elf},
                           {"p.txt", "@0100\n01\nq\n", FileKind::TiTxt},
                           {"p.s37", "", FileKind::Srec},
                           {"p.elf", "", FileKind::Elf},
                           {"p.s", "S1", FileKind::Srec},
                           {"p.hx8", ":0100000041BE\r\n", FileKind::None}})
        EXPECT_EQ(TFileIo::Kind(b.write(name, bytes)), kind) << name;
    ASSERT_TRUE(b.io.OpenFile(b.path("srec.hex"), 2));
    EXPECT_EQ(cells(b.devices.EepBuf, {0, 1}), "42 FF");
    // Saving picks the S-record form by extension; the third file type adds ".s19".
    for (const char* name : {"a.s19", "a.s28", "a.s37", "a.srec", "a.mot"})
        ASSERT_TRUE(b.io.SaveFile(b.path(name), 2, 1));
    EXPECT_TRUE(b.io.SaveFile(b.path("typed"), 2, 3));
    EXPECT_EQ(b.read("typed.s19"), b.read("a.s19"));
    // A header, 128 data records of 16 bytes, their count and a start record at 0.
    EXPECT_TRUE(b.read("a.s19").startsWith("S00A00004B454C56414E4FE5\r\nS1130000"));
    EXPECT_TRUE(b.read("a.s19").endsWith("FFFF05\r\nS50300807C\r\nS9030000FC\r\n"));
    EXPECT_TRUE(b.read("a.s28").endsWith("\r\nS50300807C\r\nS804000000FB\r\n"));
    EXPECT_TRUE(b.read("a.s37").endsWith("\r\nS50300807C\r\nS70500000000FA\r\n"));
    EXPECT_TRUE(b.read("a.s28").contains("\r\nS21400000042FFFF") &&
                b.read("a.s37").contains("\r\nS3150000000042FFFF") &&
                b.read("a.mot") == b.read("a.s19"));

    // A PIC program image: 1,024 words, then the IDs, the CfgWord and the 64 EEPROM bytes.
    b.devices.IdBuf[2] = 0x0C;
    b.devices.CfgWord = 0x3FF1;
    RefreshPicPage(b.devices, b.fuses);  // the page a save takes the CfgWord from
    b.devices.DataBuf[63] = 0x5A;
    ASSERT_TRUE(b.io.SaveFile(b.path("pic.hex"), 1, 1));
    const QList<QByteArray> lines = b.read("pic.hex").split('\n');
    ASSERT_EQ(lines.size(), 128 + 1 + 1 + 8 + 1 + 1);  // the text ends with a line end
    EXPECT_EQ(lines[128], ":084000000F000F000C000F007F\r");
    EXPECT_EQ(lines[129], ":02400E00F13F80\r");
    EXPECT_EQ(lines[137], ":10427000FF00FF00FF00FF00FF00FF00FF005A00EB\r");
    EXPECT_EQ(lines[138], ":00000001FF\r");
    // Its binary image keeps the gaps erased and the EEPROM high bytes zero.
    b.devices.ProgBuf[0] = 0x1234;
    b.devices.DataBuf[0] = 0x77;
    ASSERT_TRUE(b.io.SaveFile(b.path("pic.bin"), 1, 1));
    const QByteArray bin = b.read("pic.bin");
    QByteArray at;
    for (int i :
         {0, 1, 2, 3, 0x0800, 0x3FFF, 0x4000, 0x4008, 0x400D, 0x4010, 0x41FF, 0x4200, 0x4201})
        at += bin[i];
    EXPECT_EQ(at.toHex(' '), "34 12 ff 3f ff ff 0f ff ff ff ff 77 00");
}

// Every refusal of the readers: the message ("%F" is "File: <path>\r\r"); no buffer changed.
TEST(Dispatch, RefusedFilesSayWhyAndChangeNoBuffer) {
    Bench b(20);
    ASSERT_TRUE(b.io.OpenFile(b.write("good.crd", "C1 FF 00 00 02 11 22\n"), 3));
    ASSERT_TRUE(b.io.OpenFile(testData("avr8515_flash_eeprom.hex"), 1));
    const QList<TBufArray> before{b.devices.ProgBuf, b.devices.DataBuf, b.devices.EepBuf};
    const QString noData = "I/O-Error #61\rNo data available\rFile: %P";
    const QString typeError =
        "File type error!\r%FFiles read: Intel HEX (.hex .h8 .eep), binary (.bin), AVR object "
        "(.obj), card dump (.crd), S-records (.s19 .s28 .s37 .srec .mot), TI-TXT (.txt), ELF "
        "(.elf), Tektronix extended and MOS Technology";
    const QString avrSlot1 =
        "File 1 of this card type holds: program memory (4096 words) at 0x0000-0x1FFF, data "
        "EEPROM behind it (512 bytes) at 0x2000-0x21FF";
    const QByteArray crd252 = crdLine("C1 FF 00 00 00", 252, 0);
    const QByteArray elf = b.read(testData("at90s2323_fuse_lock.elf"));
    struct Case {
        const char* name;
        QByteArray bytes;
        QString message;
        int slot = 0;  // 0: 3 for card dumps, 1 for object files, 2 for the rest
    };
    const std::vector<Case> cases = {
        {"noext", "", typeError},
        {"a.crd", "C1 FF 00 30 02 33 44\n\nC1 FF 00 40 02 55  66\n",
         "%FError in CRD-file, Line #3\rC1 FF 00 40 02 55  66\r(Illegal character)"},
        {"b.crd", "C1 FF 00 30 02 3G\n",
         "%FError in CRD-file, Line #1\rC1 FF 00 30 02 3G\r(Illegal character)"},
        {"c.crd", "/ only a comment\r\n\r\n", "%FNo data in CRD-file (2 lines read)"},
        {"d.crd", "", "%FNo data in CRD-file (0 lines read)"},
        {"e.crd", crd252, "%FError in CRD-file, Line #1\r" + crd252 + "\r(Line too long)"},
        {"f.crd", "C1 FF FF F0 11 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10\n",
         "%FError in CRD-file, Line #1\rC1 FF FF F0 11 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D "
         "0E 0F 10\r(Address out of range)"},
        {"g.crd", crdLine("01 02 FF 00 00 13 00 40", 16, 0), "Unknown CRD-Format!"},  // NB 13
        {"a.obj", objHeader(10 + 9, 10, 9) + objRecord(0x8000, 0x1234),
         "%FError in AVR object file\r(Address out of range)"},
        {"b.obj", objHeader(10 + 9, 10, 0),  // would never advance
         "%FError in AVR object file\r(Wrong record length)"},
        {"c.obj", objHeader(10 + 11, 10, 11) + objRecord(0, 0, 11),
         "%FError in AVR object file\r(Wrong record length)"},
        {"d.obj", objHeader(10 + 18, 10, 9) + objRecord(0, 0), noData},  // a second record?
        {"e.obj", objHeader(0, 0, 9).left(7), noData},                   // header cut short
        {"f.obj", objHeader(0xFFFFFFFF, 0xFFFFFF00, 5), noData},  // first record past the end
        // Data where the card's slot has no memory, in any format; two values for one byte.
        {"behind.hex", ":01220000A538\n:00000001FF\n",
         "%FData at address 0x2200 (line #1) lands in no memory of the card.\r" + avrSlot1, 1},
        {"behind.obj", objHeader(10 + 9, 10, 9) + objRecord(0x1100, 0x1234),
         "%FData at address 0x2200 lands in no memory of the card.\r" + avrSlot1},
        {"past.s19", "S1040400A552\nS9030000FC\n",
         "%FData at address 0x0400 (line #1) lands in no memory of the card.\rFile 2 of this "
         "card type holds: data EEPROM (512 bytes) at 0x0000-0x01FF"},
        {"long.bin", QByteArray(0x10000, '\xFF') + "\xFF\x01",
         "%FData at address 0x10001 lands in no memory of the card.\rFile 3 of this card type "
         "holds: external EEPROM (8192 bytes) at 0x0000-0x1FFF",
         3},
        {"b.hex", ":0100000041BE\r\n:020000040001F9\r\n",
         "%FError in Hexfile, Line #2\r:020000040001F9\r(Address out of range)"},
        {"c.hex", "  0000  3FFF  GOTO start\r\n",
         "%FNo data or end record in Hexfile (1 lines read)"},
        {"twice.hex", ":0100100012DD\n:0100100034BB\n:00000001FF\n",
         "%FTwo records give address 0x0010 different values: 0x12 in line #1 and 0x34 in line "
         "#2\rLine #1: :0100100012DD\rLine #2: :0100100034BB"},
        {"twice.txt", "@0010\n12\n\n@0010\n34\nq\n",
         "%FTwo records give address 0x0010 different values: 0x12 in line #2 and 0x34 in line "
         "#5\rLine #2: 12\rLine #5: 34"},
        // The text formats: the library's reason, with the line it names.
        {"a.s19", b.read(testData("avr8515_flash_eeprom.s19")).replace("FDCF82", "FDCF83"),
         "%FError in S-record file, Line #2\rS109000001E408BBFDCF83\r(checksum mismatch (00 != "
         "FF))"},
        {"b.s19", "S00600004844521B\r\nS9030000FC\r\n", "%FNo data in S-record file"},
        {"above.s28", b.read(testData("avr8515_above_64k.s28")),
         "%FError in S-record file, Line #2\rS20A01000001E408BBFDCF80\r(Address out of range "
         "(0x10000 to 0x10005))"},
        {"a.txt", "@0100\n01 0G\nq\n",
         "%FError in TI-TXT file, Line #2\r01 0G\r(illegal character)"},
        {"a.tek", "%1E66180000000041308C008C0A0029\n",
         "%FError in Tektronix file, Line #1\r%1E66180000000041308C008C0A0029\r(checksum "
         "mismatch (file says 0x61, expected 0x62))"},
        {"a.elf", "not an ELF file at all", "%FError in ELF file\r(Not an ELF file)"},
        {"c.elf", elf.left(100), "%FError in ELF file\r(No section to load)"},
        {"d.elf", b.read(testData("mega163_all_memories.elf")),
         "%FError in ELF file\r(Section .fuse at 0x820000: the card has no fuse bytes)"},
        // A folder cannot be read: the library's read error ends the load, not the program.
        {"folder.s19", {}, "%FError in S-record file, Line #1\r\r(read: Is a directory)"},
    };
    ASSERT_TRUE(QDir(b.dir.path()).mkdir("folder.s19"));
    for (const Case& c : cases) {
        const QString suffix = QFileInfo(c.name).suffix();
        const QString file = c.bytes.isNull() ? b.path(c.name) : b.write(c.name, c.bytes);
        b.host.errors.clear();
        const int slot = c.slot ? c.slot : suffix == "crd" ? 3 : suffix == "obj" ? 1 : 2;
        EXPECT_FALSE(b.io.OpenFile(file, slot)) << c.name;
        EXPECT_EQ(b.host.errors.join('|'),
                  QString(c.message).replace("%F", "File: " + file + "\r\r").replace("%P", file))
            << c.name << ": " << b.host.errors.join('|').replace('\r', '~').toStdString();
    }
    EXPECT_TRUE((QList<TBufArray>{b.devices.ProgBuf, b.devices.DataBuf, b.devices.EepBuf}) ==
                before);
}

// gpasm output, the same re-blocked by srec_cat and in srec_cat's other formats. Cut before its
// end record, each loads only when the user says OK, and the slot's findings keep the warning.
TEST(Dispatch, ProgramImagesFillTheirCardsBuffersAndPages) {
    for (auto [name, kind] : {std::pair{"pic16f84_config_id_eeprom.hex", "Intel HEX file"},
                              {"pic16f84_32byte_records_linear.hex", "Intel HEX file"},
                              {"pic16f84_config_id_eeprom.s19", "S-record file"},
                              {"pic16f84_config_id_eeprom.txt", "TI-TXT file"},
                              {"pic16f84_config_id_eeprom.tek", "Tektronix file"},
                              {"pic16f84_config_id_eeprom.mos", "MOS Technology file"}}) {
        SCOPED_TRACE(name);
        Bench b(10);
        ASSERT_TRUE(b.io.OpenFile(testData(name), 1));
        EXPECT_EQ(cells(b.devices.ProgBuf, {0, 0x100, 0x3FF}), "3041 347F 3FFF");
        EXPECT_EQ(cells(b.devices.DataBuf, {0, 8}), "4B A5");
        EXPECT_EQ(b.devices.IdBuf, TBufArray({1, 2, 3, 4, 0x0F}));
        EXPECT_EQ(b.devices.CfgWord, 0x3FF1);
        EXPECT_EQ(b.fuses.pic84.osc, 1);  // XT
        EXPECT_EQ(b.devices.pGrid.hex(0), "3041  008C  0A8C  2800  3FFF  3FFF  3FFF  3FFF  ");
        EXPECT_EQ(b.view.pages, std::vector<int>{1});
        EXPECT_TRUE(b.host.asked.isEmpty() && !b.io.SlotLoad(1).hasProblems());  // whole files

        const QByteArray text = b.read(testData(name)).trimmed();
        const QString cut = b.write(QStringLiteral("cut.") + QFileInfo(name).suffix(),
                                    text.left(text.lastIndexOf('\n') + 1));
        b.host.answerOk = false;
        b.devices.ApplyBuffers();
        EXPECT_FALSE(b.io.OpenFile(cut, 1));
        EXPECT_EQ(b.devices.ProgBuf[0], 0x3FFF);
        b.host.answerOk = true;
        EXPECT_TRUE(b.io.OpenFile(cut, 1));
        EXPECT_EQ(b.devices.ProgBuf[0], 0x3041);
        const QString warning =
            QStringLiteral("The %1 ends without an end record: it may be cut short").arg(kind);
        EXPECT_EQ(b.host.asked,
                  QStringList(2, "Warning: File: " + cut + "\r\r" + warning + "\rLoad it anyway?"));
        EXPECT_EQ(b.io.SlotLoad(1).warnings, QStringList{warning});
    }
    // Compared with the file, blank buffers show every memory of slot 1 with its own runs and
    // the configuration at its own addresses, and they, the pages and the CfgWord stay.
    Bench g(10);
    g.devices.DataBuf[2] = 0x4C;  // already what the file holds there
    const TBufArray flashBefore = g.devices.ProgBuf, dataBefore = g.devices.DataBuf;
    const auto r = compareWithFile(g.devices, testData("pic16f84_config_id_eeprom.hex"), 1, g.host);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->diffLines(),
              "flash 0000-0003 4 3FFF3FFF3FFF3FFF 3041008C0A8C2800\n"
              "flash 0100-0100 1 3FFF 347F\n"
              "data 0000-0001 2 FFFF 4B45\n"
              "data 0003-0008 6 FFFFFFFFFFFF 56414E4F00A5\n"
              "config 2000-2003 4 000F000F000F000F 0001000200030004\n"
              "config 2007-2007 1 3FFF 3FF1\n");
    EXPECT_TRUE(g.devices.ProgBuf == flashBefore && g.devices.DataBuf == dataBefore);
    EXPECT_TRUE(g.devices.CfgWord == 0x3FFF && g.view.pages.empty() && g.host.errors.isEmpty());
    // Between the configuration word and the data EEPROM a PIC card has no memory; a file that
    // does not load gives no report.
    EXPECT_FALSE(compareWithFile(g.devices, g.write("bad.hex", ":10000000ZZ\n"), 1, g.host));
    EXPECT_EQ(g.host.errors.size(), 1);
    g.host.errors.clear();
    const QString gap = g.write("gap.hex", ":01410000A519\n:00000001FF\n");
    EXPECT_FALSE(g.io.OpenFile(gap, 1));
    EXPECT_EQ(g.host.errors,
              QStringList{"File: " + gap +
                          "\r\rData at address 0x4100 (line #1) lands in no memory of the card.\r"
                          "File 1 of this card type holds: program memory (1024 words) at "
                          "0x0000-0x07FF, ID locations (4 words) at 0x4000-0x4007, configuration "
                          "word at 0x400E-0x400F, data EEPROM (64 bytes) at 0x4200-0x427F"});
    EXPECT_EQ(g.io.LastLoad().result, kDataOutside);

    // A 16F876 card takes all 256 EEPROM bytes and its own page; no ID or configuration records
    // erase both.
    Bench c(11);
    ASSERT_TRUE(c.io.OpenFile(testData("pic16f876_config_eeprom.hex"), 1));
    EXPECT_EQ(cells(c.devices.DataBuf, {64, 65}), "FE EF");
    EXPECT_EQ(c.devices.CfgWord, 0x3F39);
    EXPECT_EQ(c.fuses.pic876.id[1], "A");
    ASSERT_TRUE(c.io.OpenFile(c.write("plain.hex", ":0100000041BE\r\n"), 1));
    EXPECT_EQ(c.devices.IdBuf[0], 0x0F);
    EXPECT_EQ(c.devices.CfgWord, 0x3FFF);

    // An AVR program file (avra's object file too) changes only the EEPROM bytes it carries.
    Bench a(20);
    a.devices.DataBuf[1] = 0x99;
    for (const char* ext : {".hex", ".s19", ".s28", ".s37", ".obj"}) {
        a.devices.ProgBuf[1] = 0;
        ASSERT_TRUE(a.io.OpenFile(testData("avr8515_flash_eeprom") + ext, 1)) << ext;
        EXPECT_EQ(cells(a.devices.ProgBuf, {0, 1, 2, 0xFFF}), "E401 BB08 CFFD C000") << ext;
    }
    EXPECT_EQ(a.devices.DataBuf[1], 0x99);
    ASSERT_TRUE(a.io.OpenFile(testData("avr8515_flash_with_eeprom_behind.hex"), 1));
    EXPECT_EQ(cells(a.devices.DataBuf, {0, 0x1FF, 0x100}), "4B 34 FF");
    EXPECT_TRUE(a.view.pages.empty());
    ASSERT_TRUE(a.io.OpenFile(testData("avr8515_flash_eeprom.eep.hex"), 2));
    EXPECT_EQ(a.devices.DataBuf[0x1FE], 0x12);
    ASSERT_TRUE(a.io.OpenFile(testData("avr8515_flash.bin"), 3));
    EXPECT_EQ(a.devices.EepBuf[0], 0x01);
    EXPECT_EQ(a.view.pages, std::vector<int>{2});
    EXPECT_TRUE(a.io.OpenFile(a.write("ten.bin", QByteArray("0123456789")), 2));
    EXPECT_EQ(written(a.devices.DataBuf.values()),
              "0:30 1:31 2:32 3:33 4:34 5:35 6:36 7:37 8:38 9:39");

    // Binary files are opened for reading only: the running test program loads, even as root.
    const QString ro = a.path("running.bin");
    ASSERT_TRUE(QFile::link(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), ro));
    a.io.FileName = ro;
    EXPECT_EQ(a.io.ReadBinFile(), 0) << a.host.errors.join(' ').toStdString();
    EXPECT_EQ(a.io.Image[1], 'E');  // "\x7fELF"
    // Through the dispatch it is an ELF file whatever its name; that reader too only reads.
    EXPECT_FALSE(a.io.OpenFile(ro, 2));
    EXPECT_EQ(
        a.host.errors,
        QStringList{"File: " + ro + "\r\rError in ELF file\r(Not an AVR program (machine 62))"});

    // An object file with two records for word 3: the later one counts. A header field behind
    // the record length and a gap before the first record are not read.
    a.io.FileName = a.write("p.obj", objHeader(12 + 3 * 9, 12, 9) + "??" + objRecord(3, 0x1111) +
                                         objRecord(0x7FFF, 0xBEEF) + objRecord(3, 0xABCD) + "tail");
    EXPECT_EQ(a.io.ReadObjFile(), 0);
    EXPECT_EQ(written(a.io.Image), "6:CD 7:AB FFFE:EF FFFF:BE");  // the last word is the image's

    for (auto [code, slot, length] : std::vector<std::tuple<int, int, qint64>>{
             {10, 1, 17024}, {11, 1, 0x4400}, {10, 2, 2048}, {20, 1, 8192}, {20, 2, 512}}) {
        Bench s(code);
        ASSERT_TRUE(s.io.SaveFile(s.path("out"), slot, 2));
        EXPECT_EQ(s.read("out.bin").size(), length) << code << "/" << slot;
    }
}

// Fills with a pattern what a slot's file carries: the flash (a PIC image also the EEPROM, the
// IDs and the CfgWord its fuse page forms), the internal or the external EEPROM.
void scramble(Bench& b, int slot, unsigned seed) {
    std::mt19937 rng(seed);
    TDevices& d = b.devices;
    const bool pic = isPicCode(d.DeviceId);
    const auto fill = [&](TBufArray& buf, unsigned mask, int count) {
        for (int i = 0; i < count; ++i) buf[i] = static_cast<uint16_t>(rng() & mask);
    };
    if (slot == 1) fill(d.ProgBuf, pic ? 0x3FFF : 0xFFFF, d.ProgBuf.length());
    if (slot == (pic ? 1 : 2)) fill(d.DataBuf, 0xFF, d.DataBuf.length());
    if (slot == (pic ? 2 : 3)) fill(d.EepBuf, 0xFF, d.EepBuf.length());
    if (slot == 1 && pic) {
        fill(d.IdBuf, 0x0F, 4);
        b.fuses.pic84.osc = b.fuses.pic876.fosc = 2;
        b.fuses.pic84.wdt = b.fuses.pic876.wdte = true;
        b.fuses.pic876.cp = 1;
    }
}

// Loaded on a fresh card of the same type, the file gives every buffer as it was saved.
TEST(Dispatch, EverySlotOfEveryCardRoundTripsThroughEveryWrittenFormat) {
    for (const TDeviceEntry& row : catalogue())
        for (int slot = 1; slot <= (isPicCode(row.code) ? 2 : 3); ++slot)
            for (const char* ext : {".hex", ".bin", ".s19", ".s37"}) {
                SCOPED_TRACE(testing::Message() << "card " << row.code << " slot " << slot << ext);
                Bench b(row.code), c(row.code);
                scramble(b, slot, static_cast<unsigned>(row.code * 10 + slot));
                const QString file = b.path(QStringLiteral("image") + ext);
                ASSERT_TRUE(b.io.SaveFile(file, slot, 1));
                ASSERT_TRUE(c.io.OpenFile(file, slot));
                EXPECT_TRUE(c.host.errors.isEmpty()) << c.host.errors.join('|').toStdString();
                const TDevices &saved = b.devices, &loaded = c.devices;
                EXPECT_TRUE(loaded.ProgBuf == saved.ProgBuf && loaded.DataBuf == saved.DataBuf &&
                            loaded.EepBuf == saved.EepBuf && loaded.IdBuf == saved.IdBuf &&
                            loaded.CfgWord == saved.CfgWord);
            }
}

}  // namespace
}  // namespace kelvano::test
