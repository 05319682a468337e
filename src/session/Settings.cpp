#include "session/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTemporaryFile>
#include <algorithm>

#include "base/Options.h"
#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"

namespace kelvano {

namespace {
// Files written by us are UTF-8; files written by the Windows profile functions are in the
// system's code page, of which Latin-1 is the closest guess.
QString decode(const QByteArray& data) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(data);
    if (utf8.hasError()) text = QString::fromLatin1(data);
    return text;
}

bool sameName(const QByteArray& raw, const QString& name) {
    return decode(raw.trimmed()).compare(name, Qt::CaseInsensitive) == 0;
}

// "[Name]": the name between the brackets.
bool sectionLine(const QByteArray& line, QByteArray& name) {
    const QByteArray t = line.trimmed();
    if (!t.startsWith('[')) return false;
    const qsizetype close = t.indexOf(']');
    if (close < 0) return false;
    name = t.mid(1, close - 1);
    return true;
}

// "Key=Value": the position of the '=' after a non-empty key, or -1.
qsizetype keyLine(const QByteArray& line) {
    const qsizetype eq = line.indexOf('=');
    return eq > 0 && !line.left(eq).trimmed().isEmpty() ? eq : -1;
}
}  // namespace

// The file as its lines. Reads find the first section of a name and the first key of a name
// in it, as the Windows profile functions do; a write changes the value of that one line, or
// adds the key after the last key of the section (the section at the end of the file). Every
// other line, whatever it holds, keeps its text and its place.
class SettingsStore::Document {
public:
    std::vector<QByteArray> lines;
    // The file is in the Windows code page rather than UTF-8: new values are written in it
    // too, so that the program that wrote the file still reads them.
    bool codePage = false;
    // The file is there but could not be read: saving would replace what it holds.
    bool unreadable = false;
    bool utf8Mark = false;  // the file starts with a UTF-8 byte-order mark, which stays

    void parse(QByteArray data) {
        // A profile file that Windows keeps in UTF-16 starts with its byte order mark.
        if (data.size() >= 2 && uchar(data[0]) == 0xFF && uchar(data[1]) == 0xFE) {
            const QByteArray utf16 = data.mid(2);
            data = QString::fromUtf16(reinterpret_cast<const char16_t*>(utf16.constData()),
                                      utf16.size() / 2)
                       .toUtf8();
        }
        if (data.startsWith("\xEF\xBB\xBF")) {
            utf8Mark = true;
            data.remove(0, 3);
        }
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString probe = utf8(data);  // decoding it is what sets hasError()
        codePage = utf8.hasError();
        qsizetype from = 0;
        for (qsizetype i = 0; i < data.size(); ++i) {
            if (data[i] != '\r' && data[i] != '\n') continue;
            lines.push_back(data.mid(from, i - from));
            if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
            from = i + 1;
        }
        if (from < data.size()) lines.push_back(data.mid(from));
    }

    QByteArray text() const {
        QByteArray out;
        if (utf8Mark) out = "\xEF\xBB\xBF";
        for (const QByteArray& l : lines) out += l + "\r\n";
        return out;
    }

    const QByteArray* get(const QString& section, const QString& key) const {
        size_t first = 0, end = 0;
        if (!find(section, first, end)) return nullptr;
        const long at = findKey(first, end, key);
        if (at < 0) return nullptr;
        const QByteArray& line = lines[static_cast<size_t>(at)];
        value_ = line.mid(keyLine(line) + 1);
        // A value ends at a NUL byte, as it does for the system's profile functions.
        if (const qsizetype nul = value_.indexOf('\0'); nul >= 0) value_.truncate(nul);
        value_ = value_.trimmed();
        return &value_;
    }

