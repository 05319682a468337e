#include <gtest/gtest.h>

#include "device/Compare.h"

using namespace kelvano;

TEST(CompareRuns, ChangesInEveryMemoryKindMaskedValuesAndALengthDifference) {
    using Changes = std::vector<std::pair<int, uint16_t>>;  // address, value on the found side
    using Runs = std::vector<std::pair<int, int>>;          // first, count
    // clang-format off
    const std::tuple<const char*, uint16_t, int, Changes, Runs> cases[] = {
        // PIC words: 14 bits; 0xFFFF equals 0x3FFF there, 0x3FFE does not.
        {"pic", 0x3FFF, 1024, {{0, 0x0000}, {2, 0x1234}, {1023, 0x2000}, {5, 0xFFFF}},
         {{0, 1}, {2, 1}, {1023, 1}}},
        {"pic adjacent", 0x3FFF, 1024, {{8, 0x3FFE}, {9, 0x0001}, {10, 0x0002}}, {{8, 3}}},
        // AVR words: all 16 bits, so 0xBFFF differs from the blank 0xFFFF.
        {"avr at end", 0xFFFF, 4096, {{4094, 0xBFFF}, {4095, 0x7FFF}}, {{4094, 2}}},
        {"avr gap", 0xFFFF, 4096, {{100, 0}, {102, 0}, {103, 0x0102}}, {{100, 1}, {102, 2}}},
        // Bytes: the low 8 bits; 0x1241 equals 0x41.
        {"bytes scattered", 0xFF, 64, {{0, 0x00}, {63, 0x7F}, {31, 0x1FF}}, {{0, 1}, {63, 1}}},
        {"row", 0xFF, 65536, {{15, 1}, {16, 2}, {17, 3}, {65535, 0}}, {{15, 3}, {65535, 1}}},
    };
    // clang-format on
    for (const auto& [what, mask, length, changes, wantRuns] : cases) {
        SCOPED_TRACE(what);
        TBufArray expected;
        ResizeFill(expected, length - 1, mask);  // blank memory
        TBufArray found = expected;
        for (const auto& [a, v] : changes) found[a] = v;
        const MemoryDiff m = diffMemory("k", "Memory", 1, 4, expected, found, mask);
        std::vector<std::pair<int, int>> runs;
        int total = 0;
        for (const DiffRun& run : m.runs) {
            runs.emplace_back(run.first, run.count());
            total += run.count();
        }
        EXPECT_EQ(runs, wantRuns);
        EXPECT_EQ(m.differences(), total);
        EXPECT_EQ(m.elements, length);
    }

    const MemoryDiff m = diffMemory("flash", "Program Memory", 1, 4, {0x3FFF, 0x1234, 0x0041},
                                    {0xFFFF, 0x1235}, 0x3FFF);
    ASSERT_EQ(m.runs.size(), 1u);
    EXPECT_EQ(m.runs[0].first, 1);
    EXPECT_EQ(m.runs[0].expected, (std::vector<uint16_t>{0x1234, 0x0041}));
    // The missing element shows as the complement of the other side.
    EXPECT_EQ(m.runs[0].found, (std::vector<uint16_t>{0x1235, 0x3FBE}));
    EXPECT_EQ(m.runAt(2), 0);
    EXPECT_EQ(m.runAt(0), -1);
}

// The text shows at most 16 values of a run; the script lines show them all.
TEST(CompareReport, TextAndScriptLinesForTwoMemoriesAndASkippedOne) {
    TDevices expected, found;
    expected.DeviceId = found.DeviceId = 20;  // AT90S8515 + 24C64
    expected.ApplyBuffers(nullptr, false);
    found.ApplyBuffers(nullptr, false);
    found.ProgBuf[0x10] = 0x1234;
    found.ProgBuf[0x11] = 0xC00F;
    for (int i = 0; i < 40; ++i) found.DataBuf[i] = 0x00;
    found.DataBuf[0x1FF] = 0x00;
    CompareReport r;
    diffBuffers(r, expected, found, 1 | 2);
    r.memories.push_back(
        skippedMemory("eeprom", "EEPROM Memory", 3, "not agreed to install the loader"));

    EXPECT_FALSE(r.identical());
    EXPECT_EQ(r.memory(2)->differences(), 41);
    EXPECT_EQ(r.text(), QString("Program Memory: 2 differences in 1 run\n"
                                "  0010-0011  expected FFFF FFFF\n"
                                "             found    1234 C00F\n"
                                "Data Memory: 41 differences in 2 runs\n"
                                "  0000-0027  expected %1... (24 more)\n"
                                "             found    %2... (24 more)\n"
                                "  01FF       expected FF\n"
                                "             found    00\n"
                                "EEPROM Memory: not compared (not agreed to install the loader)\n"
                                "43 differences in all.\n")
                            .arg(QString("FF ").repeated(16), QString("00 ").repeated(16)));
    EXPECT_EQ(r.diffLines(), QString("flash 0010-0011 2 FFFFFFFF 1234C00F\n"
                                     "data 0000-0027 40 %1 %2\n"
                                     "data 01FF-01FF 1 FF 00\n"
                                     "skipped eeprom\n")
                                 .arg(QString(80, 'F'), QString(80, '0')));
}
