// Card dumps: text lines of hex bytes whose first bytes (the layout) carry the block address.
// The layout is recognised from the first data line, trying the lines of the layout file
// first and then the built-in ones.
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <array>
#include <vector>

#include "base/DataFiles.h"
#include "fileio/TextLines.h"
#include "fileio/uFileio.h"

namespace kelvano {

namespace {
const char* const kBuiltInLayouts[] = {
    "01 02 FF 00 00 NB HI LO", "01 02 FF 03 0D NB HI LO", "01 02 FF 0A 05 NB HI LO",
    "01 FF 00 00 00 NB HI LO", "01 02 23 HI LO NB",       "C1 FF HI LO NB",
};

// A line holds at most this many bytes.
constexpr int kMaxLineBytes = 256;

// A hexadecimal number of one or more digits of either case, or -1 when the token is not
// one. Dump bytes keep the low 8 bits of any number; layout numbers must fit a byte.
int hexToken(const QString& token, bool mustFitByte) {
    if (token.isEmpty()) return -1;
    int v = 0;
    for (const QChar c : token) {
        const char16_t u = c.unicode();
        int d;
        if (u >= '0' && u <= '9')
            d = u - '0';
        else if (u >= 'A' && u <= 'F')
            d = u - 'A' + 10;
        else if (u >= 'a' && u <= 'f')
            d = u - 'a' + 10;
        else
            return -1;
        v = v << 4 | d;
        if (mustFitByte && v > 0xFF) return -1;
        v &= 0xFF;
    }
    return v;
}

int hexByte(const QString& token) { return hexToken(token, false); }
int layoutNumber(const QString& token) { return hexToken(token, true); }

// Blanks and control characters at both ends go.
QString trimControl(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s.at(b).unicode() <= 0x20) ++b;
    while (e > b && s.at(e - 1).unicode() <= 0x20) --e;
    return s.mid(b, e - b);
}

struct Layout {
    QStringList tokens;
};

Layout splitLayout(const QString& line) {
    Layout l;
    QString rest = line;
    while (!rest.isEmpty())
        l.tokens.append(TStringCollection::NextToken(QStringLiteral(" "), rest));
    return l;
}

std::vector<Layout> splitLayouts(const QStringList& lines) {
    std::vector<Layout> layouts;
    layouts.reserve(static_cast<size_t>(lines.size()));
    for (const QString& l : lines) layouts.push_back(splitLayout(l));
    return layouts;
}

bool matches(const Layout& layout, const std::vector<int>& bytes) {
    const int count = static_cast<int>(bytes.size());
    for (int j = 0; j < layout.tokens.size(); ++j) {
        const QString& t = layout.tokens.at(j);
        if (t == QLatin1String("HI") || t == QLatin1String("LO")) return true;
        if (j >= count) return false;
        if (t == QLatin1String("NB")) {
            if (bytes[static_cast<size_t>(j)] != count - j - 1) return false;
            continue;
        }
        // A token that is no hex number never equals a byte; a number above 0xFF neither.
        if (layoutNumber(t) != bytes[static_cast<size_t>(j)]) return false;
    }
    return false;
}

// The data of a dump line: upper case, without what follows a '/', trimmed.
QString dataPart(const QString& line) {
    QString text = trimControl(line.toUpper());
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    if (slash >= 0) text = trimControl(text.left(slash));
    return text;
}

// The bytes of a line's data, or the error of a token that is no number or of a line with
// too many bytes.
int splitBytes(QString text, std::vector<int>& bytes) {
    bytes.clear();
    while (!text.isEmpty()) {
        const int b = hexByte(TStringCollection::NextToken(QStringLiteral(" "), text));
        if (b < 0) return kCrdIllegalChar;
        if (static_cast<int>(bytes.size()) == kMaxLineBytes) return kCrdLineTooLong;
        bytes.push_back(b);
    }
    return kLoadOk;
}

// The first layout the bytes of a data line match, or null.
const Layout* layoutOf(const std::vector<Layout>& layouts, const std::vector<int>& bytes) {
    for (const Layout& l : layouts)
        if (matches(l, bytes)) return &l;
    return nullptr;
}

// The block address the HI and LO bytes of a line give. A line too short for the address
// bytes counts them as 0; it holds no data then.
unsigned blockAddress(const Layout& layout, const std::vector<int>& bytes) {
    unsigned address = 0;
    const int count = static_cast<int>(bytes.size());
    for (int j = 0; j < layout.tokens.size(); ++j) {
        const unsigned b = j < count ? static_cast<unsigned>(bytes[static_cast<size_t>(j)]) : 0;
        const QString& t = layout.tokens.at(j);
        if (t == QLatin1String("LO"))
            address = (address & 0xFF00) | b;
        else if (t == QLatin1String("HI"))
            address = (address & 0x00FF) | b << 8;
    }
    return address;
}

// Where the data bytes of a line (those after the layout's bytes) go: their first address
// and their count; kCrdAddressRange when they run past the image.
int blockOf(const Layout& layout, const std::vector<int>& bytes, std::vector<uint8_t>& data,
            unsigned& address) {
    address = blockAddress(layout, bytes);
    data.clear();
    for (size_t j = layout.tokens.size(); j < bytes.size(); ++j)
        data.push_back(static_cast<uint8_t>(bytes[j]));
    if (address + data.size() > TFileIo::kImageSize) return kCrdAddressRange;
    return kLoadOk;
}

}  // namespace

