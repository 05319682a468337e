#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtEndian>
#include <functional>
#include <vector>

#include "base/Host.h"
#include "base/MainView.h"
#include "device/FusePages.h"
#include "device/uDevices.h"
#include "fileio/uFileio.h"

namespace kelvano::test {

// Records what the file module shows the user.
struct RecordingHost : Host {
    void showError(const QString& text) override { errors.append(text); }
    bool askOkAbort(const QString& caption, const QString& text) override {
        asked.append(caption + ": " + text);
        return answerOk;
    }
    void beep() override {}
    void processEvents() override {
        if (onPump) onPump();
    }

    QStringList errors;
    QStringList asked;  // "caption: text" of every warning
    bool answerOk = true;
    std::function<void()> onPump;
};

struct RecordingView : NullMainView {
    void showMemoryPage(int page) override { pages.push_back(page); }
    void setFileLabel(int grid, const QString& text) override {
        labels.append(QString::number(grid) + "=" + text);
    }

    std::vector<int> pages;
    QStringList labels;  // "grid=file" of every label set
};

// A selected card type with its file module, and a scratch folder for files.
struct Bench {
    explicit Bench(int code) {
        devices.DeviceId = code;
        devices.ApplyBuffers();
        if (isPicCode(code)) RefreshPicPage(devices, fuses);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile f(path(name));
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
        return path(name);
    }
    QByteArray read(const QString& name) const {
        QFile f(name.startsWith('/') ? name : path(name));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

    QTemporaryDir dir;
    RecordingHost host;
    RecordingView view;
    TDevices devices;
    FuseModel fuses;
    TFileIo io{host, devices, fuses, &view};
};

// The values at `addresses`, in hex, one blank between them: several cells in one check.
inline QString cells(const TBufArray& b, std::initializer_list<int> addresses) {
    QStringList out;
    for (int a : addresses) out << QString::number(b[a], 16).toUpper();
    return out.join(' ');
}

// Every cell that is not erased (0xFF), as "address:value" in hex: a whole buffer in one check.
template <class Buffer>
QString written(const Buffer& buffer) {
    QStringList out;
    for (int a = 0; a < int(std::size(buffer)); ++a)
        if (buffer[a] != 0xFF) out << QString("%1:%2").arg(a, 0, 16).arg(uint(buffer[a]), 0, 16);
    return out.join(' ').toUpper();
}

// An AVR object file: its header, and one record of it.
inline QByteArray objHeader(uint32_t end, uint32_t first, uint8_t recordLength) {
    QByteArray h;
    for (uint32_t v : {end, first})
        for (int s = 24; s >= 0; s -= 8) h.append(static_cast<char>((v >> s) & 0xFF));
    return h + char(recordLength) + '\0';
}

inline QByteArray objRecord(uint32_t wordAddress, uint16_t word, int length = 9) {
    QByteArray r(length, '\0');
    qToBigEndian(wordAddress << 8 | uint32_t(word) >> 8, r.data());  // 3 address bytes, 1 word byte
    r[4] = static_cast<char>(word);
    return r;
}

// A card dump line: `head` and then `dataBytes` counted up from `firstValue`.
inline QByteArray crdLine(const QByteArray& head, int dataBytes, int firstValue) {
    QByteArray l = head;
    for (int i = 0; i < dataBytes; ++i)
        l += ' ' + QByteArray::number((firstValue + i) & 0xFF, 16).rightJustified(2, '0');
    return l;
}

inline QString testData(const char* name) {
    return QStringLiteral(KELVANO_TEST_DATA "/") + QLatin1String(name);
}

}  // namespace kelvano::test
