#include <gtest/gtest.h>

#include <QCoreApplication>

#include "ActionRig.h"
#include "sim/SimFault.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {
// Timers need a Qt application object; the tests drive them by hand in virtual time.
int qtArgc = 1;
char qtName[] = "test_actions";
char* qtArgv[] = {qtName, nullptr};
QCoreApplication qtApp(qtArgc, qtArgv);
}  // namespace

TEST(ActionRunner, StartsAtFirstTickWithoutCardWaitAndClosesTheBoxDown) {
    ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.options.smartAuto = false;
    rig.untick();
    rig.actions.start(ActionCode(3));
    rig.actions.Startup();
    EXPECT_EQ(rig.view.closeRequests, 1);
    EXPECT_EQ(rig.actions.label(), "READY");
    EXPECT_FALSE(rig.commands().contains("K"));  // no card poll at all
}

TEST(ActionRunner, WaitsForCardWithDisplayTextsAndBlinkingLamp) {
    ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.options.smartAuto = true;
    rig.untick();
    rig.box.removeCard();
    rig.actions.start(ActionCode(1));
    for (int tick = 0; tick < 7; ++tick) rig.actions.Startup();
    EXPECT_EQ(rig.commands(),
              (QStringList{"K", "DINS.", "K", "K", "K", "DCARD", "K", "K", "K", "DINS."}));
    EXPECT_EQ(rig.mainView.lampToggles, 7);
    EXPECT_EQ(rig.actions.label(), "INSERT CARD");
    EXPECT_EQ(rig.actions.tickIntervalMs(), 300);
    EXPECT_FALSE(rig.actions.closeRequested());

    rig.box.insertCard(10);
    rig.actions.Startup();
    EXPECT_EQ(rig.actions.label(), "READY");
    EXPECT_TRUE(rig.actions.closeRequested());
    EXPECT_TRUE(rig.host.errors.isEmpty());
}

TEST(ActionRunner, AbortWhileWaitingClosesAndSilentBoxIsReported) {
    {
        ActionRig rig(10);
        ASSERT_TRUE(rig.connect());
        rig.options.smartAuto = true;
        rig.box.removeCard();
        rig.actions.start(ActionCode(5));
        rig.actions.Startup();
        rig.actions.ButCancelClick();
        EXPECT_TRUE(rig.actions.closeRequested());
        rig.box.clearTrace();
        rig.actions.FormClose();
        EXPECT_EQ(rig.commands(), (QStringList{"M0", "D----", "d    "}));
        EXPECT_TRUE(rig.host.errors.isEmpty());
    }
    {
        ActionRig rig(10);
        ASSERT_TRUE(rig.connect());
        rig.options.smartAuto = true;
        rig.box.addFault(*SimFault::parse("noanswer,on=K,times=0"));
        const qint64 start = rig.clock.nowMs();
        const int ticks = rig.run(5);
        EXPECT_EQ(ticks, 5);
        EXPECT_EQ(rig.host.errors, QStringList{"The programmer box does not answer."});
        EXPECT_NE(rig.actions.label(), "READY");
        // The first tick after 10 ms, four more 300 ms apart, each poll waiting 60 ms.
        EXPECT_EQ(rig.clock.nowMs() - start, 10 + 4 * 300 + 5 * 60);
    }
}

TEST(ActionRunner, ReadySoundOnlyAfterSuccessfulProgramAction) {
    for (int code = 1; code <= 5; ++code) {
        ActionRig rig(10);
        ASSERT_TRUE(rig.connect());
        rig.options.soundReady = true;
        rig.untick();
        rig.run(code);
        EXPECT_TRUE(rig.ready()) << code;
        EXPECT_EQ(rig.view.sounds, code == 5 ? 1 : 0) << code;
    }
    ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.options.soundReady = true;
    rig.host.onEvents = [&] { rig.actions.ButCancelClick(); };  // Abort pressed at once
    rig.run(5);
    EXPECT_TRUE(rig.actions.aborted());
    EXPECT_NE(rig.actions.label(), "READY");
    EXPECT_EQ(rig.view.sounds, 0);
}

TEST(ActionRunner, ProgressPercentRounds) {
    ActionRig rig(20);
    TActions& a = rig.actions;
    a.setProgressTotal(3);
    a.setProgressPosition(1);
    EXPECT_EQ(a.progressPercent(), 33);
    a.setProgressPosition(2);
    EXPECT_EQ(a.progressPercent(), 67);
    a.setProgressPosition(99);
    EXPECT_EQ(a.progressPosition(), 3);
    EXPECT_EQ(a.progressPercent(), 100);
    EXPECT_EQ(rig.view.percents.last(), 100);
}
