#include "sim/SimBox.h"

#include <QFile>

namespace kelvano {

namespace {

const QByteArray kZero(1, '\0');
const QByteArray kRefused(1, '\xFF');
constexpr int kFirmwareBase = 0x8000;

QByteArray reply(const QByteArray& text) { return char(text.size()) + text; }

QByteArray twoBytes(uint8_t first, uint8_t second) {
    QByteArray bytes(2, '\0');
    bytes[0] = char(first);
    bytes[1] = char(second);
    return bytes;
}

QByteArray hex(unsigned value, int digits) {
    return QByteArray::number(value, 16).toUpper().rightJustified(digits, '0').right(digits);
}

// Upper-case hexadecimal only: the program writes its numbers that way.
bool readHex(const QByteArray& text, int from, int digits, int* value) {
    if (from + digits > text.size()) return false;
    int v = 0;
    for (int i = from; i < from + digits; ++i) {
        const char c = text.at(i);
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * 16 + d;
    }
    *value = v;
    return true;
}

// Length of the command text after "@", known from its letter; the frame has no terminator.
int frameTextLength(char letter) {
    switch (letter) {
        case 'D':
        case 'd':
        case 'G':
        case 'g':
        case 'Q':
            return 5;
        case 'M':
            return 2;
        case 'R':
        case 'E':
            return 3;
        case 'L':
        case 'P':
        case 'W':
        case 'w':
        case 'X':
            return 7;
        case 'Y':
            return 9;
        default:
            return 1;  // '*', 'K', 'I' and anything unknown
    }
}

QString escaped(const QByteArray& bytes) {
    QString s;
    for (char c : bytes) {
        const uchar u = uchar(c);
        if (u >= 32 && u < 127)
            s += QChar(u);
        else
            s += QString("<%1>").arg(u, 2, 16, QChar('0')).toUpper();
    }
    return s;
}

QString hexBytes(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QByteArray garbled(QByteArray bytes, int from) {
    for (int i = from; i < bytes.size(); ++i) bytes[i] = char(bytes.at(i) ^ 0x5A);
    return bytes;
}

quint32 le32(const QByteArray& d, int at) {
    return quint32(uchar(d.at(at))) | quint32(uchar(d.at(at + 1))) << 8 |
           quint32(uchar(d.at(at + 2))) << 16 | quint32(uchar(d.at(at + 3))) << 24;
}

}  // namespace

QString SimBox::TraceEntry::toString() const {
    QString line;
    switch (channel) {
        case Channel::Prompt:
            line = "prompt " + escaped(received);
            break;
        case Channel::Command:
            line = "cmd    " + escaped(received);
            break;
        case Channel::Usb:
            line = "usb    " + hexBytes(received);
            break;
    }
    const QString answer = channel == Channel::Prompt ? escaped(answered) : hexBytes(answered);
    line += "  ->  " + (answered.isEmpty() ? QString("(none)") : answer);
    if (!note.isEmpty()) line += "  [" + note + "]";
    return line;
}

SimBox::SimBox(Model model, int cardType)
    : model_(model), firmware_(0x8000, '\xFF'), card_(cardType), loaders_(builtInLoaders()) {
    setModel(model);
    setFirmwareVersion(0x0100, 0x01);
}

void SimBox::setModel(Model model) {
    model_ = model;
    if (model == Model::QxBase)
        setIdentity("STRAVINEX QXBASE", "KELVANO BOX SIMULATOR", "SIM-000001");
    else
        setIdentity("STRAVINEX QX200", "KELVANO BOX SIMULATOR", "SIM-000002");
    powerUp();
}

void SimBox::setIdentity(const QString& model, const QString& second, const QString& serial) {
    idLines_ = QStringList{model, second, serial};
}

QByteArray SimBox::usbSerialNumber() const {
    QByteArray sn = QByteArray("QXUSB SIM-000003").leftJustified(32, '\0');
    return sn;
}

void SimBox::setFirmwareVersion(uint16_t version, uint8_t revision) {
    firmware_[19] = char(version >> 8);
    firmware_[20] = char(version & 0xFF);
    firmware_[21] = char(revision);
}

uint16_t SimBox::firmwareVersion() const {
    return uint16_t(uchar(firmware_.at(19)) << 8 | uchar(firmware_.at(20)));
}

uint8_t SimBox::firmwareRevision() const { return uchar(firmware_.at(21)); }

void SimBox::powerUp() {
    commandMode_ = false;
    lineBuf_.clear();
    frameBuf_.clear();
    strayBuf_.clear();
    mode_ = 0;
    picCounter_ = 0;
    card_.avrReset();
}

void SimBox::insertCard(int cardType) {
    if (!(SimCard::isKnownType(cardType) && cardType == card_.type())) card_ = SimCard(cardType);
    card_.avrReset();
    cardIn_ = true;
}

void SimBox::removeCard() {
    cardIn_ = false;
    card_.avrReset();
}

// ---- loaders ------------------------------------------------------------------------------

bool SimBox::loaderInstalled() const {
    if (!cardIn_) return false;
    const QByteArray image = loaders_.value(card_.loaderName());
    if (card_.loaderName().isEmpty() || image.isEmpty()) return false;
    const int words = (image.size() + 1) / 2;
    if (words > int(card_.flash.size())) return false;
    for (int w = 0; w < words; ++w) {
        const qsizetype at = 2 * qsizetype(w);
        const uint16_t low = uchar(image.at(at));
        uint16_t held = card_.flash[w];
        uint16_t expected = low;
        if (at + 1 < image.size())
            expected |= uint16_t(uchar(image.at(at + 1)) << 8);
        else
            held &= 0x00FF;  // an odd last byte has no partner: only its low byte counts
        if (card_.isPic()) expected &= 0x3FFF;
        if (held != expected) return false;
    }
    return true;
}

QMap<QString, QByteArray> SimBox::loadersFromStore(const QByteArray& store) {
    QMap<QString, QByteArray> images;
    if (store.size() < 2) return images;
    const int count = uchar(store.at(0));
    for (int i = 0; i < count; ++i) {
        const int entry = 2 + 20 * i;
        if (entry + 20 > store.size()) break;
        QByteArray name = store.mid(entry, 8);
        if (int nul = name.indexOf('\0'); nul >= 0) name.truncate(nul);
        const quint32 offset = le32(store, entry + 12);
        const quint32 size = le32(store, entry + 16);
        if (offset > quint32(store.size()) || size > quint32(store.size()) - offset) continue;
        const QString key = QString::fromLatin1(name);
        if (images.contains(key)) continue;  // the first entry of a name is the one found
        QByteArray plain(int(size), '\0');
        quint32 s = offset & 0xFFFF;
        const quint32 m = size & 0xFFFF;
        for (quint32 k = 0; k < size; ++k) {
            const quint32 c = uchar(store.at(int(offset + k)));
            plain[int(k)] = char(c ^ (s >> 8));
            s = ((s + c) * m) & 0xFFFF;
        }
        images.insert(key, plain);
    }
    return images;
}

QMap<QString, QByteArray> SimBox::builtInLoaders() {
    QFile file(":/kelvano/images.store");
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) return {};
    return loadersFromStore(file.readAll());
}

// ---- faults and trace ------------------------------------------------------------------------

void SimBox::addFault(const SimFault& fault) { faults_.append(ArmedFault{fault, 0, 0}); }

QList<SimFault> SimBox::faultsFor(const QString& key) {
    QList<SimFault> hits;
    for (ArmedFault& armed : faults_) {
        if (!armed.fault.matches(key)) continue;
        ++armed.seen;
        if (armed.seen >= armed.fault.at &&
            (armed.fault.times == 0 || armed.hits < armed.fault.times)) {
            ++armed.hits;
            hits.append(armed.fault);
        }
    }
    return hits;
}

bool SimBox::refuses(const QList<SimFault>& hits) {
    return std::any_of(hits.begin(), hits.end(),
                       [](const SimFault& f) { return f.kind == SimFault::Kind::Refuse; });
}

// The last hex digit of a reply text, or r1 of a USB reply, with its lowest bit flipped.
QByteArray SimBox::wrongValue(TraceEntry::Channel channel, QByteArray answer) {
    if (channel == TraceEntry::Channel::Usb) {
        if (!answer.isEmpty()) answer[answer.size() > 1 ? 1 : 0] ^= 1;
        return answer;
    }
    int digit = 0;
    if (channel == TraceEntry::Channel::Command && answer.size() > 1 &&
        readHex(answer, int(answer.size()) - 1, 1, &digit))
        answer[answer.size() - 1] = hex(unsigned(digit ^ 1), 1).at(0);
    return answer;
}

void SimBox::finishExchange(TraceEntry::Channel channel, const QList<SimFault>& hits,
                            const QByteArray& received, QByteArray answer, QList<Output>* out,
                            std::optional<QByteArray>* usbOut) {
    QStringList notes;
    bool dropped = false;
    bool pull = false;
    int delayMs = 0;
    const bool keepAlive = received == "@*";
    for (const SimFault& fault : hits) {
        notes << fault.describe();
        switch (fault.kind) {
            case SimFault::Kind::NoAnswer:
            case SimFault::Kind::MissKeepAlive:
                dropped = true;
                break;
            case SimFault::Kind::LostLink:
                dropped = true;
                linkLost_ = true;
                break;
            case SimFault::Kind::ShortReply:
                if (channel != TraceEntry::Channel::Command)
                    answer = answer.left(answer.size() / 2);
                else if (answer.size() > 1)
                    answer.chop(1);
                else
                    answer = keepAlive ? QByteArray() : QByteArray(1, '\x01');
                break;
            case SimFault::Kind::WrongValue:
                answer = wrongValue(channel, answer);
                break;
            case SimFault::Kind::Refuse:
                answer = kRefused;
                break;
            case SimFault::Kind::Reply:
                answer = channel == TraceEntry::Channel::Usb
                             ? QByteArray::fromHex(fault.text.toLatin1())
                         : channel == TraceEntry::Channel::Command ? reply(fault.text.toLatin1())
                                                                   : fault.text.toLatin1();
                break;
            case SimFault::Kind::Garbled:
                answer = garbled(
                    answer, channel == TraceEntry::Channel::Command && answer.size() > 1 ? 1 : 0);
                break;
            case SimFault::Kind::LateFirstByte:
                delayMs += fault.delayMs;
                break;
            case SimFault::Kind::PullCard:
                pull = true;
                break;
        }
    }
    if (dropped) answer.clear();
    record(TraceEntry{channel, received, answer, notes.join(' ')});
    if (out && !answer.isEmpty()) out->append(Output{answer, delayMs});
    if (usbOut) *usbOut = dropped ? std::nullopt : std::optional<QByteArray>(answer);
    if (pull) removeCard();
}

void SimBox::record(const TraceEntry& entry) {
    if (traceKept_) {
        while (trace_.size() >= traceLimit_) trace_.removeFirst();
        trace_.append(entry);
    }
    if (!traceFile_.isEmpty()) {
        traceDue_ += entry.toString().toUtf8() + '\n';
        if (!traceDeferred_) answered();
    }
}

SimBox::~SimBox() { answered(); }

void SimBox::answered() {
    if (traceDue_.isEmpty() || traceFile_.isEmpty()) return;
    QFile file(traceFile_);
    if (file.open(QIODevice::Append | QIODevice::Text)) file.write(traceDue_);
    traceDue_.clear();
}

QStringList SimBox::traceLines() const {
    QStringList lines;
    for (const TraceEntry& entry : trace_) lines << entry.toString();
    return lines;
}

bool SimBox::writeTrace(const QString& path) const {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return false;
    for (const QString& line : traceLines()) file.write(line.toUtf8() + '\n');
    return true;
}

// ---- serial line ----------------------------------------------------------------------------

QList<SimBox::Output> SimBox::receiveSerial(const QByteArray& bytes) {
    QList<Output> out;
    if (model_ == Model::Usb) return out;
    for (char c : bytes) {
        if (linkLost_) break;
        receiveByte(c, out);
    }
    return out;
}

void SimBox::receiveByte(char c, QList<Output>& out) {
    if (!commandMode_) {
        if (c == '\r') {
            const QByteArray line = lineBuf_;
            lineBuf_.clear();
            promptLine(line, out);
        } else if (c != '\n' && lineBuf_.size() < 512) {
            lineBuf_ += c;
        }
        return;
    }
    if (!frameBuf_.isEmpty()) {
        frameBuf_ += c;
        if (frameBuf_.size() == 2) frameLength_ = frameTextLength(c);
        if (frameBuf_.size() - 1 == frameLength_) {
            const QByteArray frame = frameBuf_;
            frameBuf_.clear();
            const QByteArray text = frame.mid(1);
            const QList<SimFault> hits = faultsFor(QString::fromLatin1(text));
            finishExchange(TraceEntry::Channel::Command, hits, frame,
                           refuses(hits) ? kRefused : commandAnswer(text), &out, nullptr);
        }
        return;
    }
    if (c == '@') {
        frameBuf_ = "@";
        strayBuf_.clear();
    } else if (c == '\r') {
        // A "QXAT" line outside a frame: the program is connecting anew; back to prompt mode.
        if (strayBuf_.contains("QXAT")) {
            const QByteArray line = strayBuf_;
            powerUp();
            promptLine(line, out);
        }
        strayBuf_.clear();
    } else if (strayBuf_.size() < 512) {
        strayBuf_ += c;
    }
}

void SimBox::promptLine(const QByteArray& line, QList<Output>& out) {
    if (line.isEmpty()) return;
    const int at = line.lastIndexOf("QXAT");
    const QList<SimFault> hits = faultsFor(QStringLiteral("prompt"));
    const QByteArray answer = at < 0 ? QByteArray("ERROR\r>") : promptAnswer(line.mid(at + 4));
    finishExchange(TraceEntry::Channel::Prompt, hits, line + '\r', answer, &out, nullptr);
}

QByteArray SimBox::promptAnswer(const QByteArray& command) {
    const bool qxbase = model_ == Model::QxBase;
    if (command.isEmpty()) return ">";
    if (command == "!V#") return idLines_.join('\r').toLatin1() + "\r>";
    if (command == "Q" && qxbase) {
        const QString head =
            QString("STRAVINEX QXBASE firmware version/rev:").leftJustified(38, ' ');
        return head.toLatin1() + hex(firmwareVersion(), 4) + hex(firmwareRevision(), 2) + "\r>";
    }
    if (command.startsWith('U') && qxbase)
        return storeFirmwareLine(command.mid(1)) ? ">" : "ERROR\r>";
    if (command == "%") {
        commandMode_ = true;
        mode_ = 0;
        frameBuf_.clear();
        strayBuf_.clear();
        return {};
    }
    return "ERROR\r>";
}

bool SimBox::storeFirmwareLine(const QByteArray& text) {
    int address = 0;
    if (!readHex(text, 0, 4, &address) || address < kFirmwareBase || text.size() % 2 != 0)
        return false;
    const int count = (text.size() - 4) / 2;
    if (address + count > 0x10000) return false;
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        int b = 0;
        if (!readHex(text, 4 + 2 * i, 2, &b)) return false;
        bytes += char(b);
    }
    firmware_.replace(address - kFirmwareBase, count, bytes);
    ++uploadLines_;
    return true;
}