    void set(const QString& section, const QString& key, const QString& value) {
        const bool latin = codePage && std::all_of(value.begin(), value.end(),
                                                   [](QChar c) { return c.unicode() < 0x100; });
        const QByteArray v = latin ? value.toLatin1() : value.toUtf8();
        size_t first = 0, end = 0;
        if (!find(section, first, end)) {
            if (!lines.empty() && !lines.back().trimmed().isEmpty()) lines.emplace_back();
            lines.push_back('[' + section.toUtf8() + ']');
            lines.push_back(key.toUtf8() + '=' + v);
            return;
        }
        const long at = findKey(first, end, key);
        if (at >= 0) {
            // The key keeps the spelling the file has.
            QByteArray& line = lines[static_cast<size_t>(at)];
            line = line.left(keyLine(line)).trimmed() + '=' + v;
            return;
        }
        size_t after = first;  // the header, or the last key of the section
        for (size_t i = first + 1; i < end; ++i)
            if (keyLine(lines[i]) > 0) after = i;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after + 1),
                     key.toUtf8() + '=' + v);
    }

private:
    // The first section named `section`: its header line and the line after its last.
    bool find(const QString& section, size_t& header, size_t& end) const {
        QByteArray name;
        size_t i = 0;
        for (; i < lines.size(); ++i)
            if (sectionLine(lines[i], name) && sameName(name, section)) break;
        if (i == lines.size()) return false;
        header = i;
        for (end = i + 1; end < lines.size(); ++end)
            if (sectionLine(lines[end], name)) break;
        return true;
    }

    long findKey(size_t first, size_t end, const QString& key) const {
        for (size_t i = first + 1; i < end; ++i) {
            const qsizetype eq = keyLine(lines[i]);
            if (eq > 0 && sameName(lines[i].left(eq), key)) return static_cast<long>(i);
        }
        return -1;
    }

    mutable QByteArray value_;
};

namespace {

constexpr int kMaxText = 2047;

bool isQuoted(const QString& v) {
    return v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front();
}

// A value must stay on its line: a line break in it would end the value and start a new
// key. Values that the reader would trim or unquote are put in quotes, which the reader
// (ours and the system's) removes again.
QString encodeValue(QString v) {
    for (QChar& c : v)
        if (c == u'\r' || c == u'\n' || c == QChar(0)) c = u' ';
    const bool edgeBlank = !v.isEmpty() && (v.front().isSpace() || v.back().isSpace());
    if (edgeBlank || isQuoted(v)) v = u'"' + v + u'"';
    return v;
}

// Decimal with an optional sign, or "0x" hexadecimal of up to eight digits (taken as a
// 32-bit pattern, so 0xFFFFFFFF reads as -1).
bool parseInt(const QString& text, int& out) {
    QString s = text.trimmed();
    bool negative = false;
    if (s.startsWith(u'-') || s.startsWith(u'+')) {
        negative = s.front() == u'-';
        s.remove(0, 1);
    }
    if (s.isEmpty()) return false;
    bool ok = false;
    if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const QString digits = s.mid(2);
        if (digits.isEmpty() || digits.size() > 8) return false;
        for (QChar c : digits) {
            const char16_t u = c.unicode();
            if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
                return false;
        }
        const uint32_t v = digits.toUInt(&ok, 16);
        if (!ok) return false;
        out = static_cast<int>(negative ? 0u - v : v);
        return true;
    }
    for (QChar c : s)
        if (c < u'0' || c > u'9') return false;
    const qlonglong v = s.toLongLong(&ok, 10);
    if (!ok) return false;
    const qlonglong signedValue = negative ? -v : v;
    if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
    out = static_cast<int>(signedValue);
    return true;
}

}  // namespace

SettingsStore::SettingsStore(const QString& fileName) : fileName_(fileName) {}
SettingsStore::~SettingsStore() = default;

void SettingsStore::setFileName(const QString& fileName) {
    fileName_ = fileName;
    pending_.reset();
}

std::unique_ptr<SettingsStore::Document> SettingsStore::load() const {
    auto doc = std::make_unique<Document>();
    QFile f(fileName_);
    if (fileName_.isEmpty()) return doc;
    if (!f.open(QIODevice::ReadOnly)) {
        doc->unreadable = f.exists();
        return doc;
    }
    doc->parse(f.readAll());
    return doc;
}

