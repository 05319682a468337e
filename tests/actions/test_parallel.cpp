// Several runners side by side in one process, one per box, as production runs use them.
#include <gtest/gtest.h>

#include <QThread>
#include <atomic>
#include <memory>
#include <random>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {

struct Job {
    int card;
    SimBox::Model model;
    bool eeprom;
};

// Programs (with automatic verify) a card with contents of its own, then reads it back, and
// returns every exchange the box saw. `onStep` runs at each pending-events point.
QStringList programAndRead(const Job& job, const std::function<void()>& onStep = {}) {
    ActionRig rig(job.card, job.model);
    if (!rig.connect()) return {"no link"};
    rig.options.verify = true;
    rig.enable.eep = job.eeprom;
    std::mt19937 rng(unsigned(job.card) * 977u);
    fillRandom(rig.devices.ProgBuf, rng, isPicCode(job.card) ? 0x3FFF : 0xFFFF);
    fillRandom(rig.devices.DataBuf, rng, 0xFF);
    fillRandom(rig.devices.EepBuf, rng, 0xFF);
    rig.host.onEvents = onStep;
    rig.run(5);
    if (!rig.ready()) return {"program failed: " + rig.host.errors.join("; ")};
    const TBufArray written = rig.devices.ProgBuf;
    rig.devices.ApplyBuffers();
    rig.run(1);
    if (!rig.ready() || !(rig.devices.ProgBuf == written)) return {"read back failed"};
    return rig.box.traceLines();
}

}  // namespace

TEST(ParallelRunners, RunnersOnTheirOwnBoxesAtOnceGiveTheTracesOfEachAlone) {
    const Job jobs[] = {{24, SimBox::Model::Serial, true},
                        {13, SimBox::Model::QxBase, true},
                        {20, SimBox::Model::Usb, false}};
    constexpr int kJobs = 3;

    QStringList alone[kJobs];
    for (int i = 0; i < kJobs; ++i) {
        alone[i] = programAndRead(jobs[i]);
        ASSERT_GT(alone[i].size(), 1000) << alone[i].join('\n').toStdString();
    }

    // The same jobs, each on a thread of its own, all at once. Every step yields, and the
    // number of runners inside a step at the same moment is recorded to show they overlapped.
    std::atomic<int> inside{0}, mostInside{0};
    auto onStep = [&] {
        const int now = ++inside;
        int seen = mostInside.load();
        while (now > seen && !mostInside.compare_exchange_weak(seen, now)) {
        }
        QThread::yieldCurrentThread();
        --inside;
    };
    QStringList together[kJobs];
    std::unique_ptr<QThread> threads[kJobs];
    for (int i = 0; i < kJobs; ++i)
        threads[i].reset(
            QThread::create([&, i] { together[i] = programAndRead(jobs[i], onStep); }));
    for (auto& t : threads) t->start();
    for (auto& t : threads) ASSERT_TRUE(t->wait(120000));

    EXPECT_GE(mostInside.load(), 2);
    for (int i = 0; i < kJobs; ++i) {
        SCOPED_TRACE(jobs[i].card);
        ASSERT_EQ(together[i].size(), alone[i].size());
        EXPECT_TRUE(together[i] == alone[i]);
    }
}