// ---- command mode -------------------------------------------------------------------------

QByteArray SimBox::commandAnswer(const QByteArray& text) {
    switch (text.at(0)) {
        case '*':
            return "!";
        case 'K':
            return reply(QByteArray::number(pollState()));
        case 'D':
        case 'd':
            return kZero;
        case 'M':
            return modeAnswer(text.at(1));
        case 'Y':
            return avrAnswer(text);
        case 'L':
        case 'R':
        case 'I':
        case 'P':
            return picAnswer(text);
        case 'E':
            if (text != "ErA" || mode_ != 1 || !cardIn_ || !card_.isPic()) return kRefused;
            card_.erase();
            return kZero;
        case 'G':
        case 'g':
        case 'W':
        case 'w':
            return eepromAnswer(text);
        case 'X':
        case 'Q':
            return loaderAnswer(text);
        default:
            return kRefused;
    }
}

int SimBox::pollState() {
    if (feeder_ == Feeder::PullNext) {
        if (--feederPolls_ > 0) return cardState();
        removeCard();
        feeder_ = Feeder::InsertNext;
        feederPolls_ = 2;
    } else if (feeder_ == Feeder::InsertNext) {
        // The slot stays empty for two polls: a program that lost one poll's answer still
        // sees the card go.
        if (--feederPolls_ > 0) return cardState();
        card_ = SimCard(card_.type());
        cardIn_ = true;
        ++cardsFed_;
        feeder_ = Feeder::Idle;
    }
    return cardState();
}

