// Serial number forms and the job file reader.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "Printers.h"
#include "TestRig.h"
#include "production/Job.h"
#include "production/SerialNumber.h"

using namespace kelvano;

namespace {

SerialPlan plan(SerialPlan::Form form, int size) {
    SerialPlan s;
    s.form = form;
    s.size = size;
    return s;
}

QByteArray hex(const char* h) { return QByteArray::fromHex(h); }

// The values at `addresses`, in hex, one blank between them.
QString cells(const TBufArray& b, std::initializer_list<int> addresses) {
    QStringList out;
    for (int a : addresses) out << QString::number(b[a], 16).toUpper();
    return out.join(' ');
}

}  // namespace

TEST(SerialNumber, EachFormWritesItsBytesAndRefusesWhatDoesNotFit) {
    using F = SerialPlan::Form;
    const struct {
        SerialPlan::Form form;
        int size;
        uint64_t value;
        QByteArray bytes;  // empty: does not fit
    } cases[] = {
        {F::BinaryLE, 4, 0x12345678, hex("78563412")},
        {F::BinaryLE, 2, 0xA05, hex("050A")},
        {F::BinaryBE, 3, 0x0A0B0C, hex("0A0B0C")},
        {F::BinaryBE, 4, 0x1F, hex("0000001F")},
        {F::Bcd, 3, 123456, hex("123456")},
        {F::Bcd, 2, 907, hex("0907")},
        {F::AsciiDec, 6, 42, QByteArray("000042")},
        {F::AsciiHex, 4, 0xBEEF, QByteArray("BEEF")},
        {F::AsciiHex, 4, 0x2A, QByteArray("002A")},
        // Boundaries: the largest value of each form fits, one more does not.
        {F::BinaryLE, 1, 255, hex("FF")},
        {F::BinaryLE, 1, 256, {}},
        {F::BinaryBE, 2, 65536, {}},
        {F::BinaryLE, 8, UINT64_MAX, hex("FFFFFFFFFFFFFFFF")},
        {F::Bcd, 1, 99, hex("99")},
        {F::Bcd, 1, 100, {}},
        {F::Bcd, 8, 9999999999999999ULL, hex("9999999999999999")},
        {F::AsciiDec, 3, 999, QByteArray("999")},
        {F::AsciiDec, 3, 1000, {}},
        {F::AsciiHex, 2, 0xFF, QByteArray("FF")},
        {F::AsciiHex, 2, 0x100, {}},
    };
    for (const auto& c : cases) {
        const SerialPlan s = plan(c.form, c.size);
        EXPECT_EQ(s.encode(c.value), c.bytes)
            << SerialPlan::formName(c.form).toStdString() << " " << c.size << " " << c.value;
        EXPECT_EQ(s.fits(c.value), !c.bytes.isEmpty());
    }
}

TEST(SerialNumber, SequenceEndsAtLastOrAtTheLargestValueThatFits) {
    SerialPlan s = plan(SerialPlan::Form::BinaryLE, 1);
    s.start = 10;
    s.step = 5;
    s.last = 22;  // not on the step: 20 is the last value handed out
    EXPECT_EQ(s.valueAt(0), 10u);
    EXPECT_EQ(s.valueAt(2), 20u);
    EXPECT_EQ(s.valueAt(3), std::nullopt);
    s.last.reset();
    s.start = 250;
    s.step = 3;
    EXPECT_EQ(s.valueAt(1), 253u);
    EXPECT_EQ(s.valueAt(2), std::nullopt);  // 256 does not fit one byte
    s.list = {7, 3};
    EXPECT_EQ(s.valueAt(1), 3u);
    EXPECT_EQ(s.valueAt(2), std::nullopt);
    EXPECT_EQ(plan(SerialPlan::Form::AsciiHex, 3).text(0xAB), QStringLiteral("0AB"));
}

TEST(SerialNumber, WrittenIntoTheBufferOfItsMemory) {
    TDevices avr;
    avr.DeviceId = 20;
    avr.ApplyBuffers(nullptr, false);
    SerialPlan s = plan(SerialPlan::Form::BinaryLE, 3);
    s.memory = SerialPlan::Memory::Flash;
    s.address = 5;  // odd: the high byte of word 2 first
    s.writeInto(avr, hex("A1B2C3"));
    EXPECT_EQ(cells(avr.ProgBuf, {2, 3, 4}), "A1FF C3B2 FFFF");

    TDevices pic;
    pic.DeviceId = 10;
    pic.ApplyBuffers(nullptr, false);
    s.address = 0x3FE;
    s.size = 2;
    s.writeInto(pic, hex("5AA5"));
    EXPECT_EQ(cells(pic.ProgBuf, {0x3FE, 0x3FF}), "345A 34A5");  // RETLW 0x5A, RETLW 0xA5
    s.memory = SerialPlan::Memory::Eeprom;
    s.address = 0x7FE;
    s.writeInto(pic, hex("0102"));
    EXPECT_EQ(cells(pic.EepBuf, {0x7FE, 0x7FF}), "1 2");
    s.memory = SerialPlan::Memory::Data;
    EXPECT_EQ(s.memoryBytes(10), 64);
    EXPECT_EQ(s.memoryBytes(31), 512);
}

