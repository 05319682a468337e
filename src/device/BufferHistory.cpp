#include "device/BufferHistory.h"

#include <tuple>

namespace kelvano {

namespace {

auto fieldsOf(const Pic84Page& p) { return std::tie(p.osc, p.wdt, p.pwrte, p.cp, p.id); }
auto fieldsOf(const Pic876Page& p) {
    return std::tie(p.fosc, p.wdte, p.pwrte, p.boden, p.lvp, p.cpd, p.wrt, p.debug, p.cp, p.id);
}
auto fieldsOf(const AvrPage& p) {
    return std::tie(p.lockBit1, p.lockBit2, p.avrFuse, p.fuseVisible, p.fuseCaption);
}
auto fieldsOf(const Mega161Page& p) {
    return std::tie(p.osc, p.lb1, p.lb2, p.blb01, p.blb02, p.blb11, p.blb12, p.boden, p.bodlevel,
                    p.bootrst);
}
auto fieldsOf(const Mega163Page& p) {
    return std::tie(p.osc, p.boden, p.bodlevel, p.bootrst, p.bootSize, p.lb1, p.lb2, p.blb01,
                    p.blb02, p.blb11, p.blb12);
}

}  // namespace

BufferHistory::BufferHistory(TDevices& devices, FuseModel* fuses, int limit)
    : devices_(devices), fuses_(fuses), limit_(limit) {
    reset();
}

BufferHistory::Fuses BufferHistory::takeFuses() const {
    Fuses f;
    f.id = devices_.IdBuf.values();
    f.cfgWord = devices_.CfgWord;
    f.fuseLow = devices_.FuseLow;
    f.fuseHigh = devices_.FuseHigh;
    f.lockByte = devices_.LockByte;
    if (fuses_) {
        f.pic84 = fuses_->pic84;
        f.pic876 = fuses_->pic876;
        f.avr = fuses_->avr;
        f.mega161 = fuses_->mega161;
        f.mega163 = fuses_->mega163;
    }
    return f;
}

void BufferHistory::putFuses(const Fuses& f) {
    devices_.IdBuf.values() = f.id;
    devices_.CfgWord = f.cfgWord;
    devices_.FuseLow = f.fuseLow;
    devices_.FuseHigh = f.fuseHigh;
    devices_.LockByte = f.lockByte;
    if (!fuses_) return;
    fuses_->pic84 = f.pic84;
    fuses_->pic876 = f.pic876;
    fuses_->avr = f.avr;
    fuses_->mega161 = f.mega161;
    fuses_->mega163 = f.mega163;
    fuses_->notify();
}

bool BufferHistory::sameFuses(const Fuses& a, const Fuses& b) {
    return std::tie(a.id, a.cfgWord, a.fuseLow, a.fuseHigh, a.lockByte) ==
               std::tie(b.id, b.cfgWord, b.fuseLow, b.fuseHigh, b.lockByte) &&
           fieldsOf(a.pic84) == fieldsOf(b.pic84) && fieldsOf(a.pic876) == fieldsOf(b.pic876) &&
           fieldsOf(a.avr) == fieldsOf(b.avr) && fieldsOf(a.mega161) == fieldsOf(b.mega161) &&
           fieldsOf(a.mega163) == fieldsOf(b.mega163);
}

TBufArray& BufferHistory::buffer(int grid) {
    return grid == 1 ? devices_.ProgBuf : grid == 2 ? devices_.DataBuf : devices_.EepBuf;
}

void BufferHistory::reset() {
    for (int g = 1; g <= 3; ++g) shadow_[size_t(g)] = buffer(g);
    shadowFuses_ = takeFuses();
    origins_ = shadowOrigins_ = {};
    openMerge_ = 0;
    undo_.clear();
    redo_.clear();
}

bool BufferHistory::record(const QString& what, int merge) {
    Step step;
    step.what = what;
    for (int g = 1; g <= 3; ++g) {
        const TBufArray& now = buffer(g);
        TBufArray& was = shadow_[size_t(g)];
        if (now.length() != was.length()) {
            // Only a new card type changes a length, and that starts a new history.
            reset();
            return false;
        }
        int first = 0, last = now.length() - 1;
        while (first <= last && now[first] == was[first]) ++first;
        if (first > last) continue;
        while (now[last] == was[last]) --last;
        Range r;
        r.grid = g;
        r.first = first;
        r.before.assign(was.values().begin() + first, was.values().begin() + last + 1);
        r.after.assign(now.values().begin() + first, now.values().begin() + last + 1);
        step.ranges.push_back(std::move(r));
        was = now;
    }
    Fuses fuses = takeFuses();
    if (!sameFuses(fuses, shadowFuses_)) {
        step.fusesChanged = true;
        step.fusesBefore = std::move(shadowFuses_);
        step.fusesAfter = fuses;
        shadowFuses_ = std::move(fuses);
    }
    // The fuse values alone (the user's own ticks, a page read into the card values before
    // programming) make no step: they become what the next step starts from.
    if (step.ranges.empty() && origins_ == shadowOrigins_) return false;
    if (merge != 0 && merge == openMerge_ && !undo_.empty() && step.ranges.size() <= 1 &&
        !step.fusesChanged && !undo_.back().fusesChanged) {
        Step& last = undo_.back();
        const bool same = step.ranges.empty() || last.ranges.empty() ||
                          (last.ranges.size() == 1 && last.ranges[0].grid == step.ranges[0].grid &&
                           last.ranges[0].first == step.ranges[0].first &&
                           last.ranges[0].after.size() == step.ranges[0].after.size());
        if (same) {
            if (last.ranges.empty())
                last.ranges = std::move(step.ranges);
            else if (!step.ranges.empty())
                last.ranges[0].after = step.ranges[0].after;
            last.originsAfter = origins_;
            shadowOrigins_ = origins_;
            return true;
        }
    }
    openMerge_ = merge;
    step.originsBefore = shadowOrigins_;
    step.originsAfter = origins_;
    shadowOrigins_ = origins_;
    undo_.push_back(std::move(step));
    if (static_cast<int>(undo_.size()) > limit_) undo_.pop_front();
    redo_.clear();
    return true;
}

std::vector<int> BufferHistory::apply(const Step& step, bool forward) {
    openMerge_ = 0;
    std::vector<int> grids;
    for (const Range& r : step.ranges) {
        const std::vector<uint16_t>& values = forward ? r.after : r.before;
        TBufArray& buf = buffer(r.grid);
        for (size_t i = 0; i < values.size(); ++i) buf[r.first + int(i)] = values[i];
        shadow_[size_t(r.grid)] = buf;
        grids.push_back(r.grid);
    }
    origins_ = shadowOrigins_ = forward ? step.originsAfter : step.originsBefore;
    if (step.fusesChanged) {
        putFuses(forward ? step.fusesAfter : step.fusesBefore);
        shadowFuses_ = takeFuses();
    }
    return grids;
}

std::vector<int> BufferHistory::undo() {
    if (undo_.empty()) return {};
    Step step = std::move(undo_.back());
    undo_.pop_back();
    std::vector<int> grids = apply(step, false);
    redo_.push_back(std::move(step));
    return grids;
}

std::vector<int> BufferHistory::redo() {
    if (redo_.empty()) return {};
    Step step = std::move(redo_.back());
    redo_.pop_back();
    std::vector<int> grids = apply(step, true);
    undo_.push_back(std::move(step));
    return grids;
}

}  // namespace kelvano
