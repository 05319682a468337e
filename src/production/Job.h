#pragma once
#include <QByteArray>
#include <QString>
#include <array>
#include <optional>

#include "device/FusePages.h"
#include "device/Models.h"
#include "device/uDevices.h"
#include "production/SerialNumber.h"

namespace kelvano {

// One production run as a job file describes it, with its images already loaded. Everything
// is checked when the file is read, before any card is touched.
struct Job {
    QString path;             // the job file
    QString name;             // [Job] Name, else the file's base name
    int card = 10;            // [Job] Card
    int count = 0;            // [Job] Count; 0: no limit of its own
    QString log;              // [Job] Log: a file (relative to the job) or a postgresql:// address
    bool voidOnFail = false;  // [Job] OnFail=void: a failed card's serial is not handed out again
    std::array<QString, 4> images;  // [Images] Slot1..Slot3 (absolute paths; index 0 unused)

    bool prog = true, data = true, config = true, eep = true;  // [Memories]
    bool verify = true;                                        // [Options] Verify
    bool alwaysErase = false;                                  // [Options] AlwaysErase

    // The fuse pages as the programming reads them ([Fuses], over what slot 1 carried).
    Pic84Page pic84;
    Pic876Page pic876;
    AvrPage avr;
    Mega163Page mega163;

    std::optional<SerialPlan> serial;  // [Serial]

    // The card's buffers as loaded from the images (without a serial).
    TBufArray progBuf, dataBuf, eepBuf, idBuf;
    uint16_t cfgWord = 0x3FFF;

    // SHA-256 (hex) of the job file, its images and its serial list, in that order.
    QString hash;

    // The default log beside the job file: its name with ".log.db" for ".ini".
    QString defaultLogPath() const;
    // Sets up `devices` and `fuses` for one card: card type, buffers, fuse pages. The serial
    // is written by the caller.
    void applyTo(TDevices& devices, FuseModel& fuses, EnableBoxes& enable) const;
};

// Reads and checks a job file. On failure `error` names the file and the line (or the
// section) at fault, and `job` is not to be used.
bool readJob(const QString& path, Job& job, QString& error);

}  // namespace kelvano
