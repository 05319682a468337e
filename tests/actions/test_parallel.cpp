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

// Programs (with automatic verify) a card with contents of its own, reads it back, and returns
// every exchange the box saw. `onStep` runs at each pending-events point.
QStringList programAndRead(int card, SimBox::Model model, const std::function<void()>& onStep) {
    ActionRig rig(card, model);
    if (!rig.connect()) return {"no link"};
    rig.options.verify = true;
    rig.enable.eep = model != SimBox::Model::Usb;
    std::mt19937 rng(unsigned(card) * 977u);
    fillRandom(rig.devices.ProgBuf, rng, isPicCode(card) ? 0x3FFF : 0xFFFF);
    fillRandom(rig.devices.DataBuf, rng, 0xFF);
    fillRandom(rig.devices.EepBuf, rng, 0xFF);
    rig.host.onEvents = onStep;
    rig.run(5);
    const TBufArray written = rig.devices.ProgBuf;
    rig.devices.ApplyBuffers();
    rig.run(1);
    if (!rig.ready() || !(rig.devices.ProgBuf == written)) return {"failed"};
    return rig.box.traceLines();
}

}  // namespace

TEST(ParallelRunners, RunnersOnTheirOwnBoxesAtOnceGiveTheTracesOfEachAlone) {
    const std::pair<int, SimBox::Model> jobs[3] = {
        {24, SimBox::Model::Serial}, {13, SimBox::Model::QxBase}, {20, SimBox::Model::Usb}};
    // Every step yields; the most runners inside a step at one moment shows they overlapped.
    std::atomic<int> inside{0}, mostInside{0};
    auto onStep = [&] {
        const int now = ++inside;
        for (int seen = mostInside; now > seen && !mostInside.compare_exchange_weak(seen, now);) {
        }
        QThread::yieldCurrentThread();
        --inside;
    };
    QStringList alone[3], together[3];
    std::unique_ptr<QThread> threads[3];
    for (int i = 0; i < 3; ++i) {
        alone[i] = programAndRead(jobs[i].first, jobs[i].second, {});
        ASSERT_GT(alone[i].size(), 1000) << alone[i].join('\n').toStdString();
        threads[i].reset(QThread::create(
            [&, i] { together[i] = programAndRead(jobs[i].first, jobs[i].second, onStep); }));
    }
    for (auto& t : threads) t->start();
    for (auto& t : threads) ASSERT_TRUE(t->wait(120000));
    EXPECT_GE(mostInside.load(), 2);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(together[i] == alone[i]) << jobs[i].first;
}