bool SettingsStore::save(const Document& doc) {
    const QString shown = QDir::toNativeSeparators(fileName_);
    auto fail = [&](const QString& reason) {
        error_ = QStringLiteral("The settings could not be saved to \"%1\": %2").arg(shown, reason);
        return false;
    };
    if (fileName_.isEmpty()) return fail(QStringLiteral("no file name"));
    // A file the user made read-only stays as it is, even for a user the system would let
    // replace it.
    const QFileInfo info(fileName_);
    constexpr auto writeBits =
        QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;  // the mode bits, not access()
    if (info.exists() && info.isFile() && !(info.permissions() & writeBits))
        return fail(QStringLiteral("the file is read-only"));
    if (doc.unreadable) return fail(QStringLiteral("the file could not be read"));

    const QByteArray out = doc.text();

    QSaveFile f(fileName_);
    f.setDirectWriteFallback(false);
    if (!f.open(QIODevice::WriteOnly)) return fail(f.errorString());
    if (f.write(out) != out.size()) {
        const QString reason = f.errorString();
        f.cancelWriting();
        return fail(reason);
    }
    if (!f.commit()) return fail(f.errorString());
    error_.clear();
    return true;
}

QString SettingsStore::readString(const QString& key, const QString& defaultValue) const {
    std::unique_ptr<Document> loaded;
    const Document* doc = pending_.get();
    if (!doc) {
        loaded = load();
        doc = loaded.get();
    }
    const QByteArray* raw = doc->get(section_, key);
    if (!raw) return defaultValue;
    QString v = decode(*raw);
    if (isQuoted(v)) v = v.mid(1, v.size() - 2);
    if (v.size() > kMaxText) v.truncate(kMaxText);
    return v;
}

int SettingsStore::readInt(const QString& key, int defaultValue) const {
    int v = defaultValue;
    return parseInt(readString(key, QString()), v) ? v : defaultValue;
}

bool SettingsStore::readBool(const QString& key, bool defaultValue) const {
    return readInt(key, defaultValue ? 1 : 0) != 0;
}

bool SettingsStore::writeString(const QString& key, const QString& value) {
    if (pending_) {
        if (!error_.isEmpty()) return false;
        pending_->set(section_, key, encodeValue(value));
        return true;
    }
    auto doc = load();
    doc->set(section_, key, encodeValue(value));
    return save(*doc);
}

bool SettingsStore::writeInt(const QString& key, int value) {
    return writeString(key, QString::number(value));
}

