// Over USB the program's answers stay in step with its packets whether the box keeps one
// answer buffer or queues its answers (the connect leaves one answer unread).
#include <gtest/gtest.h>

#include "ActionRig.h"

using namespace kelvano;
using namespace kelvano::test;

TEST(UsbQueue, AnAvrCardProgramsVerifiesAndReadsBackWithEitherKindOfBox) {
    for (bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "queued answers" : "one answer buffer");
        ActionRig rig(20, SimBox::Model::Usb);
        rig.usbBackend.setQueuedReplies(queued);
        ASSERT_TRUE(rig.connect());
        rig.untick();
        rig.enable.prog = true;
        rig.options.verify = true;
        TBufArray& flash = rig.devices.ProgBuf;
        for (int i = 0; i < flash.length(); ++i)
            flash[i] = uint16_t(0xA5C3 ^ (i * 0x0101) ^ (i >> 3));
        const TBufArray written = flash;
        rig.run(5);
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_EQ(rig.box.card().flash[0x123], written[0x123]);
        rig.devices.ApplyBuffers();
        rig.run(1);
        ASSERT_TRUE(rig.ready()) << rig.host.errors.join("; ").toStdString();
        EXPECT_TRUE(rig.devices.ProgBuf == written);
        EXPECT_EQ(rig.usbBackend.pendingReplies(), 0);
    }
}
