#include "actions/Compare.h"

namespace kelvano {

namespace {
const Memory kOrder[] = {Memory::Program, Memory::Data, Memory::Configuration,
                         Memory::ExternalEeprom};

QString keyOf(Memory m) {
    switch (m) {
        case Memory::Program:
            return QStringLiteral("flash");
        case Memory::Data:
            return QStringLiteral("data");
        case Memory::Configuration:
            return QStringLiteral("config");
        default:
            return QStringLiteral("eeprom");
    }
}
QString nameOf(Memory m) {
    switch (m) {
        case Memory::Program:
            return QStringLiteral("Program Memory");
        case Memory::Data:
            return QStringLiteral("Data Memory");
        case Memory::Configuration:
            return QStringLiteral("Configuration");
        default:
            return QStringLiteral("EEPROM Memory");
    }
}
int gridOf(Memory m) {
    switch (m) {
        case Memory::Program:
            return 1;
        case Memory::Data:
            return 2;
        case Memory::ExternalEeprom:
            return 3;
        default:
            return 0;
    }
}
QString oneLine(QString text) {
    return text.replace(QLatin1Char('\r'), QLatin1Char(' ')).simplified();
}
}  // namespace

CardCompare::CardCompare(Host& host, Clock& clock, const TDevices& buffers, TCom& com,
                         const Options& options, const EnableBoxes& enable, MainView& mainView)
    : host_(host), buffers_(buffers), options_(options), warnings_(options.warnEnable) {
    enable_.prog = enable.prog;
    enable_.data = enable.data;
    enable_.config = enable.config;
    enable_.eep = enable.eep;
    // The loader question is asked by prepare(), and protection is told in the report: the
    // read itself shows no warning box.
    options_.warnEnable = false;
    scratch_.DeviceId = buffers.DeviceId;
    scratch_.ApplyBuffers(nullptr, false);
    runner_ =
        std::make_unique<TActions>(host, clock, scratch_, com, options_, enable_, fuses_, mainView);
}

CardCompare::~CardCompare() = default;

void CardCompare::prepare() {
    const int id = scratch_.DeviceId;
    eepromDeclined_ = false;
    memories_ = {};
    if (enable_.prog) memories_.add(Memory::Program);
    if (enable_.data) memories_.add(Memory::Data);
    // Only a PIC card's configuration (ID words and configuration word) is held in buffers.
    if (enable_.config && isPicCode(id)) memories_.add(Memory::Configuration);
    if (enable_.eep) memories_.add(Memory::ExternalEeprom);
    enable_.config = enable_.config && isPicCode(id);
    // The loader question comes last of the runner's checks: once the controller is known
    // to be the card type's, before the first exchange that could change it.
    runner_->preflight().consent = [this] {
        askLoader();
        return true;
    };
}

void CardCompare::askLoader() {
    const int id = scratch_.DeviceId;
    if (!enable_.eep || !(isPicLoader(id) || isAvrAction(id)) || !warnings_) return;
    host_.beep();
    eepromDeclined_ = !host_.askOkAbort(
        QStringLiteral("Warning!"),
        QStringLiteral("Comparing the external EEPROM installs the EEPROM loader in place of the "
                       "controller's program.\rContents of controller will be lost\r\r"
                       "OK: compare the EEPROM too.\rAbort: compare the other memories only."));
    if (!eepromDeclined_) return;
    memories_.remove(Memory::ExternalEeprom);
    enable_.eep = false;
}

bool CardCompare::picProtected() const {
    return isPicCode(scratch_.DeviceId) && runner_->result().read.has(Memory::Configuration) &&
           (scratch_.CfgWord & 0x30) != 0x30;
}

bool CardCompare::failed() const {
    const ActionResult& r = runner_->result();
    if (r.stoppedByProtection) return r.errors.size() > 1;
    return !r.ready || !r.errors.isEmpty();
}

CompareReport CardCompare::report() const {
    const ActionResult& result = runner_->result();
    CompareReport r;
    r.against = QStringLiteral("card");
    const bool pic = isPicCode(buffers_.DeviceId);
    const QString protectedNote =
        QStringLiteral("the controller is code-protected, configuration word %1")
            .arg(QStringLiteral("%1")
                     .arg(scratch_.CfgWord & 0x3FFF, 4, 16, QLatin1Char('0'))
                     .toUpper());
    for (Memory m : kOrder) {
        const QString key = keyOf(m), name = nameOf(m);
        const int grid = gridOf(m);
        if (m == Memory::ExternalEeprom && eepromDeclined_) {
            r.memories.push_back(
                skippedMemory(key, name, grid,
                              QStringLiteral("reading it needs the loader in place of the "
                                             "controller's program; not agreed")));
            continue;
        }
        if (!memories_.has(m)) continue;
        // A protected PIC answers every read, with words that are not its contents.
        if ((m == Memory::Program || m == Memory::Data) && picProtected()) {
            r.memories.push_back(skippedMemory(key, name, grid, protectedNote));
            continue;
        }
        if (!result.read.has(m)) {
            QString note = QStringLiteral("not read");
            if (result.skipped.has(m) && !result.notices.isEmpty())
                note = oneLine(result.notices.constFirst());
            else if (!result.errors.isEmpty())
                note = QStringLiteral("not read: ") + oneLine(result.errors.constLast());
            else if (result.aborted)
                note = QStringLiteral("not read: aborted");
            r.memories.push_back(skippedMemory(key, name, grid, note));
            continue;
        }
        switch (m) {
            case Memory::Program:
                r.memories.push_back(diffMemory(key, name, 1, 4, buffers_.ProgBuf, scratch_.ProgBuf,
                                                pic ? 0x3FFF : 0xFFFF));
                break;
            case Memory::Data:
                r.memories.push_back(
                    diffMemory(key, name, 2, 2, buffers_.DataBuf, scratch_.DataBuf, 0xFF));
                break;
            case Memory::ExternalEeprom:
                r.memories.push_back(
                    diffMemory(key, name, 3, 2, buffers_.EepBuf, scratch_.EepBuf, 0xFF));
                break;
            default:
                r.memories.push_back(diffPicConfiguration(buffers_, scratch_));
                break;
        }
    }
    return r;
}

}  // namespace kelvano