bool SettingsStore::writeBool(const QString& key, bool value) {
    return writeString(key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsStore::beginUpdate() {
    pending_ = load();
    error_.clear();
}

void SettingsStore::discard() { pending_.reset(); }

bool SettingsStore::commit() {
    if (!pending_) return error_.isEmpty();
    std::unique_ptr<Document> doc = std::move(pending_);
    if (!error_.isEmpty()) return false;
    return save(*doc);
}

// ---------------------------------------------------------------------------------------

QString deviceSection(int deviceId) { return QString::asprintf("DEV_%2.2d", deviceId); }

namespace {

// A section moves in one piece: read from one copy of the file, or written in one save that
// writes the whole section or nothing.
bool finish(SettingsStore& store, bool write) {
    if (write) return store.commit();
    store.discard();
    return true;
}

void flag(SettingsStore& s, bool write, const char* key, bool& value, bool defaultValue) {
    if (write)
        s.writeBool(QLatin1String(key), value);
    else
        value = s.readBool(QLatin1String(key), defaultValue);
}

void integer(SettingsStore& s, bool write, const QString& key, int& value, int defaultValue) {
    if (write)
        s.writeInt(key, value);
    else
        value = s.readInt(key, defaultValue);
}

void text(SettingsStore& s, bool write, const QString& key, QString& value) {
    if (write)
        s.writeString(key, value);
    else
        value = s.readString(key, QString());
}

// The card type of a settings file without one: the first card type of the Brelmont family.
constexpr int kDefaultCard = 10;

// The ATmega keys are shared by the ATmega161 (code 30) and ATmega163 (code 31) pages.
struct MegaKeys {
    bool &lb1, &lb2, &blb01, &blb02, &blb11, &blb12;
    int& osc;
    bool &boden, &bodlevel, &bootrst;
};

void megaKeys(SettingsStore& s, bool write, const MegaKeys& k) {
    flag(s, write, "LB1", k.lb1, false);
    flag(s, write, "LB2", k.lb2, false);
    flag(s, write, "BLB01", k.blb01, false);
    flag(s, write, "BLB02", k.blb02, false);
    flag(s, write, "BLB11", k.blb11, false);
    flag(s, write, "BLB12", k.blb12, false);
    integer(s, write, QStringLiteral("Oscillator"), k.osc, 0);
    flag(s, write, "BODEN", k.boden, false);
    flag(s, write, "BODLEVEL", k.bodlevel, false);
    flag(s, write, "BOOTRST", k.bootrst, false);
}

// A list index from the file that names no entry reads as the default: an unselected list
// would otherwise reach the card as a fuse value with all bits of the field set.
void clampIndex(int& index, int count) {
    if (index < 0 || index >= count) index = 0;
}

}  // namespace

bool IniConfig(SettingsStore& s, SettingsContext& ctx, bool write) {
    Options& o = ctx.options;
    s.setSection(QStringLiteral("Config"));
    s.beginUpdate();
    if (write) {
        s.writeString(QStringLiteral("Version"), ctx.fileVersion);
        const QString port = o.portName();
        if (ctx.runPort.isEmpty() || port.compare(ctx.runPort, Qt::CaseInsensitive) != 0)
            s.writeString(QStringLiteral("Port"), port);
    } else {
        o.selectPort(s.readString(QStringLiteral("Port"), QStringLiteral("COM1")));
    }
    flag(s, write, "AutoConn", o.conAtStart, false);
    flag(s, write, "AutoLoad", o.loadAtCon, false);
    flag(s, write, "SoundFinish", o.soundReady, true);
    flag(s, write, "ProgVerify", o.verify, false);
    flag(s, write, "AlwaysErase", o.alwaysErase, false);
    flag(s, write, "SmartAutostart", o.smartAuto, true);
    flag(s, write, "EnableWarnings", o.warnEnable, true);
    integer(s, write, QStringLiteral("Device"), ctx.devices.DeviceId, kDefaultCard);
    for (int slot = 1; slot <= 3; ++slot) {
        const auto i = static_cast<size_t>(slot);
        text(s, write, QStringLiteral("Open%1File").arg(slot), ctx.slotFiles.SlotFile[i]);
        integer(s, write, QStringLiteral("Open%1Filter").arg(slot), ctx.slotFiles.SlotFilter[i], 1);
    }
    return finish(s, write);
}

namespace {

// The recent files of each slot the card type offers ("Load<slot>_<k>").
void recentFileKeys(SettingsStore& s, SlotFiles& files, int code, bool write) {
    // A slot is offered when the card type has an open command for it.
    const bool offered[4] = {false, true, !openHint(code, 2).isEmpty(),
                             !openHint(code, 3).isEmpty()};
    auto& recent = files.RecentFiles;
    for (int k = 1; k <= 5; ++k) {
        for (int slot = 1; slot <= 3; ++slot) {
            if (!offered[slot]) continue;
            QString& entry = recent[static_cast<size_t>(slot)][static_cast<size_t>(k)];
            const QString key = QStringLiteral("Load%1_%2").arg(slot).arg(k);
            if (write) {
                if (!entry.isEmpty()) s.writeString(key, entry);
            } else {
                entry = s.readString(key, QString());
            }
        }
    }
}

// The keys of the fuse page of the AT90S and ATmega card types.
void fuseKeys(SettingsStore& s, FuseModel& f, int code, bool write) {
    const TDeviceEntry* row = findDevice(code);
    if (isAt90s(code)) {
        flag(s, write, "Lockbit1", f.avr.lockBit1, false);
        flag(s, write, "Lockbit2", f.avr.lockBit2, false);
        flag(s, write, "AVRFuse1", f.avr.avrFuse, false);
    } else if (row && row->fusePage == FusePage::cfgMega161) {
        auto& p = f.mega161;
        megaKeys(s, write,
                 {p.lb1, p.lb2, p.blb01, p.blb02, p.blb11, p.blb12, p.osc, p.boden, p.bodlevel,
                  p.bootrst});
        if (!write) clampIndex(p.osc, mega161OscillatorItems().size());
    } else if (row && row->megaFuseBytes()) {
        auto& p = f.mega163;
        megaKeys(s, write,
                 {p.lb1, p.lb2, p.blb01, p.blb02, p.blb11, p.blb12, p.osc, p.boden, p.bodlevel,
                  p.bootrst});
        integer(s, write, QStringLiteral("BootSize"), p.bootSize, 0);
        if (!write) {
            clampIndex(p.osc, mega163OscillatorItems().size());
            clampIndex(p.bootSize, mega163BootSizeItems().size());
        }
    }
}

}  // namespace

bool IniDevice(SettingsStore& s, SettingsContext& ctx, bool write) {
    const int code = ctx.devices.DeviceId;
    EnableBoxes& e = ctx.enable;
    FuseModel& f = ctx.fuses;
    s.setSection(deviceSection(code));
    s.beginUpdate();
    if (write) {
        QString name = ctx.deviceName;
        if (name.isEmpty()) {
            const TDeviceEntry* row = findDevice(code);
            if (row && row->displayName) name = QString::fromLatin1(row->displayName);
        }
        s.writeString(QStringLiteral("DeviceName"), name);
    }
    flag(s, write, "ProgMem", e.prog, true);
    flag(s, write, "DataMem", e.data, true);
    flag(s, write, "Config", e.config, true);
    flag(s, write, "EepMem", e.eep, true);

    recentFileKeys(s, ctx.slotFiles, code, write);
    fuseKeys(s, f, code, write);

    const bool ok = finish(s, write);
    if (!write) {
        e.notify();
        f.notify();
    }
    cbEepMemClick(code, e);
    return ok;
}

bool IniWindow(SettingsStore& s, WindowPlacement& p, bool write) {
    s.setSection(QStringLiteral("Window"));
    s.beginUpdate();
    integer(s, write, QStringLiteral("Left"), p.left, 0);
    integer(s, write, QStringLiteral("Top"), p.top, 0);
    integer(s, write, QStringLiteral("Width"), p.width, 0);
    integer(s, write, QStringLiteral("Height"), p.height, 0);
    flag(s, write, "Maximized", p.maximized, false);
    return finish(s, write);
}

// ---------------------------------------------------------------------------------------

std::vector<std::pair<uint16_t, uint16_t>> parseUsbIds(const QString& text) {
    std::vector<std::pair<uint16_t, uint16_t>> ids;
    const QStringList entries = text.split(u',', Qt::SkipEmptyParts);
    for (const QString& entry : entries) {
        const QStringList parts = entry.trimmed().split(u':');
        if (parts.size() != 2) continue;
        bool okVendor = false, okProduct = false;
        const QString v = parts[0].trimmed(), p = parts[1].trimmed();
        if (v.isEmpty() || p.isEmpty() || v.size() > 4 || p.size() > 4) continue;
        const uint vendor = v.toUInt(&okVendor, 16);
        const uint product = p.toUInt(&okProduct, 16);
        if (!okVendor || !okProduct) continue;
        ids.emplace_back(static_cast<uint16_t>(vendor), static_cast<uint16_t>(product));
    }
    return ids;
}

std::vector<std::pair<uint16_t, uint16_t>> readUsbIds(SettingsStore& store) {
    const QString previous = store.section();
    store.setSection(QStringLiteral("Config"));
    auto ids = parseUsbIds(store.readString(QStringLiteral("UsbIds"), QString()));
    store.setSection(previous);
    return ids;
}

}  // namespace kelvano