// ---------------------------------------------------------------------------------------

class JobReader : public ::testing::Test {
protected:
    void SetUp() override {
        // 16 bytes of external EEPROM image, and an AVR flash HEX with two words.
        write("eep.bin", hex("00112233445566778899AABBCCDDEEFF"));
        write("flash.hex", ":04000000AB12CD343E\n:00000001FF\n");
        write("list.txt", "0x10\n\n0x20\n");
    }
    QString path(const QString& name) const { return dir_.filePath(name); }
    void write(const QString& name, const QByteArray& text) { test::writeFile(path(name), text); }
    // Reads `text` as a job file; returns the error ("" on success).
    QString read(const QByteArray& text, Job* out = nullptr) {
        write("job.ini", text);
        Job job;
        QString error;
        const bool ok = readJob(path("job.ini"), job, error);
        if (out) *out = job;
        return ok ? QString() : error.mid(path("job.ini").size());
    }
    QTemporaryDir dir_;
};

TEST_F(JobReader, GoodJobsLoadImagesFusesAndSerial) {
    const QByteArray text =
        "; badge run\n[Job]\nName=Badge\nCard=22\nOnFail=void\n"
        "[Images]\nSlot1=flash.hex\nSlot3=eep.bin\n[Options]\nVerify=0\n[Fuses]\nLockbit2=1\n"
        "AVRFuse1=1\n[Serial]\nMemory=eeprom\nAddress=0x7FC\nSize=4\nForm=bcd\nStart=1000\n"
        "Step=2\nLast=1010\n";
    Job job;
    ASSERT_EQ(read(text, &job), QString());
    EXPECT_EQ(job.name, QStringLiteral("Badge"));
    EXPECT_EQ(job.card, 22);
    EXPECT_TRUE(job.voidOnFail && !job.verify);
    EXPECT_EQ(cells(job.progBuf, {0, 1, 2}), "12AB 34CD FFFF");
    EXPECT_EQ(cells(job.eepBuf, {10, 15}), "AA FF");  // AVR slot 3 = external EEPROM
    EXPECT_TRUE(!job.avr.lockBit1 && job.avr.lockBit2 && job.avr.avrFuse);
    ASSERT_TRUE(job.serial);
    EXPECT_EQ(job.serial->form, SerialPlan::Form::Bcd);
    EXPECT_EQ(job.serial->address, 0x7FC);
    EXPECT_EQ(*job.serial->last, 1010u);
    EXPECT_EQ(job.hash.size(), 64);
    EXPECT_EQ(job.defaultLogPath(), path("job.log.db"));
    const QString firstHash = job.hash;
    write("eep.bin", hex("01"));  // another image: another hash
    read(text, &job);
    EXPECT_NE(job.hash, firstHash);

    // A list file's values in order, blank lines skipped; the job is named after its file.
    // CR LF and CR-only line ends read as LF ones do, in the job and in its list file.
    const QByteArray lines[] = {"[Job]",    "Card=10",       "[Options]",   "Verify=0",
                                "[Serial]", "Memory=data",   "Address=0",   "Size=1",
                                "Form=le",  "List=list.txt", "Pool=Widgets"};
    for (const char* end : {"\n", "\r\n", "\r"}) {
        QByteArray text;
        for (const QByteArray& l : lines) text += l + end;
        write("list.txt", QByteArray("0x30") + end + end + "0x40" + end);
        ASSERT_EQ(read(text, &job), QString()) << end;
        EXPECT_EQ(job.name, QStringLiteral("job"));
        EXPECT_FALSE(job.verify);
        ASSERT_TRUE(job.serial);
        EXPECT_EQ(job.serial->list, (QList<uint64_t>{0x30, 0x40}));
        EXPECT_EQ(job.serial->pool, QStringLiteral("Widgets"));
    }

    // The sample job that ships with the program.
    QString error;
    ASSERT_TRUE(readJob(QStringLiteral(KELVANO_TEST_DATA "/../../packaging/examples/badge-job.ini"),
                        job, error))
        << error.toStdString();
    EXPECT_EQ(job.card, 22);
    EXPECT_EQ(job.count, 500);
    ASSERT_TRUE(job.serial);
    EXPECT_EQ(job.serial->encode(20260001), hex("20260001"));
    EXPECT_EQ(job.eepBuf[0], uint16_t('K'));
}

