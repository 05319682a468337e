#include "fileio/FileCompare.h"

#include <memory>

#include "fileio/uFileio.h"

namespace kelvano {

std::optional<CompareReport> compareWithFile(const TDevices& current, const QString& name, int slot,
                                             Host& host, const QString& crdPath) {
    TDevices scratch;
    scratch.DeviceId = current.DeviceId;
    scratch.ApplyBuffers(nullptr, false);
    scratch.ProgBuf = current.ProgBuf;
    scratch.DataBuf = current.DataBuf;
    scratch.EepBuf = current.EepBuf;
    scratch.IdBuf = current.IdBuf;
    scratch.CfgWord = current.CfgWord;
    FuseModel fuses;  // the loader refreshes a fuse page: not the window's
    auto io = std::make_unique<TFileIo>(host, scratch, fuses, nullptr);
    io->setGridsShown(false);
    io->CrdPath = crdPath;
    if (!io->OpenFile(name, slot)) return std::nullopt;

    CompareReport report;
    report.against = name;
    const int code = current.DeviceId;
    if (isPicCode(code)) {
        if (slot == 1) {
            diffBuffers(report, current, scratch, 1 | 2);
            report.memories.push_back(diffPicConfiguration(current, scratch));
        } else if (slot == 2) {
            diffBuffers(report, current, scratch, 4);
        }
    } else {
        diffBuffers(report, current, scratch, slot == 1 ? 1 | 2 : slot == 2 ? 2 : 4);
    }
    return report;
}

}  // namespace kelvano