int TFileIo::loadCrdLayouts(QStringList& layouts) {
    layouts.clear();
    // CrdPath names the file beside the program; the data folders are tried after it.
    const QFileInfo crd(CrdPath);
    const QString path = CrdPath.isEmpty() ? QString() : findDataFile(crd.path(), crd.fileName());
    if (!path.isEmpty()) {
        int error = 0;
        FilePtr f = openFile(path, "rb", error);
        if (!f) {
            ShowIoError(error, path);
            return error;
        }
        TextLines lines(f.get());
        QByteArray line;
        while (lines.next(line)) layouts.append(QString::fromLatin1(line));
        if (lines.error()) {
            ShowIoError(lines.error(), path);
            return lines.error();
        }
    }
    for (const char* l : kBuiltInLayouts) layouts.append(QLatin1String(l));
    return 0;
}

int TFileIo::ReadCrdFile() {
    QStringList layoutLines;
    if (const int error = loadCrdLayouts(layoutLines)) return error;
    const std::vector<Layout> layouts = splitLayouts(layoutLines);

    int error = 0;
    FilePtr f = openFile(FileName, "rb", error);
    if (!f) {
        ShowIoError(error);
        return error;
    }
    // The image is cleared now, not at the first data line, so that a dump without data can
    // never hand an earlier load's bytes on.
    fillImage();
    LineNo = 0;
    LineText.clear();
    TextLines lines(f.get());
    QByteArray raw;
    const Layout* chosen = nullptr;
    std::vector<int> bytes;
    std::vector<uint8_t> block;
    while (lines.next(raw)) {
        ++LineNo;
        LineText = QString::fromLatin1(raw);
        QString text = dataPart(LineText);
        if (text.isEmpty()) continue;
        if (lines.overlong()) return kCrdLineTooLong;
        if (const int wrong = splitBytes(text, bytes)) return wrong;
        if (!chosen) {
            chosen = layoutOf(layouts, bytes);
            if (!chosen) {
                ShowError(QStringLiteral("Unknown CRD-Format!"));
                return kCrdUnknownFormat;
            }
        }
        unsigned address = 0;
        if (const int wrong = blockOf(*chosen, bytes, block, address)) return wrong;
        if (const int wrong = placeBytes(address, block.data(), int64_t(block.size()), LineNo))
            return wrong;
    }
    if (lines.error()) {
        ShowIoError(lines.error());
        return lines.error();
    }
    return chosen ? kLoadOk : kCrdNoData;
}

}  // namespace kelvano
