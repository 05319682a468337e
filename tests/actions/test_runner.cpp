// The runner around the sequences: the card wait, Abort, a silent box, the closing exchanges,
// the ready sound.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "ActionRig.h"
#include "link/BoxInterface.h"

using namespace kelvano;
using namespace kelvano::test;

namespace {
// Timers need a Qt application object; the tests drive them by hand in virtual time.
int qtArgc = 1;
char qtName[] = "test_actions";
char* qtArgv[] = {qtName, nullptr};
QCoreApplication qtApp(qtArgc, qtArgv);
}  // namespace

TEST(ActionRunner, WaitsForTheCardOnlyWhenAskedWithDisplayTextsAndBlinkingLamp) {
    ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.untick();
    rig.box.removeCard();
    rig.actions.start(ActionCode::Read);  // without the option: no poll, the action runs at once
    rig.actions.Startup();
    EXPECT_EQ(rig.actions.label(), "READY");
    EXPECT_EQ(rig.view.closeRequests, 1);
    EXPECT_FALSE(rig.commands().contains("K"));
    rig.actions.FormClose();
    rig.box.clearTrace();

    rig.options.smartAuto = true;
    rig.actions.start(ActionCode::Read);
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
}

TEST(ActionRunner, AbortWhileWaitingClosesTheBoxDownAndASilentBoxIsReported) {
    ActionRig rig(10);
    ASSERT_TRUE(rig.connect());
    rig.options.smartAuto = true;
    rig.box.removeCard();
    rig.actions.start(ActionCode::Program);
    rig.actions.Startup();
    rig.actions.ButCancelClick();
    EXPECT_TRUE(rig.actions.closeRequested());
    rig.box.clearTrace();
    rig.actions.FormClose();
    EXPECT_EQ(rig.commands(), (QStringList{"M0", "D----", "d    "}));
    EXPECT_TRUE(rig.host.errors.isEmpty());

    rig.fault("noanswer,on=K,times=0");
    const qint64 start = rig.clock.nowMs();
    EXPECT_EQ(rig.run(5), 5);
    EXPECT_EQ(rig.host.errors, QStringList{"The programmer box does not answer."});
    EXPECT_FALSE(rig.actions.result().ready);
    // The first tick after 10 ms, four more 300 ms apart, each poll waiting 60 ms.
    EXPECT_EQ(rig.clock.nowMs() - start, 10 + 4 * 300 + 5 * 60);
}

TEST(ActionRunner, NoCardOnlyWithStateBitsOneAndTwo) {
    using M = SimBox::Model;
    const struct {
        M model;
        const char* answer;
        bool card;
    } rows[] = {{M::Serial, "0", true},  {M::Serial, "2", true},  {M::Serial, "4", true},
                {M::Serial, "6", false}, {M::Serial, "7", false}, {M::Serial, "14", false},
                {M::Serial, "X", false}, {M::Usb, "02", true},    {M::Usb, "04", true},
                {M::Usb, "06", false},   {M::Usb, "0200", false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.answer);
        const bool usb = r.model == M::Usb;
        ActionRig rig(usb ? 20 : 10, r.model);
        ASSERT_TRUE(rig.connect());
        rig.options.smartAuto = true;
        rig.untick();
        rig.fault(QStringLiteral("reply=%1,on=%2,times=0").arg(r.answer, usb ? "05" : "K"));
        rig.actions.start(ActionCode::Verify);
        rig.actions.Startup();
        EXPECT_EQ(rig.actions.result().ready, r.card);
        if (!usb) {
            EXPECT_EQ(rig.commands().contains("DINS."), !r.card);
        }
    }
}

// The one card-state rule that the runner and the production workers wait on, over every
// state a box can answer (and -1, no answer).
TEST(CardState, ACardIsInTheBoxUnlessBitsOneAndTwoAreBothSet) {
    const char present[] = "1111110011111100";  // states 0 to 15
    for (int state = 0; state < 256; ++state)
        EXPECT_EQ(cardPresent(state), present[state % 16] == '1') << state;
    EXPECT_FALSE(cardPresent(-1));
    EXPECT_FALSE((CardPoll{true, 6}.cardPresent()));
    EXPECT_TRUE((CardPoll{true, 0x80}.cardPresent()));
}

TEST(ActionRunner, ReadySoundOnlyAfterAProgramActionThatEndedReady) {
    const struct {
        int code;
        bool abort;
        int sounds;
    } rows[] = {{1, false, 0}, {3, false, 0}, {4, false, 0}, {5, false, 1}, {5, true, 0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.code);
        ActionRig rig(10);
        ASSERT_TRUE(rig.connect());
        rig.options.soundReady = true;
        if (r.abort)
            rig.host.onEvents = [&] { rig.actions.ButCancelClick(); };  // Abort pressed at once
        else
            rig.untick();
        rig.run(r.code);
        EXPECT_EQ(rig.actions.result().ready, !r.abort);
        EXPECT_EQ(rig.view.sounds, r.sounds);
    }
}
