#include "production/Job.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <functional>
#include <map>
#include <vector>

#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include "base/Host.h"
#include "fileio/uFileio.h"

namespace kelvano {

namespace {

// The file module reports through a Host; here the first report is the reader's message.
class CaptureHost final : public Host {
public:
    void showError(const QString& text) override {
        if (error.isEmpty()) error = text;
    }
    // A question is answered Abort, and what it asks about is the error.
    bool askOkAbort(const QString&, const QString& text) override {
        showError(text);
        return false;
    }
    void beep() override {}
    void processEvents() override {}
    QString error;
};

// The lines of a text file: ended by CR LF, LF or (in a file without any LF) CR alone. A CR
// anywhere else, or a NUL byte, is refused: an INI reader would end a line there that the
// user does not see. On failure `bad` is the line (from 1) and `why` what is wrong.
bool splitLines(const QByteArray& data, QList<QByteArray>& lines, int& bad, QString& why) {
    const bool crOnly = !data.contains('\n');
    lines = data.split(crOnly ? '\r' : '\n');
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray& line = lines[i];
        if (!crOnly && line.endsWith('\r')) line.chop(1);
        const bool cr = line.contains('\r'), nul = line.contains('\0');
        if (cr || nul) {
            bad = i + 1;
            why = cr ? QStringLiteral("a carriage return (CR) inside the line")
                     : QStringLiteral("a NUL byte in the line");
            return false;
        }
    }
    return true;
}

struct Entry {
    QString value;
    int line = 0;
};

// Where every section and key of the file stands. The values themselves are read with
// SimpleIni; it keeps no line numbers, and every message here names the line.
struct LineIndex {
    std::map<QString, int> sections;                 // lower-case name -> line
    std::map<QString, std::map<QString, int>> keys;  // section -> key -> line
};

class Reader {
public:
    Reader(const QString& path, Job& job) : path_(path), job_(job), ini_(false, false, false) {}

    bool run(QString& error);

private:
    bool fail(int line, const QString& text) {
        error_ = line > 0 ? QStringLiteral("%1, line %2: %3").arg(path_).arg(line).arg(text)
                          : QStringLiteral("%1: %2").arg(path_, text);
        return false;
    }
    bool index(const QList<QByteArray>& lines);
    bool checkKeys();
    bool has(const char* section, const char* key) const;
    Entry get(const char* section, const char* key) const;
    int sectionLine(const char* section) const;
    bool flag(const char* section, const char* key, bool& out);
    bool number(const char* section, const char* key, uint64_t& out, uint64_t max);
    bool readJobSection();
    bool readImages();
    bool readMemories();
    bool readFuses();
    bool readSerial();
    bool readSerialPlace(SerialPlan& plan);
    bool readSerialSequence(SerialPlan& plan, int at);
    bool readList(SerialPlan& plan, const Entry& e);
    QString resolve(const QString& name) const;

