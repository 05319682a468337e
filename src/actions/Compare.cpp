#include "actions/Compare.h"

namespace kelvano {

namespace {
enum { kFlash = 0, kData = 1, kEeprom = 2, kConfig = 3 };
const char* const kKeys[] = {"flash", "data", "eeprom", "config"};
const char* const kNames[] = {"Program Memory", "Data Memory", "EEPROM Memory", "Configuration"};
const int kGrids[] = {1, 2, 3, 0};

QString oneLine(QString text) { return text.replace(QLatin1Char('\r'), QLatin1Char(' ')).simplified(); }
}  // namespace

CardCompare::CardCompare(Host& host, Clock& clock, const TDevices& buffers, TCom& com,
                         const Options& options, const EnableBoxes& enable, MainView& mainView)
    : host_(host), noteHost_(host), buffers_(buffers), options_(options), warnings_(options.warnEnable) {
    enable_.prog = enable.prog;
    enable_.data = enable.data;
    enable_.config = enable.config;
    enable_.eep = enable.eep;
    // The question of the loader is asked by prepare(); protection is reported in the report.
    options_.warnEnable = false;
    scratch_.DeviceId = buffers.DeviceId;
    scratch_.ApplyBuffers(nullptr, false);
    runner_ = std::make_unique<TActions>(noteHost_, clock, scratch_, com, options_, enable_, fuses_, mainView);
    runner_->ActionMode = 1;  // reads: the caption and the card wait of a read
    runner_->Sequence = [this] { run(); };
}

CardCompare::~CardCompare() = default;

void CardCompare::prepare() {
    const int id = scratch_.DeviceId;
    eepromAgreed_ = true;
    const bool loaderCard = isPicLoader(id) || isAvrAction(id);
    // The warning option decides, as it does for a read.
    if (!enable_.eep || !loaderCard || !warnings_) return;
    host_.beep();
    eepromAgreed_ = host_.askOkAbort(
        QStringLiteral("Warning!"),
        QStringLiteral("Comparing the external EEPROM installs the EEPROM loader in place of the "
                       "controller's program.\rContents of controller will be lost\r\r"
                       "OK: compare the EEPROM too.\rAbort: compare the other memories only."));
}

void CardCompare::run() {
    memories_ = {};
    noteHost_.last.clear();
    const int id = scratch_.DeviceId;
    const bool pic = isPicCode(id);
    if (enable_.prog) memories_[kFlash].state = State::Pending;
    if (enable_.data) memories_[kData].state = State::Pending;
    if (enable_.eep) memories_[kEeprom].state = State::Pending;
    if (enable_.config && pic) memories_[kConfig].state = State::Pending;
    noteHost_.last.clear();
    if (pic) readPic();
    else if (isAvrAction(id)) readAvr();
    readEeprom();
}

template <typename F>
void CardCompare::step(Memory& m, F read) {
    if (m.state != State::Pending) return;
    m.state = State::Failed;
    if (runner_->Aborted) {
        m.note = QStringLiteral("not read: the action stopped before it");
        return;
    }
    noteHost_.last.clear();
    read();
    if (!runner_->Aborted) m.state = State::Read;
    else m.note = noteHost_.last.isEmpty() ? QStringLiteral("aborted") : oneLine(noteHost_.last);
}

// The identification or the configuration read failed: nothing else is read.
void CardCompare::failRemaining() {
    const QString error = oneLine(noteHost_.last);
    for (Memory& m : memories_) {
        if (m.state != State::Pending) continue;
        m.state = State::Failed;
        m.note = error.isEmpty() ? QStringLiteral("not read: the action stopped before it")
                                 : QStringLiteral("not read: ") + error;
    }
}

void CardCompare::readPic() {
    TActions& a = *runner_;
    if (!enable_.prog && !enable_.data && !enable_.config) return;
    // The configuration first: it tells whether the memories can be read at all.
    a.PicMemoryOperation(3, 1);
    if (a.Aborted) {
        failRemaining();
        return;
    }
    step(memories_[kConfig], [] {});
    if ((scratch_.CfgWord & 0x30) != 0x30) {
        for (int i : {kFlash, kData}) {
            if (memories_[size_t(i)].state != State::Pending) continue;
            memories_[size_t(i)].state = State::Protected;
            memories_[size_t(i)].note =
                QStringLiteral("the controller is code-protected, configuration word %1")
                    .arg(QStringLiteral("%1").arg(scratch_.CfgWord & 0x3FFF, 4, 16, QLatin1Char('0')).toUpper());
        }
        return;
    }
    step(memories_[kFlash], [&] { a.PicMemoryOperation(1, 1); });
    step(memories_[kData], [&] { a.PicMemoryOperation(2, 1); });
}

void CardCompare::readAvr() {
    TActions& a = *runner_;
    const int id = scratch_.DeviceId;
    if (!enable_.prog && !enable_.data) return;
    const bool open = a.AvrIdentify(id, false);
    if (a.Aborted) {
        failRemaining();
        return;
    }
    if (!open) {
        for (int i : {kFlash, kData}) {
            if (memories_[size_t(i)].state != State::Pending) continue;
            memories_[size_t(i)].state = State::Protected;
            memories_[size_t(i)].note = QStringLiteral("the controller is protected by its lock bits");
        }
        return;
    }
    step(memories_[kFlash], [&] { a.AvrMemoryOperation(1, 1); });
    step(memories_[kData], [&] { a.AvrMemoryOperation(2, 1); });
}

void CardCompare::readEeprom() {
    TActions& a = *runner_;
    Memory& m = memories_[kEeprom];
    if (m.state != State::Pending) return;
    const int id = scratch_.DeviceId;
    if (isPicDirect(id)) {
        step(m, [&] { a.EepromOperation(1); });
        return;
    }
    if (!eepromAgreed_) {
        m.state = State::Declined;
        m.note = QStringLiteral("reading it needs the loader in place of the controller's program; not agreed");
        return;
    }
    step(m, [&] {
        if (isPicLoader(id)) a.InstallPicLoader();
        else a.InstallAvrLoader();
        if (!a.Aborted) a.LoaderReadEeprom();
    });
}

bool CardCompare::failed() const {
    for (const Memory& m : memories_)
        if (m.state == State::Failed || m.state == State::Pending) return true;
    return runner_->Aborted;
}

CompareReport CardCompare::report() const {
    CompareReport r;
    r.against = QStringLiteral("card");
    const bool pic = isPicCode(buffers_.DeviceId);
    const uint16_t flashMask = pic ? 0x3FFF : 0xFFFF;
    for (int i : {kFlash, kData, kConfig, kEeprom}) {
        const Memory& m = memories_[size_t(i)];
        const QString key = QString::fromLatin1(kKeys[i]), name = QString::fromLatin1(kNames[i]);
        if (m.state == State::NotTicked) continue;
        if (m.state != State::Read) {
            r.memories.push_back(skippedMemory(key, name, kGrids[i],
                                               m.state == State::Pending ? QStringLiteral("not read") : m.note));
            continue;
        }
        switch (i) {
            case kFlash: r.memories.push_back(diffMemory(key, name, 1, 4, buffers_.ProgBuf, scratch_.ProgBuf, flashMask)); break;
            case kData: r.memories.push_back(diffMemory(key, name, 2, 2, buffers_.DataBuf, scratch_.DataBuf, 0xFF)); break;
            case kEeprom: r.memories.push_back(diffMemory(key, name, 3, 2, buffers_.EepBuf, scratch_.EepBuf, 0xFF)); break;
            default: r.memories.push_back(diffPicConfiguration(buffers_, scratch_)); break;
        }
    }
    return r;
}

}  // namespace kelvano