TEST_F(JobReader, EveryErrorNamesItsLine) {
    const QByteArray job = "[Job]\nCard=10\n";
    const QByteArray serial = job + "[Serial]\nMemory=eeprom\nAddress=0\nSize=2\nForm=le\n";
    const QByteArray decList =
        job + "[Serial]\nMemory=data\nAddress=0\nSize=1\nForm=dec\nList=list.txt\n";
    const struct {
        QByteArray text;
        const char* error;
    } cases[] = {
        {job + "Colour=red\n", ", line 3: unknown key \"Colour\" in [job]"},
        {job + "[Extra]\n", ", line 3: unknown section [Extra]"},
        {job + "Card=11\n", ", line 3: key Card a second time (first in line 2)"},
        {"[Job]\nCard 10\n", ", line 2: not a KEY=VALUE line: \"Card 10\""},
        {"[Job]\nCard=30\n", ", line 2: Card takes a card type code that can be programmed"},
        {"[Job]\nName=x\n", ", line 1: [Job] has no Card"},
        {"[Images]\nSlot1=flash.hex\n", ": no [Job] section"},
        {"[Job]\nCard=22\n[Images]\nSlot1=missing.hex\n", ", line 4: image file \""},
        {job + "[Images]\nSlot3=eep.bin\n", ", line 4: card type 10 has no slot 3"},
        {job + "[Images]\nSlot1=list.txt\n", ", line 4: image file \""},
        {"[Job]\nCard=22\n[Memories]\nProgMem=0\n",
         ", line 3: this card's EEPROM is written through a loader"},
        {job + "[Options]\nVerify=yes\n", ", line 4: verify takes 0 or 1, not \"yes\""},
        {job + "[Fuses]\nLockbit1=1\n", ", line 4: card type 10 has no fuse setting \"lockbit1\""},
        {job + "[Fuses]\nOscillator=XX\n", ", line 4: oscillator takes one of LP, XT, HS, RC"},
        {serial + "Start=65536\n", ", line 8: Start 65536 does not fit 2 bytes in the form le"},
        {serial + "Start=1\nLast=70000\n", ", line 9: Last 70000 does not fit 2 bytes"},
        {serial + "Start=9\nLast=3\n", ", line 9: Last lies below Start"},
        {job + "[Serial]\nMemory=eeprom\nAddress=0x7FF\nSize=2\nForm=le\nStart=1\n",
         ", line 5: the serial (2 bytes at 0x7FF) lies outside the eeprom memory of card type 10 "
         "(2048 bytes)"},
        {job + "[Serial]\nMemory=rom\nAddress=0\nSize=2\nForm=le\nStart=1\n",
         ", line 4: Memory takes flash, data or eeprom"},
        {job + "[Serial]\nMemory=data\nAddress=0\nSize=9\nForm=le\nStart=1\n",
         ", line 6: size must be at most 8"},
        {job + "[Memories]\nDataMem=0\n[Serial]\nMemory=data\nAddress=0\nSize=1\nForm=le\n"
               "Start=1\n",
         ", line 6: the job does not program the data memory"},
        {serial + "List=list.txt\nStart=1\n", ", line 8: List does not go with Start"},
        {decList, ", line 8: list file \""},
        {serial, ", line 3: [Serial] has no Start (or List)"},
        {serial + "Start=1\nPool= \n", ", line 9: Pool is empty"},
        // A lone CR or a NUL is no line end: the line that holds it is named.
        {"[Job]\r\nCard=10\r\n[Options]\r\nVerify=1\rVerify=0\r\n",
         ", line 4: a carriage return (CR) inside the line"},
        {serial + "Step=1\rStart=5000\n", ", line 8: a carriage return (CR) inside the line"},
        {QByteArray("[Job]\nCard=10\nName=a") + '\0' + "b\nCount=x\n",
         ", line 3: a NUL byte in the line"},
    };
    for (const auto& c : cases) {
        const QString error = read(c.text);
        EXPECT_TRUE(error.startsWith(QString::fromUtf8(c.error)))
            << c.text.toStdString() << "\n-> " << error.toStdString();
    }
    // An image that may be cut short is no image for a production run.
    write("cut.hex", ":04000000AB12CD343E\n");
    EXPECT_TRUE(read("[Job]\nCard=22\n[Images]\nSlot1=cut.hex\n")
                    .endsWith("is not loaded: The Intel HEX file ends without an end record: it "
                              "may be cut short"));
    // The list file's own line is named too: 0x10 does not fit one ASCII digit.
    EXPECT_TRUE(
        read(decList).contains("list.txt\", line 1: 0x10 does not fit 1 bytes in the form dec"));
}