    QString path_;
    Job& job_;
    CSimpleIniA ini_;
    LineIndex index_;
    QString error_;
    QCryptographicHash hash_{QCryptographicHash::Sha256};
};

const std::map<QString, std::vector<QString>>& knownKeys() {
    static const std::map<QString, std::vector<QString>> keys{
        {"job", {"name", "card", "count", "log", "onfail"}},
        {"images", {"slot1", "slot2", "slot3"}},
        {"memories", {"progmem", "datamem", "config", "eepmem"}},
        {"options", {"verify", "alwayserase"}},
        {"fuses",
         {"oscillator", "wdt",     "wdte",  "pwrte",          "cp",       "boden",    "lvp",
          "cpd",        "wrt",     "debug", "codeprotection", "lockbit1", "lockbit2", "avrfuse1",
          "lb1",        "lb2",     "blb01", "blb02",          "blb11",    "blb12",    "bodlevel",
          "bootrst",    "bootsize"}},
        {"serial", {"memory", "address", "size", "form", "start", "step", "last", "list", "pool"}},
    };
    return keys;
}

bool Reader::index(const QList<QByteArray>& lines) {
    QString section;
    for (int i = 0; i < lines.size(); ++i) {
        const int no = i + 1;
        QString t = QString::fromUtf8(lines[i]).trimmed();
        if (i == 0 && t.startsWith(QChar(0xFEFF))) t = t.mid(1).trimmed();
        if (t.isEmpty() || t.startsWith(u';') || t.startsWith(u'#')) continue;
        if (t.startsWith(u'[')) {
            if (!t.endsWith(u']'))
                return fail(no, QStringLiteral("a section name must end with ]"));
            section = t.mid(1, t.size() - 2).trimmed().toLower();
            if (!knownKeys().count(section))
                return fail(no, QStringLiteral("unknown section [%1]").arg(t.mid(1, t.size() - 2)));
            if (index_.sections.count(section))
                return fail(no, QStringLiteral("section [%1] a second time").arg(section));
            index_.sections[section] = no;
            continue;
        }
        const int eq = t.indexOf(u'=');
        if (eq <= 0) return fail(no, QStringLiteral("not a KEY=VALUE line: \"%1\"").arg(t));
        if (section.isEmpty()) return fail(no, QStringLiteral("a key before the first section"));
        const QString key = t.left(eq).trimmed().toLower();
        auto& keys = index_.keys[section];
        if (keys.count(key))
            return fail(no, QStringLiteral("key %1 a second time (first in line %2)")
                                .arg(t.left(eq).trimmed())
                                .arg(keys[key]));
        const auto& known = knownKeys().at(section);
        if (std::find(known.begin(), known.end(), key) == known.end())
            return fail(
                no,
                QStringLiteral("unknown key \"%1\" in [%2]").arg(t.left(eq).trimmed(), section));
        keys[key] = no;
    }
    return true;
}

bool Reader::has(const char* section, const char* key) const {
    auto s = index_.keys.find(QString::fromLatin1(section));
    return s != index_.keys.end() && s->second.count(QString::fromLatin1(key));
}

Entry Reader::get(const char* section, const char* key) const {
    Entry e;
    if (!has(section, key)) return e;
    e.line = index_.keys.at(QString::fromLatin1(section)).at(QString::fromLatin1(key));
    e.value = QString::fromUtf8(ini_.GetValue(section, key, "")).trimmed();
    return e;
}

int Reader::sectionLine(const char* section) const {
    auto s = index_.sections.find(QString::fromLatin1(section));
    return s == index_.sections.end() ? 0 : s->second;
}

bool Reader::flag(const char* section, const char* key, bool& out) {
    if (!has(section, key)) return true;
    const Entry e = get(section, key);
    if (e.value != QLatin1String("0") && e.value != QLatin1String("1"))
        return fail(e.line, QStringLiteral("%1 takes 0 or 1, not \"%2\"").arg(key, e.value));
    out = e.value == QLatin1String("1");
    return true;
}

bool Reader::number(const char* section, const char* key, uint64_t& out, uint64_t max) {
    const Entry e = get(section, key);
    const auto v = SerialPlan::parseNumber(e.value);
    if (!v)
        return fail(
            e.line,
            QStringLiteral("%1 takes a number (decimal or 0x hex), not \"%2\"").arg(key, e.value));
    if (*v > max)
        return fail(e.line, QStringLiteral("%1 must be at most %2").arg(key).arg(qulonglong(max)));
    out = *v;
    return true;
}

QString Reader::resolve(const QString& name) const {
    return QFileInfo(name).isAbsolute() ? name
                                        : QFileInfo(path_).absoluteDir().absoluteFilePath(name);
}

bool Reader::readJobSection() {
    if (!sectionLine("job")) return fail(0, QStringLiteral("no [Job] section"));
    job_.name = has("job", "name") ? get("job", "name").value : QFileInfo(path_).completeBaseName();
    if (job_.name.isEmpty()) return fail(get("job", "name").line, QStringLiteral("Name is empty"));
    if (!has("job", "card")) return fail(sectionLine("job"), QStringLiteral("[Job] has no Card"));
    const Entry card = get("job", "card");
    bool ok = false;
    job_.card = card.value.toInt(&ok);
    if (!ok || !findDevice(job_.card) || !(isPicCode(job_.card) || isAvrAction(job_.card)))
        return fail(card.line, QStringLiteral("Card takes a card type code that can be programmed "
                                              "(see kelvano-cli cards), not \"%1\"")
                                   .arg(card.value));
    if (has("job", "count")) {
        uint64_t n = 0;
        if (!number("job", "count", n, 1000000000)) return false;
        job_.count = int(n);
    }
    if (has("job", "log")) {
        const Entry e = get("job", "log");
        if (e.value.isEmpty()) return fail(e.line, QStringLiteral("Log is empty"));
        job_.log = e.value.contains(QLatin1String("://")) ? e.value : resolve(e.value);
    }
    if (has("job", "onfail")) {
        const Entry e = get("job", "onfail");
        if (e.value.compare(QLatin1String("return"), Qt::CaseInsensitive) == 0)
            job_.voidOnFail = false;
        else if (e.value.compare(QLatin1String("void"), Qt::CaseInsensitive) == 0)
            job_.voidOnFail = true;
        else
            return fail(e.line,
                        QStringLiteral("OnFail takes return or void, not \"%1\"").arg(e.value));
    }
    return true;
}

bool Reader::readMemories() {
    if (!flag("memories", "progmem", job_.prog) || !flag("memories", "datamem", job_.data) ||
        !flag("memories", "config", job_.config) || !flag("memories", "eepmem", job_.eep))
        return false;
    if (job_.eep && eepCouplingApplies(job_.card) && !(job_.prog && job_.data && job_.config))
        return fail(
            get("memories", "eepmem").line ? get("memories", "eepmem").line
                                           : sectionLine("memories"),
            QStringLiteral("this card's EEPROM is written through a loader that replaces the "
                           "program: with EepMem=1, ProgMem, DataMem and Config must be 1"));
    if (!flag("options", "verify", job_.verify) ||
        !flag("options", "alwayserase", job_.alwaysErase))
        return false;
    return true;
}

bool Reader::readImages() {
    const int slotCount = isPicCode(job_.card) ? 2 : 3;
    TDevices devices;
    devices.DeviceId = job_.card;
    devices.ApplyBuffers(nullptr, false);
    FuseModel fuses;
    if (isPicCode(job_.card)) RefreshPicPage(devices, fuses);
    CaptureHost host;
    TFileIo io(host, devices, fuses, nullptr);
    io.setGridsShown(false);
    for (int slot = 1; slot <= 3; ++slot) {
        const QByteArray key = "slot" + QByteArray::number(slot);
        if (!has("images", key.constData())) continue;
        const Entry e = get("images", key.constData());
        if (slot > slotCount)
            return fail(e.line,
                        QStringLiteral("card type %1 has no slot %2").arg(job_.card).arg(slot));
        const QString file = resolve(e.value);
        QFile f(file);
        if (e.value.isEmpty() || !f.open(QIODevice::ReadOnly))
            return fail(e.line, QStringLiteral("image file \"%1\" can't be read").arg(file));
        hash_.addData(f.readAll());
        if (!io.OpenFile(file, slot)) {
            // A production run takes no file the window would ask about (one that may be
            // cut short, for one): what it would have asked is the error.
            const LoadFindings& found = io.LastLoad();
            QString why = found.result == kLoadAborted && !found.warnings.isEmpty()
                              ? found.warnings.join(QLatin1Char(' '))
                              : host.error;
            why.replace(QLatin1Char('\r'), QLatin1Char(' '));
            return fail(
                e.line,
                QStringLiteral("image file \"%1\" is not loaded: %2").arg(file, why.simplified()));
        }
        job_.images[size_t(slot)] = file;
    }
    job_.progBuf = devices.ProgBuf;
    job_.dataBuf = devices.DataBuf;
    job_.eepBuf = devices.EepBuf;
    job_.idBuf = devices.IdBuf;
    job_.cfgWord = devices.CfgWord;
    job_.pic84 = fuses.pic84;
    job_.pic876 = fuses.pic876;
    return true;
}

bool Reader::readFuses() {
    const int card = job_.card;
    // The keys each family's fuse page has, and where they go.
    // Each setter returns an empty text or what is wrong with the value.
    using Set = std::function<QString(const QString&)>;
    std::map<QString, Set> keys;
    auto box = [](bool& target) {
        return [&target](const QString& v) {
            if (v != QLatin1String("0") && v != QLatin1String("1"))
                return QStringLiteral("takes 0 or 1, not \"%1\"").arg(v);
            target = v == QLatin1String("1");
            return QString();
        };
    };
    auto item = [](int& target, const QStringList& items) {
        return [&target, items](const QString& v) {
            for (int i = 0; i < items.size(); ++i)
                if (items[i].trimmed().compare(v, Qt::CaseInsensitive) == 0) {
                    target = i;
                    return QString();
                }
            bool ok = false;
            const int i = v.toInt(&ok);
            if (ok && i >= 0 && i < items.size()) {
                target = i;
                return QString();
            }
            return QStringLiteral("takes one of %1 (or its index), not \"%2\"")
                .arg(items.join(QLatin1String(", ")), v);
        };
    };
    if (isPic84(card)) {
        keys = {{"oscillator", item(job_.pic84.osc, picOscillatorItems())},
                {"wdt", box(job_.pic84.wdt)},
                {"pwrte", box(job_.pic84.pwrte)},
                {"cp", box(job_.pic84.cp)}};
    } else if (isPic876(card)) {
        Pic876Page& p = job_.pic876;
        keys = {{"oscillator", item(p.fosc, picOscillatorItems())},
                {"wdte", box(p.wdte)},
                {"pwrte", box(p.pwrte)},
                {"boden", box(p.boden)},
                {"lvp", box(p.lvp)},
                {"cpd", box(p.cpd)},
                {"wrt", box(p.wrt)},
                {"debug", box(p.debug)},
                {"codeprotection", item(p.cp, pic876CodeProtectItems())}};
    } else if (isAt90s(card)) {
        job_.avr.lockBit1 = job_.avr.lockBit2 = job_.avr.avrFuse = false;
        keys = {{"lockbit1", box(job_.avr.lockBit1)}, {"lockbit2", box(job_.avr.lockBit2)}};
        if (hasAvrFuseBox(card)) keys["avrfuse1"] = box(job_.avr.avrFuse);
    } else if (card == 31) {
        Mega163Page& p = job_.mega163;
        keys = {{"lb1", box(p.lb1)},
                {"lb2", box(p.lb2)},
                {"blb01", box(p.blb01)},
                {"blb02", box(p.blb02)},
                {"blb11", box(p.blb11)},
                {"blb12", box(p.blb12)},
                {"boden", box(p.boden)},
                {"bodlevel", box(p.bodlevel)},
                {"bootrst", box(p.bootrst)},
                {"oscillator", item(p.osc, mega163OscillatorItems())},
                {"bootsize", item(p.bootSize, mega163BootSizeItems())}};
    }
    auto section = index_.keys.find(QStringLiteral("fuses"));
    if (section == index_.keys.end()) return true;
    for (const auto& [key, line] : section->second) {
        auto k = keys.find(key);
        if (k == keys.end())
            return fail(
                line, QStringLiteral("card type %1 has no fuse setting \"%2\"").arg(card).arg(key));
        const QString why = k->second(get("fuses", key.toLatin1().constData()).value);
        if (!why.isEmpty()) return fail(line, key + QLatin1Char(' ') + why);
    }
    return true;
}

bool Reader::readList(SerialPlan& plan, const Entry& e) {
    plan.listFile = resolve(e.value);
    QFile f(plan.listFile);
    if (e.value.isEmpty() || !f.open(QIODevice::ReadOnly))
        return fail(e.line, QStringLiteral("list file \"%1\" can't be read").arg(plan.listFile));
    const QByteArray data = f.readAll();
    hash_.addData(data);
    QList<QByteArray> lines;
    int bad = 0;
    QString why;
    if (!splitLines(data, lines, bad, why))
        return fail(
            e.line,
            QStringLiteral("list file \"%1\", line %2: %3").arg(plan.listFile).arg(bad).arg(why));
    for (int i = 0; i < lines.size(); ++i) {
        const QString t = QString::fromUtf8(lines[i]).trimmed();
        if (t.isEmpty()) continue;
        const auto v = SerialPlan::parseNumber(t, plan.form == SerialPlan::Form::AsciiHex);
        const QString where =
            QStringLiteral("list file \"%1\", line %2: ").arg(plan.listFile).arg(i + 1);
        if (!v) return fail(e.line, where + QStringLiteral("\"%1\" is not a number").arg(t));
        if (!plan.fits(*v))
            return fail(e.line, where + QStringLiteral("%1 does not fit %2 bytes in the form %3")
                                            .arg(t)
                                            .arg(plan.size)
                                            .arg(SerialPlan::formName(plan.form)));
        if (plan.list.contains(*v))
            return fail(e.line, where + QStringLiteral("%1 is listed twice").arg(t));
        plan.list.append(*v);
    }
    if (plan.list.isEmpty())
        return fail(e.line, QStringLiteral("list file \"%1\" holds no value").arg(plan.listFile));
    return true;
}

bool Reader::readSerial() {
    if (!sectionLine("serial")) return true;
    SerialPlan plan;
    const int at = sectionLine("serial");
    for (const char* key : {"memory", "address", "size", "form"})
        if (!has("serial", key))
            return fail(at, QStringLiteral("[Serial] has no %1").arg(QString::fromLatin1(key)));
    if (!readSerialPlace(plan)) return false;
    if (has("serial", "pool")) {
        const Entry e = get("serial", "pool");
        if (e.value.isEmpty()) return fail(e.line, QStringLiteral("Pool is empty"));
        plan.pool = e.value;
    }
    const bool hasList = has("serial", "list");
    if (hasList && (has("serial", "start") || has("serial", "step") || has("serial", "last")))
        return fail(get("serial", "list").line,
                    QStringLiteral("List does not go with Start, Step or Last"));
    if (hasList) {
        if (!readList(plan, get("serial", "list"))) return false;
        job_.serial = plan;
        return true;
    }
    if (!readSerialSequence(plan, at)) return false;
    job_.serial = plan;
    return true;
}

// Where the serial goes: Memory, Form, Size and Address, which must lie in a memory of the
// card type that the job programs.
bool Reader::readSerialPlace(SerialPlan& plan) {
    const Entry mem = get("serial", "memory");
    const auto m = SerialPlan::parseMemory(mem.value);
    if (!m)
        return fail(
            mem.line,
            QStringLiteral("Memory takes flash, data or eeprom, not \"%1\"").arg(mem.value));
    plan.memory = *m;
    const Entry form = get("serial", "form");
    const auto f = SerialPlan::parseForm(form.value);
    if (!f)
        return fail(
            form.line,
            QStringLiteral("Form takes le, be, bcd, dec or hex, not \"%1\"").arg(form.value));
    plan.form = *f;
    uint64_t v = 0;
    if (!number("serial", "size", v, 8)) return false;
    if (v < 1) return fail(get("serial", "size").line, QStringLiteral("Size must be 1 to 8"));
    plan.size = int(v);
    if (!number("serial", "address", v, 0xFFFFFF)) return false;
    plan.address = int(v);
    const int room = plan.memoryBytes(job_.card);
    if (plan.address + plan.size > room)
        return fail(get("serial", "address").line,
                    QStringLiteral("the serial (%1 bytes at 0x%2) lies outside the %3 memory of "
                                   "card type %4 (%5 bytes)")
                        .arg(plan.size)
                        .arg(QString::number(plan.address, 16).toUpper())
                        .arg(SerialPlan::memoryName(plan.memory))
                        .arg(job_.card)
                        .arg(room));
    const bool on = plan.memory == SerialPlan::Memory::Flash  ? job_.prog
                    : plan.memory == SerialPlan::Memory::Data ? job_.data
                                                              : job_.eep;
    if (!on)
        return fail(mem.line,
                    QStringLiteral("the job does not program the %1 memory").arg(mem.value));
    return true;
}

// The values of a serial without a list: Start, and the optional Step and Last.
bool Reader::readSerialSequence(SerialPlan& plan, int at) {
    if (!has("serial", "start")) return fail(at, QStringLiteral("[Serial] has no Start (or List)"));
    if (!number("serial", "start", plan.start, UINT64_MAX)) return false;
    if (!plan.fits(plan.start))
        return fail(get("serial", "start").line,
                    QStringLiteral("Start %1 does not fit %2 bytes in the form %3")
                        .arg(qulonglong(plan.start))
                        .arg(plan.size)
                        .arg(SerialPlan::formName(plan.form)));
    if (has("serial", "step")) {
        if (!number("serial", "step", plan.step, UINT64_MAX)) return false;
        if (plan.step == 0)
            return fail(get("serial", "step").line, QStringLiteral("Step must be at least 1"));
    }
    if (has("serial", "last")) {
        uint64_t last = 0;
        if (!number("serial", "last", last, UINT64_MAX)) return false;
        const int line = get("serial", "last").line;
        if (!plan.fits(last))
            return fail(line, QStringLiteral("Last %1 does not fit %2 bytes in the form %3")
                                  .arg(qulonglong(last))
                                  .arg(plan.size)
                                  .arg(SerialPlan::formName(plan.form)));
        if (last < plan.start) return fail(line, QStringLiteral("Last lies below Start"));
        plan.last = last;
    }
    return true;
}

bool Reader::run(QString& error) {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        error =
            QStringLiteral("%1: the job file can't be read (%2)").arg(path_, file.errorString());
        return false;
    }
    const QByteArray data = file.readAll();
    hash_.addData(data);
    job_ = Job{};
    job_.path = QFileInfo(path_).absoluteFilePath();
    // The INI reader gets the lines as the index saw them, each ended by LF.
    QList<QByteArray> lines;
    int bad = 0;
    QString why;
    if (!splitLines(data, lines, bad, why)) {
        fail(bad, why);
        error = error_;
        return false;
    }
    const QByteArray text = lines.join('\n');
    bool ok = index(lines) && ini_.LoadData(text.constData(), size_t(text.size())) >= 0 &&
              readJobSection() && readMemories() && readImages() && readFuses() && readSerial();
    if (!ok) {
        error = error_.isEmpty() ? QStringLiteral("%1: not an INI file").arg(path_) : error_;
        return false;
    }
    job_.hash = QString::fromLatin1(hash_.result().toHex());
    return true;
}

}  // namespace

QString Job::defaultLogPath() const {
    QFileInfo f(path);
    return f.absoluteDir().absoluteFilePath(f.completeBaseName() + QStringLiteral(".log.db"));
}

void Job::applyTo(TDevices& devices, FuseModel& fuses, EnableBoxes& enable) const {
    enable.prog = prog;
    enable.data = data;
    enable.config = config;
    enable.eep = eep;
    devices.DeviceId = card;
    devices.ApplyBuffers(nullptr, false);
    devices.ProgBuf = progBuf;
    devices.DataBuf = dataBuf;
    devices.EepBuf = eepBuf;
    if (isPicCode(card)) {
        devices.IdBuf = idBuf;
        devices.CfgWord = cfgWord;
    }
    fuses.pic84 = pic84;
    fuses.pic876 = pic876;
    fuses.avr = avr;
    fuses.mega163 = mega163;
    ApplyAvrFuseBox(card, fuses);
}

bool readJob(const QString& path, Job& job, QString& error) {
    Reader reader(path, job);
    return reader.run(error);
}

}  // namespace kelvano
