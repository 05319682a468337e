// ELF files as avr-gcc links them, read through libelf. The toolchain puts each memory of the
// controller in an address range of its own: flash from 0, the data EEPROM at 0x810000, the
// fuse bytes at 0x820000, the lock byte at 0x830000 and the signature at 0x840000. A load
// fills every memory the file holds.
#include <gelf.h>
#include <libelf.h>

#include <QByteArray>
#include <QFile>
#include <algorithm>

#include "base/Host.h"
#include "base/MainView.h"
#include "fileio/TextLines.h"
#include "fileio/uFileio.h"

namespace kelvano {

namespace {
constexpr uint64_t kEepromBase = 0x810000;
constexpr uint64_t kFuseBase = 0x820000;
constexpr uint64_t kLockBase = 0x830000;
constexpr uint64_t kSignatureBase = 0x840000;
constexpr uint64_t kRegionSize = 0x10000;
// Far more than any program of the supported controllers; a larger file is not read whole.
constexpr qint64 kMaxElfSize = 16 << 20;

enum class Region { Flash, Eeprom, Fuse, Lock, Signature, Other };

Region regionOf(uint64_t lma) {
    if (lma < 0x800000) return Region::Flash;
    const uint64_t base = lma & ~(kRegionSize - 1);
    if (base == kEepromBase) return Region::Eeprom;
    if (base == kFuseBase) return Region::Fuse;
    if (base == kLockBase) return Region::Lock;
    if (base == kSignatureBase) return Region::Signature;
    return Region::Other;
}

// The address a section is loaded at: where the segment holding it is loaded (an initialised
// .data section is linked for RAM but stored in flash behind .text), else its own address.
uint64_t loadAddress(Elf* elf, const GElf_Shdr& sh) {
    size_t count = 0;
    if (elf_getphdrnum(elf, &count) != 0) return sh.sh_addr;
    for (size_t i = 0; i < count; ++i) {
        GElf_Phdr ph;
        if (!gelf_getphdr(elf, static_cast<int>(i), &ph) || ph.p_type != PT_LOAD) continue;
        const bool inFile =
            sh.sh_offset >= ph.p_offset && sh.sh_offset - ph.p_offset + sh.sh_size <= ph.p_filesz;
        const bool inMemory =
            sh.sh_addr >= ph.p_vaddr && sh.sh_addr - ph.p_vaddr + sh.sh_size <= ph.p_memsz;
        if (inFile && inMemory) return ph.p_paddr + (sh.sh_addr - ph.p_vaddr);
    }
    return sh.sh_addr;
}

struct Section {
    QString name;
    uint64_t lma = 0;
    const uint8_t* bytes = nullptr;
    uint64_t size = 0;
};

// Copies a section into `memory` of `capacity` bytes at `offset`; false when it does not fit.
bool place(const Section& s, uint64_t offset, uint64_t capacity, std::vector<uint8_t>& memory) {
    if (offset > capacity || s.size > capacity - offset) return false;
    if (memory.size() < offset + s.size) memory.resize(offset + s.size, 0xFF);
    std::copy_n(s.bytes, s.size, memory.begin() + static_cast<std::ptrdiff_t>(offset));
    return true;
}

QString hexAddress(uint64_t a) { return QStringLiteral("0x") + QString::number(a, 16).toUpper(); }

// The fuse bytes a card takes from a file: the ATmega163 its low and high byte, the AT90S
// cards with a fuse box the one byte that holds it.
int fuseBytesOf(int code) {
    if (code == 31) return 2;
    return hasAvrFuseBox(code) ? 1 : 0;
}
bool takesLockByte(int code) { return isAt90s(code) || code == 31; }

class ElfHandle {
public:
    explicit ElfHandle(QByteArray& bytes)
        : elf_(elf_memory(bytes.data(), static_cast<size_t>(bytes.size()))) {}
    ~ElfHandle() {
        if (elf_) elf_end(elf_);
    }
    ElfHandle(const ElfHandle&) = delete;
    ElfHandle& operator=(const ElfHandle&) = delete;
    Elf* get() const { return elf_; }

private:
    Elf* elf_;
};

// The loadable sections with contents, or a reason why the file is no AVR program.
QString loadableSections(Elf* elf, std::vector<Section>& out) {
    if (!elf || elf_kind(elf) != ELF_K_ELF) return QStringLiteral("Not an ELF file");
    GElf_Ehdr eh;
    if (!gelf_getehdr(elf, &eh)) return QString::fromUtf8(elf_errmsg(-1));
    if (eh.e_machine != EM_AVR)
        return QStringLiteral("Not an AVR program (machine %1)").arg(eh.e_machine);
    size_t names = 0;
    if (elf_getshdrstrndx(elf, &names) != 0) return QString::fromUtf8(elf_errmsg(-1));
    for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn; scn = elf_nextscn(elf, scn)) {
        GElf_Shdr sh;
        if (!gelf_getshdr(scn, &sh)) return QString::fromUtf8(elf_errmsg(-1));
        if (!(sh.sh_flags & SHF_ALLOC) || sh.sh_type == SHT_NOBITS || sh.sh_size == 0) continue;
        Section s;
        const char* name = elf_strptr(elf, names, sh.sh_name);
        s.name = name ? QString::fromLatin1(name) : QStringLiteral("#%1").arg(elf_ndxscn(scn));
        Elf_Data* data = elf_getdata(scn, nullptr);
        if (!data || !data->d_buf || data->d_size != sh.sh_size)
            return QStringLiteral("Section %1 can't be read").arg(s.name);
        s.lma = loadAddress(elf, sh);
        s.bytes = static_cast<const uint8_t*>(data->d_buf);
        s.size = sh.sh_size;
        out.push_back(s);
    }
    if (out.empty()) return QStringLiteral("No section to load");
    return {};
}
}  // namespace