QByteArray SimBox::modeAnswer(char digit) {
    if (digit < '0' || digit > '5') return kRefused;
    mode_ = digit - '0';
    // A card worked on again before it was pulled (a verify after programming) stays in.
    if (feeder_ != Feeder::Off && feeder_ != Feeder::InsertNext && cardIn_) {
        if (mode_ != 0) {
            feeder_ = Feeder::Worked;
        } else if (feeder_ == Feeder::Worked) {
            feeder_ = Feeder::PullNext;
            feederPolls_ = 2;
        }
    }
    if (mode_ == 0 || mode_ == 5) card_.avrReset();
    if (mode_ == 2) picCounter_ = 0;
    if (mode_ == 4) return loaderInstalled() ? reply("load") : kRefused;
    return kZero;
}

QByteArray SimBox::picAnswer(const QByteArray& text) {
    if (mode_ != 2 || !cardIn_ || !card_.isPic()) return kRefused;
    int value = 0;
    switch (text.at(0)) {
        case 'L':
            if (!text.startsWith("L0") || !readHex(text, 3, 4, &value)) return kRefused;
            if (text.at(2) == '0')
                return reply(hex(card_.picProgramWord(picCounter_, uint16_t(value)), 4));
            if (text.at(2) == '1')
                return reply(hex(card_.picProgramData(picCounter_, uint8_t(value)), 4));
            return kRefused;
        case 'R':
            if (text == "R04") return reply(hex(card_.picReadWord(picCounter_), 4));
            if (text == "R05") return reply(hex(card_.picReadData(picCounter_), 4));
            return kRefused;
        case 'I':
            // The counter runs round within program memory, or within the configuration area.
            picCounter_ = (picCounter_ & 0x2000) | ((picCounter_ + 1) & 0x1FFF);
            return kZero;
        default:  // 'P': "Load Configuration" moves the counter to the ID locations
            if (text != "P003FFF") return kRefused;
            picCounter_ = 0x2000;
            return kZero;
    }
}

