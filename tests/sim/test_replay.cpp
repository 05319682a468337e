// The replaying box in process: the transcript, the answers, the program's first departure.
#include <gtest/gtest.h>

#include "sim/ReplayBox.h"
#include "sim/ReplayScript.h"

using namespace kelvano;

// A connect and one frame with a keep-alive between; the "K" answer came after a 60 ms wait.
const QByteArray kTranscript =
    "# kelvano-transcript 1\n"            // 1
    "# program: kelvano-cli 2.5.0.2\n"    // 2
    "# card: 22\n"                        // 3
    "     0 open /dev/ttyUSB0 115200\n"   // 4
    "     0 purge\n"                      // 5
    "     1 tx 51 58 41 54 0D | QXAT.\n"  // 6
    "    16 timeout 15\n"                 // 7
    "    16 tx 51 58 41 54 0D | QXAT.\n"  // 8
    "    17 rx 0D 0A 3E | ..>\n"          // 9
    "    20 rts 1\n"                      // 10
    "  1020 tx 40 2A | @*\n"              // 11
    "  1021 rx 21 | !\n"                  // 12
    "  1500 purge\n"                      // 13
    "  1500 tx 40 4B | @K\n"              // 14
    "  1501 rx 01 | .\n"                  // 15
    "  1531 timeout 30\n"                 // 16
    "  1561 rx 36 | 6\n"                  // 17
    "# result: 1\n";                      // 18

static QByteArray played(const QList<SimLine::Output>& out) {
    QByteArray bytes;
    for (const auto& o : out) bytes += o.bytes;
    return bytes;
}

TEST(ReplayScript, RefusesWhatIsNotATranscriptNamingTheLine) {
    const std::pair<QByteArray, const char*> cases[] = {
        {"0 tx 40\n", "line 1: not a transcript (no \"# kelvano-transcript 1\")"},
        {"# kelvano-transcript 1\n0 tx 4G\n",
         "line 2: tx needs bytes as two hexadecimal digits each"},
        {"# kelvano-transcript 1\n\n5 rx\n",
         "line 3: rx needs bytes as two hexadecimal digits each"},
        {"# kelvano-transcript 1\n0 beep 1\n", "line 2: unknown event \"beep\""},
        {"# kelvano-transcript 1\ntx 40 4B\n", "line 2: expected \"<ms> <event> ...\""},
        // Only the text part of a line: nothing before the bar.
        {"# kelvano-transcript 1\n  | QXAT.\n", "line 2: expected \"<ms> <event> ...\""},
        {"# kelvano-transcript 1\n0 timeout soon\n",
         "line 2: timeout needs the milliseconds waited"},
    };
    for (const auto& [text, message] : cases) {
        QString error;
        EXPECT_FALSE(ReplayScript::parse(text, &error)) << message;
        EXPECT_EQ(error, message);
    }
}

// Writes and what is played: a repeated "QXAT" (the '>' was late) is answered once, a recorded
// keep-alive not sent is passed over, one not recorded is answered as a live box would.
TEST(ReplayBox, AnswersAsRecordedWhateverTheChunksRepeatsAndKeepAlives) {
    const QList<std::pair<QByteArray, QByteArray>> walks[] = {
        {{"QXAT\r", ""}, {"QX", ""}, {"AT\r@", "\r\n>"}, {"*", "!"}, {"@K", "\x01\x36"}},
        {{"QXAT\r", ""}, {"QXAT\r", "\r\n>"}, {"QXAT\r", ""}, {"@K", "\x01\x36"}, {"@*@*", "!!"}}};
    for (const auto& walk : walks) {
        ReplayBox box(*ReplayScript::parse(kTranscript, nullptr));
        for (const auto& [write, answer] : walk) {
            const auto out = box.receiveSerial(write);
            EXPECT_EQ(played(out), answer) << write.constData();
            // The late byte stays late.
            EXPECT_TRUE(write != "@K" || (out.size() == 2 && out[1].delayMs == 42));
        }
        EXPECT_TRUE(box.finished() && box.report().isEmpty() && !box.failed());
    }
}

TEST(ReplayBox, ReportsTheFirstDepartureWithItsLine) {
    for (const auto& [writes, report] :
         {std::pair{QByteArrayList{"QXAT\r", "QXAT\r", "@L"},
                    "line 14: the program sent \"@L\" (40 4C) where the transcript has \"@K\" "
                    "(40 4B)"},
          {QByteArrayList{"QXAT!"},
           "line 6: the program sent \"QXAT!\" (51 58 41 54 21) where the transcript has "
           "\"QXAT.\" (51 58 41 54 0D)"},
          {QByteArrayList{"QXAT\r", "QXAT\r", "@K", "@M0"},
           "line 18: the program sent \"@M0\" (40 4D 30) after the end of the transcript"}}) {
        ReplayBox box(*ReplayScript::parse(kTranscript, nullptr));
        for (const QByteArray& w : writes) box.receiveSerial(w);
        EXPECT_TRUE(box.failed());
        EXPECT_EQ(box.report(), report);
        EXPECT_EQ(box.departureLine(), box.report().section(' ', 1, 1).chopped(1).toInt());
        EXPECT_EQ(played(box.receiveSerial("@K")), "");  // silent from the departure on
    }
    ReplayBox stopped(*ReplayScript::parse(kTranscript, nullptr));
    for (const char* w : {"QXAT\r", "QXAT\r"}) stopped.receiveSerial(w);
    EXPECT_FALSE(stopped.finished() || stopped.failed());
    EXPECT_EQ(stopped.report(),
              "line 14: the program stopped sending; the transcript has \"@K\" (40 4B) next");
}