int TFileIo::ReadElfFile() {
    fillImage();
    elf_ = {};
    formatName_ = QStringLiteral("ELF file");
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) {
        int error = 0;
        openFile(FileName, "rb", error);  // the system's reason, as every reader reports it
        ShowIoError(error ? error : EIO);
        return error ? error : EIO;
    }
    QByteArray bytes = file.read(kMaxElfSize);
    elf_version(EV_CURRENT);
    ElfHandle elf(bytes);
    std::vector<Section> sections;
    reason_ = loadableSections(elf.get(), sections);
    if (!reason_.isEmpty()) return kElfError;

    const int code = devices_.DeviceId;
    const TDeviceEntry* card = findDevice(code);
    if (!card || !card->avr()) {
        reason_ = QStringLiteral("An AVR program does not fit this card's controller");
        return kElfError;
    }
    std::vector<uint8_t> flash, signature;
    for (const Section& s : sections) {
        struct Target {
            const char* memory;
            uint64_t capacity;
            std::vector<uint8_t>* bytes;
        };
        Target t{nullptr, 0, nullptr};
        switch (regionOf(s.lma)) {
            case Region::Flash:
                t = {"flash", 2 * uint64_t(card->flashWords), &flash};
                break;
            case Region::Eeprom:
                t = {"data EEPROM", uint64_t(card->internalEepromBytes), &elf_.eeprom};
                break;
            case Region::Fuse:
                t = {"fuse bytes", uint64_t(fuseBytesOf(code)), &elf_.fuses};
                break;
            case Region::Lock:
                t = {"lock bits", takesLockByte(code) ? 1u : 0u, &elf_.lock};
                break;
            case Region::Signature:
                t = {"signature", 3, &signature};
                break;
            case Region::Other:
                break;
        }
        const uint64_t offset = t.bytes == &flash ? s.lma : s.lma & (kRegionSize - 1);
        if (!t.bytes || t.capacity == 0)
            reason_ = QStringLiteral("Section %1 at %2: the card has no %3")
                          .arg(s.name, hexAddress(s.lma),
                               QLatin1String(t.memory ? t.memory : "memory there"));
        else if (!place(s, offset, t.capacity, *t.bytes))
            reason_ = QStringLiteral(
                          "Section %1 (%2 bytes at %3) does not fit the %4 of the card "
                          "(%5 bytes): data at %6 lands in no memory of the card")
                          .arg(s.name)
                          .arg(s.size)
                          .arg(hexAddress(s.lma), QLatin1String(t.memory))
                          .arg(t.capacity)
                          .arg(hexAddress(s.lma - offset + std::max(offset, t.capacity)));
        if (!reason_.isEmpty()) return kElfError;
    }
    std::copy(flash.begin(), flash.end(), Image.begin());
    // avr-libc stores the signature lowest byte first: 0x1E last.
    if (signature.size() == 3 && card->avrSignature != 0) {
        const uint32_t sig =
            uint32_t{signature[2]} << 16 | uint32_t{signature[1]} << 8 | signature[0];
        if (sig != card->avrSignature) {
            const QString text =
                QStringLiteral(
                    "File: %1\r\rThe program is made for the controller with signature "
                    "%2, the card's %3 has %4.\rLoad it anyway?")
                    .arg(FileName, QString::number(sig, 16).toUpper(),
                         QLatin1String(card->controllerCaption),
                         QString::number(card->avrSignature, 16).toUpper());
            if (!host_.askOkAbort(QStringLiteral("Warning"), text)) return kLoadAborted;
        }
    }
    return kLoadOk;
}