QByteArray SimBox::avrAnswer(const QByteArray& text) {
    if (mode_ != 5 || !cardIn_) return kRefused;
    std::array<uint8_t, 4> in{};
    for (int i = 0; i < 4; ++i) {
        int b = 0;
        if (!readHex(text, 1 + 2 * i, 2, &b)) return kRefused;
        in[i] = uint8_t(b);
    }
    const std::array<uint8_t, 2> out = card_.avrInstruction(in);
    return reply(hex(out[0], 2) + hex(out[1], 2));
}

QByteArray SimBox::eepromAnswer(const QByteArray& text) {
    if (mode_ != 3 || !cardIn_ || !card_.eepromDirect()) return kRefused;
    // Two-byte word addresses ("g", "w") for EEPROMs above 2 KB, one byte plus block bits
    // ("G", "W") for the 24C16: the other form does not reach the part.
    const char letter = text.at(0);
    const bool large = card_.eeprom.size() > 2048;
    if (large != (letter == 'g' || letter == 'w')) return kRefused;
    int address = 0, value = 0;
    if (!readHex(text, 1, 4, &address)) return kRefused;
    uint8_t& cell = card_.eeprom[address & (int(card_.eeprom.size()) - 1)];
    if (letter == 'G' || letter == 'g') return reply(hex(cell, 2));
    if (!readHex(text, 5, 2, &value)) return kRefused;
    cell = uint8_t(value);
    return kZero;
}

