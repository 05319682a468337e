#include "LinkFixture.h"

namespace kelvano::test {
namespace {

using Framing = LinkFixture;

TEST_F(Framing, TransactReadsTheLengthByteAndThatManyBytes) {
    TCom& c = connectPlainBox();
    QByteArray reply = "stale";

    box.replies["@K"] = QByteArray(1, 3) + "123";
    const int purgesBefore = port->purges;
    EXPECT_EQ(c.Transact("K", reply, 30), 3);
    EXPECT_EQ(reply, "123");
    EXPECT_EQ(port->writes.last(), "@K");  // no terminator
    EXPECT_EQ(port->purges, purgesBefore + 1);
    EXPECT_EQ(port->readWaits, (std::vector<int>{90, 30, 30, 30}));

    // 0 and 255 are whole answers: nothing more is read, the reply is empty.
    box.replies["@Z"] = QByteArray(1, 0);
    port->readWaits.clear();
    EXPECT_EQ(c.Transact("Z", reply, 0), 0);
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_EQ(port->readWaits, std::vector<int>{60});

    box.replies["@F"] = QByteArray(1, char(255)) + "junk";
    port->readWaits.clear();
    EXPECT_EQ(c.Transact("F", reply, 10), 255);
    EXPECT_TRUE(reply.isEmpty());
    EXPECT_EQ(port->readWaits, std::vector<int>{30});
    // The bytes after 255 wait in the input until the next exchange discards them.
    EXPECT_EQ(port->pendingInput(), 4);
    EXPECT_EQ(c.Transact("K", reply, 0), 3);
    EXPECT_EQ(reply, "123");

    // The longest answer, 254 bytes.
    QByteArray full(254, '\0');
    for (int i = 0; i < full.size(); ++i) full[i] = char(i);
    box.replies["@L"] = QByteArray(1, char(254)) + full;
    EXPECT_EQ(c.Transact("L", reply, 0), 254);
    EXPECT_EQ(reply, full);
}

TEST_F(Framing, TransactTimeOutsWaitExactlyWhatWasAsked) {
    TCom& c = connectPlainBox();
    QByteArray reply;

    // Silence: 0 stands for 20 (60 ms); 500 is 1.5 s.
    EXPECT_EQ(elapsed([&] { EXPECT_EQ(c.Transact("X", reply, 0), -1); }), 60);
    EXPECT_EQ(elapsed([&] { EXPECT_EQ(c.Transact("X", reply, 500), -1); }), 1500);
    EXPECT_TRUE(reply.isEmpty());

    // Five announced, three delivered: -1, the three kept, 30 ms spent on the fourth.
    box.replies["@S"] = QByteArray(1, 5) + "abc";
    port->readWaits.clear();
    EXPECT_EQ(elapsed([&] { EXPECT_EQ(c.Transact("S", reply, 200), -1); }), 30);
    EXPECT_EQ(reply, "abc");
    EXPECT_EQ(port->readWaits, (std::vector<int>{600, 30, 30, 30, 30}));

    // A first byte that comes late but within the wait is taken; a following byte later than
    // 30 ms is not.
    port->onWrite = [](FakeSerialPort& p, const QByteArray&) {
        p.send(QByteArray(1, 2), 140);
        p.send("x", 140 + 10);
        p.send("y", 140 + 10 + 31);
    };
    EXPECT_EQ(elapsed([&] { EXPECT_EQ(c.Transact("T", reply, 50), -1); }), 140 + 10 + 30);
    EXPECT_EQ(reply, "x");
}

TEST_F(Framing, KeepAliveRunsAfterEveryExchange) {
    TCom& c = connectPlainBox();
    EXPECT_TRUE(c.keepAliveTimer().isActive());
    EXPECT_EQ(c.keepAliveTimer().interval(), 1000);
    c.keepAliveTimer().stop();
    c.Transact("X", 0);  // times out
    EXPECT_TRUE(c.keepAliveTimer().isActive());
    c.keepAliveTimer().stop();
    box.replies["@K"] = QByteArray(1, 0);
    c.Transact("K", 0);
    EXPECT_TRUE(c.keepAliveTimer().isActive());

    // A port that fails mid-exchange throws; the caller decides what happens next.
    port->failWrite = true;
    EXPECT_THROW(c.Transact("K", 0), PortError);
}

TEST_F(Framing, PromptLinesEndOnCarriageReturnOrPrompt) {
    TCom& c = connectPlainBox();
    port->onWrite = nullptr;
    QByteArray line;

    port->send(QByteArray("AB\r\nCD>") + '\0' + "\x01" "EF\r");
    EXPECT_EQ(c.ReadPromptLine(line), 0);
    EXPECT_EQ(line, "AB");
    EXPECT_EQ(c.ReadPromptLine(line), 3);  // the line feed is dropped
    EXPECT_EQ(line, "CD>");
    EXPECT_EQ(c.ReadPromptLine(line), 0);  // other control bytes too
    EXPECT_EQ(line, "EF");

    // '>' ends the line at once; the rest is the next line. Bytes from 0x7F upward are kept.
    port->send("a>b\r\r");
    EXPECT_EQ(c.ReadPromptLine(line), 2);
    EXPECT_EQ(line, "a>");
    EXPECT_EQ(c.ReadPromptLine(line), 0);
    EXPECT_EQ(line, "b");
    EXPECT_EQ(c.ReadPromptLine(line), 0);
    EXPECT_EQ(line, "");
    port->send(QByteArray("\x7F\xE4\r"));
    EXPECT_EQ(c.ReadPromptLine(line), 0);
    EXPECT_EQ(line, QByteArray("\x7F\xE4"));

    // Silence after "AB": -1 after one 150 ms gap, with what arrived kept.
    port->sendSpaced("AB", 0, 100);
    port->readWaits.clear();
    EXPECT_EQ(elapsed([&] { EXPECT_EQ(c.ReadPromptLine(line), -1); }), 100 + 150);
    EXPECT_EQ(line, "AB");
    EXPECT_EQ(port->readWaits, (std::vector<int>{150, 150, 150}));
}

TEST_F(Framing, SyncPromptGivesUpAfterAHundredAttempts) {
    TCom& c = connectPlainBox();
    // A box that answers every attempt with a text line but never with '>'.
    port->onWrite = [](FakeSerialPort& p, const QByteArray&) { p.send("ERROR\r\n"); };
    const qint64 spent = elapsed([&] { EXPECT_FALSE(c.SyncPrompt()); });
    EXPECT_EQ(port->writes.size(), 100);
    for (const QByteArray& w : port->writes) ASSERT_EQ(w, "QXAT\r");
    EXPECT_EQ(spent, 100 * 15);

    // The fifth attempt is answered, after some noise: four silent rounds of 15 ms.
    port->writes.clear();
    int attempts = 0;
    port->onWrite = [&](FakeSerialPort& p, const QByteArray&) {
        if (++attempts == 5) p.send(QByteArray("\x00junk\r\n>", 8), 5);
    };
    EXPECT_EQ(elapsed([&] { EXPECT_TRUE(c.SyncPrompt()); }), 4 * 15 + 5);
    EXPECT_EQ(port->writes.size(), 5);
}

TEST_F(Framing, KeepAliveToleratesOneMissAndDisconnectsOnTwo) {
    TCom& c = connectPlainBox();
    options.loadAtCon = false;
    const int toggles = view.toggles;

    box.answerKeepAlive = false;
    c.KeepAlive();
    EXPECT_EQ(c.MissCount, 1);
    EXPECT_TRUE(c.portOpen());
    EXPECT_EQ(port->writes.last(), "@*");
    box.answerKeepAlive = true;
    c.KeepAlive();
    EXPECT_EQ(c.MissCount, 0);
    EXPECT_EQ(view.toggles, toggles + 2);

    // An answer later than 30 ms is a miss and is then taken as the next tick's answer.
    port->onWrite = [](FakeSerialPort& p, const QByteArray&) { p.send("!", 40); };
    EXPECT_EQ(elapsed([&] { c.KeepAlive(); }), 30);
    EXPECT_EQ(c.MissCount, 1);
    port->onWrite = nullptr;
    c.clock().sleepMs(970);
    c.KeepAlive();
    EXPECT_EQ(c.MissCount, 0);

    // Two misses in a row: disconnected without a message.
    c.KeepAlive();
    c.KeepAlive();
    EXPECT_FALSE(c.portOpen());
    EXPECT_FALSE(c.keepAliveTimer().isActive());
    EXPECT_FALSE(view.lamp);
    EXPECT_FALSE(view.connected);
    EXPECT_EQ(view.pane, "");
    EXPECT_TRUE(options.portListEnabled);
    EXPECT_TRUE(host.errors.isEmpty());
    EXPECT_EQ(port->rts.back(), false);

    // A tick that was already queued finds nothing to do.
    c.KeepAlive();
    EXPECT_TRUE(host.errors.isEmpty());
}

TEST_F(Framing, KeepAlivePortFailureIsShownOnceAndTakesTheLinkDown) {
    TCom& c = connectPlainBox();
    port->failWrite = true;
    port->failRts = EIO;  // the device is gone: letting go of the line fails as well
    EXPECT_NO_THROW(c.KeepAlive());
    ASSERT_EQ(host.errors.size(), 1);
    EXPECT_EQ(host.errors[0], "WriteFile function failed (win error code: 5)");
    EXPECT_FALSE(c.portOpen());
    EXPECT_FALSE(c.keepAliveTimer().isActive());
    EXPECT_FALSE(view.connected);
    EXPECT_FALSE(c.linkReady());
}

TEST_F(Framing, ByteLevelOnAClosedPortIsAPortError) {
    TCom& c = make();
    QByteArray line;
    EXPECT_NO_THROW(c.SendText(""));
    try {
        c.ReadByte(1);
        ADD_FAILURE() << "no error";
    } catch (const PortError& e) {
        EXPECT_EQ(e.kind(), PortError::Read);
    }
    EXPECT_THROW(c.SendText("x"), PortError);
    EXPECT_THROW(c.Transact("K", 0), PortError);
    EXPECT_FALSE(c.keepAliveTimer().isActive());
}

}  // namespace
}  // namespace kelvano::test
