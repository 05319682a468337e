#include "device/BufferHistory.h"

namespace kelvano {

BufferHistory::BufferHistory(TDevices& devices, int limit) : devices_(devices), limit_(limit) {
    reset();
}

TBufArray& BufferHistory::buffer(int grid) {
    return grid == 1 ? devices_.ProgBuf : grid == 2 ? devices_.DataBuf : devices_.EepBuf;
}

void BufferHistory::reset() {
    for (int g = 1; g <= 3; ++g) shadow_[size_t(g)] = buffer(g);
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
    if (step.ranges.empty() && origins_ == shadowOrigins_) return false;
    if (merge != 0 && merge == openMerge_ && !undo_.empty() && step.ranges.size() <= 1) {
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