QByteArray SimBox::loaderAnswer(const QByteArray& text) {
    if (mode_ != 4 || !loaderInstalled()) return kRefused;
    int address = 0, value = 0;
    if (!readHex(text, 1, 4, &address)) return kRefused;
    uint8_t& cell = card_.eeprom[address & (int(card_.eeprom.size()) - 1)];
    if (text.at(0) == 'X') {
        if (!readHex(text, 5, 2, &value)) return kRefused;
        cell = uint8_t(value);
    }
    return reply(hex(cell, 2));
}

// ---- USB ------------------------------------------------------------------------------------

std::optional<QByteArray> SimBox::receiveUsb(const QByteArray& packet) {
    if (model_ != Model::Usb || linkLost_) return std::nullopt;
    const QList<SimFault> hits = faultsFor(QString::fromLatin1(packet.toHex().toUpper()));
    std::optional<QByteArray> out;
    finishExchange(TraceEntry::Channel::Usb, hits, packet,
                   refuses(hits) ? kRefused : usbAnswer(packet), nullptr, &out);
    return out;
}

QByteArray SimBox::usbAnswer(const QByteArray& packet) {
    if (packet.isEmpty()) return kRefused;
    const auto at = [&](int i) { return i < packet.size() ? uchar(packet.at(i)) : -1; };
    switch (at(0)) {
        case 0x01:
            if (at(1) == 0x00)
                mode_ = 0;
            else if (at(1) == 0x02)
                mode_ = 5;
            else
                return kRefused;
            card_.avrReset();
            return kZero;
        case 0x02:
            return packet == QByteArray::fromHex("0202E020") ? usbSerialNumber() : kRefused;
        case 0x04: {
            if (packet.size() < 5 || mode_ != 5 || !cardIn_) return kRefused;
            const std::array<uint8_t, 2> out =
                card_.avrInstruction({uchar(at(1)), uchar(at(2)), uchar(at(3)), uchar(at(4))});
            return twoBytes(out[0], out[1]);
        }
        case 0x05:
            return QByteArray(1, char(cardState()));
        case 0x06:
            if (packet.size() < 2) return kRefused;
            return twoBytes(0x06, uchar(packet.at(1)));
        default:
            return kRefused;
    }
}

}  // namespace kelvano