bool TFileIo::copyElfToCard() {
    TDevices& d = devices_;
    for (int w = 0; w < d.ProgBuf.length(); ++w) d.ProgBuf[w] = imageWord(2 * int64_t{w});
    redraw(1);
    if (view_) view_->setFileLabel(1, FileName);
    if (!elf_.eeprom.empty()) {
        for (int e = 0; e < d.DataBuf.length(); ++e)
            d.DataBuf[e] = size_t(e) < elf_.eeprom.size() ? elf_.eeprom[size_t(e)] : 0xFF;
        redraw(2);
        if (view_) view_->setFileLabel(2, FileName);
    }
    applyElfFuses();
    return true;
}

// The fuse and lock bytes into the card's fuse page, in avr-libc's bit layout (a programmed
// bit is 0): the AT90S lock bits LB1 and LB2 are bits 0 and 1, FSTRT is bit 2 of the
// AT90S8535 fuse byte and bit 0 of the AT90S2323's, RCEN bit 0 of the AT90S2343's.
void TFileIo::applyElfFuses() {
    TDevices& d = devices_;
    const int code = d.DeviceId;
    if (elf_.fuses.empty() && elf_.lock.empty()) return;
    // A value the user named stays; the note tells which value of the file it replaced.
    auto note = [this](const QString& setting, const char* what, const std::vector<uint8_t>& v) {
        QStringList bytes;
        for (uint8_t b : v) bytes << hexAddress(b);
        fuseNotes_ << QStringLiteral("%1 replaces the %2 %3 of %4")
                          .arg(setting, QLatin1String(what), bytes.join(QLatin1Char('/')),
                               FileName);
    };
    if (code == 31) {
        if (!kept_.mega163.isEmpty()) {
            if (!elf_.fuses.empty()) note(kept_.mega163, "fuse bytes (low/high)", elf_.fuses);
            if (!elf_.lock.empty()) note(kept_.mega163, "lock byte", elf_.lock);
            return;
        }
        if (elf_.fuses.size() > 0) d.FuseLow = elf_.fuses[0];
        if (elf_.fuses.size() > 1) d.FuseHigh = elf_.fuses[1];
        if (!elf_.lock.empty()) d.LockByte = elf_.lock[0];
        RefreshMega163Page(d, fuses_);
        return;
    }
    if (!elf_.fuses.empty() && !kept_.fuse.isEmpty())
        note(kept_.fuse, "fuse byte", elf_.fuses);
    else if (!elf_.fuses.empty())
        fuses_.avr.avrFuse = !(elf_.fuses[0] >> (code == 21 ? 2 : 0) & 1);
    if (!elf_.lock.empty() && !kept_.lockBits.isEmpty()) {
        note(kept_.lockBits, "lock byte", elf_.lock);
    } else if (!elf_.lock.empty()) {
        fuses_.avr.lockBit1 = !(elf_.lock[0] & 0x01);
        fuses_.avr.lockBit2 = !(elf_.lock[0] & 0x02);
    }
    fuses_.notify();
}

}  // namespace kelvano
