// The terminal's link is set up by the session, as the window's is: the store beside the
// program reaches the link and the simulated box, the settings' USB ids reach the USB driver,
// and every link has a simulated box of its own.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <vector>

#include "CliRun.h"
#include "base/Clock.h"
#include "base/MainView.h"
#include "cli/CliLink.h"
#include "cli/TerminalHost.h"
#include "cli/WaitReport.h"

namespace kelvano {
namespace {

// The link's timers need an application object for the whole run.
int qtArgc = 1;
char qtName[] = "test_cli";
char* qtArgv[] = {qtName, nullptr};
QCoreApplication qtApp(qtArgc, qtArgv);

TEST(CliLink, TheFilesBesideTheProgramReachTheSimulatedBoxAndTheUsbDriver) {
    QTemporaryDir program;
    writeFile(program, "kelvano.store",
              ImageStore::pack({{"PICLOAD", "\x11\x22\x33"}, {"QXUSB", "u"}}));
    writeFile(program, "kelvano.ini", "[Config]\r\nUsbIds=1209:4B56\r\n");
    TerminalHost host{true};
    VirtualClock clock;
    NullMainView view;
    Options options;
    CliArgs args;
    args.card = 13;
    for (const char* port : {"SIM", "USB", "/dev/ttyS0"}) {
        args.port = port;
        CliLink link(host, clock, view, options, args, program.path());
        EXPECT_EQ(link.simBox() != nullptr, args.port == "SIM") << port;
        EXPECT_TRUE(!link.simBox() ||
                    link.simBox()->loaderImages().value("PICLOAD") == "\x11\x22\x33");
        QByteArray image;
        EXPECT_TRUE(link.com().store().LoadImage("PICLOAD", image) && image == "\x11\x22\x33");
        const auto* usb = dynamic_cast<const LibusbBackend*>(link.usbBackend());
        EXPECT_EQ(usb != nullptr, args.port == "USB") << port;
        // The ids of the settings come on top of the built-in ones.
        EXPECT_TRUE(!usb || (usb->isKnown(0x1209, 0x4B56) && usb->isKnown(0x04B4, 0x8613)));
    }
    // Two links at once, as a production line runs them: each has a simulated box of its own,
    // and a second connect of one reaches the same box again, as a real box would be.
    Options secondOptions;
    args.port = "SIM";
    CliLink first(host, clock, view, options, args, program.path());
    args.card = 21;
    CliLink second(host, clock, view, secondOptions, args, program.path());
    EXPECT_EQ(second.simBox()->card().type(), 21);
    first.com().Connect();
    second.com().Connect();
    ASSERT_TRUE(first.com().linkReady() && second.com().linkReady());
    second.simBox()->removeCard();
    QByteArray reply;
    EXPECT_TRUE(first.com().Transact("K", reply, 0) == 1 && reply == "0");  // card still in
    EXPECT_TRUE(second.com().Transact("K", reply, 0) == 1 && reply == "6");
    const qsizetype exchanges = first.simBox()->trace().size();
    first.com().Disconnect();
    first.com().Connect();
    EXPECT_TRUE(first.com().linkReady());
    EXPECT_GT(first.simBox()->trace().size(), exchanges);
}

// A box gone silent late in a long read: its first unanswered exchange is given up after its
// own wait, not after a lead piled up by the writes before, and the action ends right after its
// retries (the closing "@M0"). Every card type, silent on its read's most frequent command.
TEST(CliLink, ASilentBoxIsNoticedWithinTheWaitOfItsFirstUnansweredExchange) {
    const struct {
        std::vector<int> cards;
        const char* memories;
        const char* silent;  // the command family of --fault on=
        int at;              // the first exchange of that family left unanswered
        int waitMs, attempts;
        const char* message;
    } rows[] = {
        // clang-format off
        {{10}, "eeprom", "G", 1500, 30, 1, "Error while reading EEPROM memory"},
        {{11, 12}, "prog", "R04", 1500, 30, 1, "Error while reading program memory"},
        {{13, 14}, "eeprom", "g", 1500, 30, 1, "Error while reading EEPROM memory"},
        {{15, 22}, "eeprom", "Q", 1500, 150, 6, "Error reading EEPROM Memory"},
        {{20, 21, 24, 25}, "prog", "Y28", 1500, 30, 1, "Error while reading program memory"},
        {{23}, "prog", "Y28", 900, 30, 1, "Error while reading program memory"},
        {{26}, "prog", "Y28", 3000, 30, 1, "Error while reading program memory"},
        {{31}, "prog", "Y28", 6000, 30, 1, "Error while reading program memory"},
        // clang-format on
    };
    constexpr qint64 kMarginMs = 120;  // a loaded machine's scheduling, not a lead of seconds
    QTemporaryDir dir;
    for (const auto& row : rows)
        for (const int card : row.cards) {
            SCOPED_TRACE(card);
            const Boxsim box(
                {"--card", QString::number(card), "--fault",
                 QStringLiteral("noanswer,on=%1,at=%2,times=0").arg(row.silent).arg(row.at)});
            const QString transcript = dir.filePath(QStringLiteral("t%1.txt").arg(card));
            const CliRun r =
                cli({"--port", box.pty, "--card", QString::number(card), "--memories", row.memories,
                     "--no-wait", "--yes", "--transcript", transcript, "--verbose", "read"});
            EXPECT_EQ(r.code, 1);
            EXPECT_TRUE(r.err.contains(QStringLiteral("\n%1\n").arg(row.message)))
                << r.err.toStdString();
            qint64 sent = -1, firstTimeout = -1, closing = -1, lastTx = -1;
            QString lastCommand, unanswered;
            for (const QString& line : QString::fromLatin1(readAll(transcript)).split('\n')) {
                const QStringList f = line.split(' ', Qt::SkipEmptyParts);
                if (f.size() < 2) continue;
                if (f[1] == "tx") lastTx = f[0].toLongLong(), lastCommand = f.last();
                if (f[1] == "timeout" && firstTimeout < 0) {
                    firstTimeout = f[0].toLongLong(), sent = lastTx, unanswered = lastCommand;
                    EXPECT_EQ(f.value(2), QString::number(row.waitMs));
                }
                if (firstTimeout >= 0 && f[1] == "tx" && f.last() == "@M0" && closing < 0)
                    closing = f[0].toLongLong();
            }
            ASSERT_GE(sent, 0);
            EXPECT_TRUE(unanswered.startsWith(QStringLiteral("@") + row.silent))
                << unanswered.toStdString();
            EXPECT_GE(firstTimeout - sent, row.waitMs - 1);
            EXPECT_LE(firstTimeout - sent, row.waitMs + kMarginMs);
            // --verbose tells the connect, the missing reply at once and the waits at the end.
            EXPECT_TRUE(r.err.contains("\nConnecting to " + box.pty + "\n"));
            EXPECT_TRUE(r.err.contains(QStringLiteral("\nNo reply to %1 within its %2 ms wait\n")
                                           .arg(unanswered.mid(1))
                                           .arg(row.waitMs)));
            EXPECT_TRUE(r.err.contains(QStringLiteral(" ms, %1 unanswered\n").arg(row.attempts)));
            ASSERT_GE(closing, 0);
            EXPECT_LE(closing - sent, qint64(row.attempts) * row.waitMs + kMarginMs);
        }
}

// --wait-factor makes every wait that many times as long, and --verbose names the longer waits:
// the first three "G" (an external EEPROM byte, waited for 30 ms) are answered 100 ms late.
TEST(CliLink, TheWaitFactorTakesAnAnswerThatComesAfterTheBoxsOwnWait) {
    for (const auto& [factor, code, told] :
         {std::tuple{
              "1", 1,
              "\nNo reply to G0000 within its 30 ms wait\nError while reading EEPROM memory\n"},
          std::tuple{"10", 0, "\n  G: 2048 exchanges, wait 300 ms, slowest reply 1"}}) {
        const Boxsim box({"--card", "10", "--fault", "late=100,on=G,at=1,times=3"});
        const CliRun r = cli({"--port", box.pty, "--card", "10", "--memories", "eeprom",
                              "--no-wait", "--yes", "--verbose", "--wait-factor", factor, "read"});
        EXPECT_EQ(r.code, code) << factor;
        EXPECT_TRUE(r.err.contains(told)) << r.err.toStdString();
    }
}

// --verbose tells a missing reply and one past half its wait at once (slow ones up to a limit),
// then per command the exchanges, the waits, the slowest reply and the missing ones.
TEST(CliLink, TheWaitReportTellsSlowAndMissingRepliesAndSumsUpEachCommand) {
    WaitReport waits;
    const struct {
        const char* command;
        int waitMs;
        qint64 replyMs;
        QStringList told;
    } exchanges[] = {
        {"Y2805DB00", 30, 15, {}},
        {"Y2805DB00", 30, 16, {"Slow reply to Y2805DB00: 16 ms of its 30 ms wait"}},
        {"YAC530000", 600, 2, {}},
        {"D0000", 60, 4, {}},
        {"D0010", 30, 3, {}},
        {"Y20000000", 30, -1, {"No reply to Y20000000 within its 30 ms wait"}},
        {"M0", 1500, 1400, {"Slow reply to M0: 1400 ms of its 1500 ms wait"}},
    };
    for (const auto& e : exchanges)
        EXPECT_EQ(waits.add({e.command, e.waitMs, e.replyMs}), e.told) << e.command;
    EXPECT_EQ(waits.summary(),
              (QStringList{"Waits for the box's replies:",
                           "  Y28: 2 exchanges, wait 30 ms, slowest reply 16 ms",
                           "  YAC: 1 exchange, wait 600 ms, slowest reply 2 ms",
                           "  D: 2 exchanges, wait 30-60 ms, slowest reply 4 ms",
                           "  Y20: 1 exchange, wait 30 ms, 1 unanswered",
                           "  M: 1 exchange, wait 1500 ms, slowest reply 1400 ms"}));
    // Slow replies are told up to the limit, then once that there are more; missing ones always.
    for (int i = 2; i < WaitReport::kMaxLines; ++i)
        EXPECT_EQ(waits.add({"G0000", 30, 29}).size(), 1);
    EXPECT_EQ(waits.add({"G0000", 30, 29}),
              QStringList{"(more slow replies: see the waits at the end)"});
    EXPECT_TRUE(waits.add({"G0000", 30, 29}).isEmpty());
    EXPECT_EQ(waits.add({"G0001", 30, -1}), QStringList{"No reply to G0001 within its 30 ms wait"});
    EXPECT_TRUE(WaitReport().summary().isEmpty());
}

}  // namespace
}  // namespace kelvano
