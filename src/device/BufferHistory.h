#pragma once
#include <QString>
#include <array>
#include <cstdint>
#include <deque>
#include <vector>

#include "device/FusePages.h"
#include "device/uDevices.h"

namespace kelvano {

// Undo and redo over everything that changes the three memory buffers of the selected card:
// cell edits, fills, file loads, reads. The history keeps a copy of each buffer as it was at
// the last record; `record` stores what changed since then (one range per buffer) as one
// step, so that the commands that change buffers need not know about it. Each buffer also
// carries the name of the file it came from and whether it was edited since. A file also
// brings the values behind the fuse pages (PIC ID words and configuration word, AVR fuse and
// lock bytes, the pages' own boxes): those are part of the same step.
class BufferHistory {
public:
    struct Origin {
        QString file;
        bool edited = false;
        bool operator==(const Origin& o) const { return file == o.file && edited == o.edited; }
    };

    // Without `fuses`, only the TDevices values behind the pages are kept.
    explicit BufferHistory(TDevices& devices, FuseModel* fuses = nullptr, int limit = 200);

    // Takes the buffers as they are now, with no file and no edits, and forgets every step
    // (a new card type: the lengths have changed).
    void reset();
    // Stores the changes since the last record (buffers, origins and with them the fuse
    // values) as one step called `what`; false when no buffer or origin changed. A new step drops
    // what could be redone. Records with the same non-zero `merge` key in a row (the digits typed
    // over one cell) make one step.
    bool record(const QString& what, int merge = 0);

    bool canUndo() const { return !undo_.empty(); }
    bool canRedo() const { return !redo_.empty(); }
    QString undoText() const { return canUndo() ? undo_.back().what : QString(); }
    QString redoText() const { return canRedo() ? redo_.back().what : QString(); }
    // Puts the buffers (and origins) back as they were before the last step, or after the
    // step last undone. Returns the grids (1..3) whose buffer changed; changed fuse values
    // are put back and the fuse pages told so.
    std::vector<int> undo();
    std::vector<int> redo();

    // The origin of grid 1..3's buffer; change it, then record.
    Origin& origin(int grid) { return origins_[static_cast<size_t>(grid)]; }
    const Origin& origin(int grid) const { return origins_[static_cast<size_t>(grid)]; }

private:
    struct Range {
        int grid = 0;
        int first = 0;
        std::vector<uint16_t> before, after;
    };
    // The values behind the fuse pages.
    struct Fuses {
        std::vector<uint16_t> id;
        uint16_t cfgWord = 0;
        uint8_t fuseLow = 0, fuseHigh = 0, lockByte = 0;
        Pic84Page pic84;
        Pic876Page pic876;
        AvrPage avr;
        Mega161Page mega161;
        Mega163Page mega163;
    };
    struct Step {
        QString what;
        std::vector<Range> ranges;
        std::array<Origin, 4> originsBefore, originsAfter;
        bool fusesChanged = false;
        Fuses fusesBefore, fusesAfter;
    };
    TBufArray& buffer(int grid);
    Fuses takeFuses() const;
    void putFuses(const Fuses& f);
    static bool sameFuses(const Fuses& a, const Fuses& b);
    std::vector<int> apply(const Step& step, bool forward);

    TDevices& devices_;
    FuseModel* fuses_;
    int limit_;
    std::array<TBufArray, 4> shadow_;
    Fuses shadowFuses_;
    std::array<Origin, 4> origins_, shadowOrigins_;
    std::deque<Step> undo_, redo_;
    int openMerge_ = 0;  // the merge key of the last step, while it may still grow
};

}  // namespace kelvano
