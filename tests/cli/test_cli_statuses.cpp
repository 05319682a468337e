// What scripts read from the programs: the exit status, standard output and standard error of
// every refusal, failure and answer, one row each.
#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>

#include "CliRun.h"

namespace {

QString usage(const QString& message) {
    return "kelvano-cli: " + message + "\n(see kelvano-cli --help)\n";
}

QString version(const char* program) {
    return QLatin1String(program) +
           QStringLiteral(
               " 2.5.0.2\nFree software under the GNU General Public License, version 3 or later "
               "(GPL-3.0-or-later), with no warranty.\n");
}

// Without any display: the window program answers these on a text console.
const QStringList kNoDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

TEST(CliStatuses, EveryCommandsStatusAndMessages) {
    QTemporaryDir dir;
    const QString pic = data("pic16f84_config_id_eeprom.hex");
    const QString noLog = dir.filePath("run.db");  // a report never makes an empty log
    // Logs that exist but cannot be opened: a text file, a folder.
    const QString notALog = dir.filePath("notes.txt"), folderLog = dir.filePath("logs");
    writeFile(dir, "notes.txt", "serial,result\n");
    ASSERT_TRUE(QDir(dir.path()).mkdir("logs"));
    writeFile(dir, "bad.hex", "; comment\n:0100000041BF\n");
    const QString noDatabase = notALog + " is not a KELVANO log (file is not a database*";
    const QString noFile = "The log " + folderLog + " can't be opened: *";
    const QString kCard21 = "Card type 21 (AVR-Jupiter 2 (AT90S8535 + 24C64)), from --card\n";
    const QString cli = "kelvano-cli", win = "kelvano", sim = "kelvano-boxsim";
    // A box that gave its identity and then no answer.
    const Boxsim silent({"--model", "serial", "--fault",
                         "reply=STRAVINEX QX200\rBOX\rSN-1\r.,on=prompt,at=2", "--fault",
                         "noanswer,on=prompt,at=3,times=0"});
    // Copies of the program in folders of their own keep their settings beside them.
    const QString bare = dir.filePath("bare/kelvano-cli"), set = dir.filePath("set/kelvano-cli");
    for (const QString& copy : {bare, set})
        ASSERT_TRUE(QDir().mkpath(copy.section('/', 0, -2)) &&
                    QFile::copy(KELVANO_BIN_DIR "/kelvano-cli", copy));
    writeFile(dir, "set/kelvano.ini", "[Config]\r\nDevice=21\r\n");
    // Arguments split at blanks; $PIC is a sample file, $DATA their folder, $DIR a temporary one,
    // $BOX the silent box.
    // clang-format off
    const struct {
        QString program, args;
        int code;
        QString out, err;  // err ending in '*': its start
    } rows[] = {
        {cli, "compare --card 99 1=$PIC", 2, "", usage("--card takes a card type code of 'cards', not \"99\"")},
        {cli, "--port SIM --card 30 read", 2, "", usage("no action handles card type 30 (see 'cards')")},
        {cli, "--card 10 dump --load 3=$PIC", 2, "", usage("--load 3=$PIC: card type 10 has no slot 3")},
        {cli, "--card 13 convert --load 1=$PIC --save 3=out.hex", 2, "", usage("--save 3=out.hex: card type 13 has no slot 3")},
        {cli, "--card 10 compare 3=$PIC", 2, "", usage("compare 3=$PIC: card type 10 has no slot 3")},
        {cli, "--card 10 --memories eeprom compare 1=$PIC", 2, "", usage("--memories eeprom leaves nothing of slot 1 to compare")},
        {cli, "--card 10 --memories config,data --load 1=$PIC compare 1=$PIC", 0,
         "Data Memory: no differences in 64 addresses\nConfiguration: no differences in 5 addresses\nNo differences.\n", ""},
        {cli, "--card 10 --memories data compare 1=$PIC --diff-format", 1, "data 0000-0008 9 FFFFFFFFFFFFFFFFFF 4B454C56414E4F00A5\n", ""},
        // The checksums of the binary files the slots save as (gzip -lv tells the same CRC-32).
        {cli, "--card 24 --load 1=$DATA/avr8515_flash_eeprom.hex --load 2=$DATA/avr8515_flash_eeprom.eep.hex checksum", 0,
         "flash              8192 bytes  CRC-32 EC8563EF  sum DC3C\n"
         "internal EEPROM     512 bytes  CRC-32 8F0CAA08  sum F97E\n"
         "external EEPROM   16384 bytes  CRC-32 690B37D3  sum C000\n", ""},
        // --json: one document on standard output, the text on standard error.
        {cli, "--card 13 checksum --json", 0,
         R"({"card":13,"memories":[{"bytes":2048,"crc32":"B2729C46","memory":"flash","sum":"F800"},)"
         R"({"bytes":64,"crc32":"0F6187BA","memory":"internal EEPROM","sum":"3FC0"},)"
         R"({"bytes":8192,"crc32":"B4293435","memory":"external EEPROM","sum":"E000"}],"status":0})" "\n",
         "flash              2048 bytes  CRC-32 B2729C46  sum F800\n*"},
        {cli, "compare", 2, "", usage("compare needs either --port NAME (the card) or SLOT=FILE (a file)")},
        {cli, "--port SIM compare 1=$PIC", 2, "", usage("compare needs either --port NAME (the card) or SLOT=FILE (a file)")},
        {cli, "compare 4=$PIC", 2, "", usage("compare takes one SLOT=FILE with SLOT 1, 2 or 3")},
        {cli, "compare 1=/nonexistent/x.hex", 1, "", "I/O-Error #2\nNo such file or directory\nFile: /nonexistent/x.hex\n"},
        // A card that cannot be read is not a difference.
        {cli, "--card 10 --port /dev/kelvano-no-such-port compare", 4, "", "Can't connect to Programmer*"},
        // A file that cannot be read or written fails the command (the window counts such a
        // save as done); what could not be read is not saved.
        {cli, "--card 26 dump --load 3=$DIR/bad.hex", 1, "", "File: $DIR/bad.hex\n\nError in Hexfile, Line #2\n:0100000041BF\n(Wrong checksum)\n"},
        {cli, "--card 10 convert --load 1=$DIR/missing.bin --save 1=$DIR/x.hex", 1, "", "I/O-Error #2\nNo such file or directory\n*"},
        {cli, "--card 10 convert --load 1=$PIC --save 1=$DIR/no/folder/out.hex", 1, "", "I/O-Error #2\n*"},
        {cli, "convert --load 1=a.hex", 2, "", usage("convert needs --save SLOT=FILE")},
        {cli, "convert --save 1=a.hex", 2, "", usage("convert needs at least one --load SLOT=FILE")},
        {cli, "convert --load 1=a.hex --save 1=b --type s28", 2, "", usage("--type takes hex, bin or srec, not \"s28\"")},
        {cli, "--card 10 convert --load 1=$PIC --save 1=$DIR/out --type srec", 0, "", ""},
        {cli, "raed --port SIM", 2, "", usage("unknown command raed (did you mean read?)")},
        {cli, "--card 21 --port SIM --memories prog,dta read", 2, "", kCard21 + usage("unknown memory \"dta\" in --memories (did you mean data?): it takes a comma list of prog, data, config and eeprom")},
        {cli, "--card 21 --port SIM --yes=maybe read", 2, "", usage("--yes takes no value, or yes, no, true, false, on, off, 1 or 0, not \"maybe\"")},
        {cli, "info", 2, "", usage("info needs --port NAME")},
        {cli, "--port SIM info", 0, "Box: STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001\nFirmware: not checked (no QXBASE firmware in the image store)\n*", ""},
        {cli, "--port $BOX info", 1, "", "kelvano-cli: the box identified itself but did not answer afterwards\n"},
        {cli, "--port /dev/kelvano-no-such-port info", 1, "", "Can't connect to Programmer\nErrorcode: Unable to open com port (win error code: 2): No such file or directory on /dev/kelvano-no-such-port\n*"},
        // Without --card an action runs as the settings file's card type and says so; without a
        // settings file it needs --card.
        {bare, "--port SIM --no-wait --yes --memories data read", 2, "", usage("read needs --card CODE: there is no settings file ($DIR/bare/kelvano.ini) to take the card type from (see 'cards')")},
        {set, "--port SIM --no-wait --yes --memories data read", 0, "", "Card type 21 (AVR-Jupiter 2 (AT90S8535 + 24C64)), from the settings file $DIR/set/kelvano.ini\n*"},
        // program names what it writes, blank slots included, before it asks.
        {cli, "--port SIM --card 20 --no-wait --memories data,eeprom program", 0, "",
         "Card type 20 (AVR-Fun 2 (AT90S8515 + 24C64)), from --card\nWrites program memory (slot 1 not loaded: FF), "
         "data memory (slot 2 not loaded: FF), configuration, external EEPROM (slot 3 not loaded: FF) (--memories narrows this)\n*"},
        // --json on an action: the memories done and not done with the reason, and the time
        // taken; without a terminal a warning is shown and answered Abort.
        {cli, "--port SIM --card 21 --no-wait --json --yes=no read", 1,
         R"({"card":21,"command":"read","done":["config"],"errors":[],"notDone":[)"
         R"({"memory":"prog","reason":"not reached: a question was answered Abort, or the action was interrupted"},)"
         R"({"memory":"data","reason":"not reached: a question was answered Abort, or the action was interrupted"},)"
         R"({"memory":"eeprom","reason":"not reached: a question was answered Abort, or the action was interrupted"}],)"
         R"("notices":[],"saved":[],"seconds":T,"status":1})" "\n",
         kCard21 + "STRAVINEX QXBASE * KELVANO BOX SIMULATOR *  Serial: SIM-000001\nREADING DEVICE: IDENTIFY\n"
         "Warning!: Contents of controller will be lost\n-> Abort (no terminal to ask; use --yes to answer OK)\n"},
        // Read, but the slot asked for was not: partial.
        {cli, "--card 21 --port SIM --no-wait --yes --memories prog read --save 2=$DIR/d.hex", 3, "", kCard21 + "*"},
        {cli, "log summary", 2, "", usage("log summary needs --log LOG (or a job file)")},
        {cli, "log summary --log " + noLog, 1, "", "The log " + noLog + " can't be opened: there is no such file.\n"},
        {cli, "log summary --log " + notALog, 1, "", noDatabase},
        {cli, "log export --csv x.csv --log " + notALog, 1, "", noDatabase},
        {cli, "log settle 1000 spent --log " + notALog, 1, "", noDatabase},
        {cli, "log summary --log " + folderLog, 1, "", noFile},
        {cli, "log export --json x.json --log " + folderLog, 1, "", noFile},
        {cli, "log settle 1000 void --log " + folderLog, 1, "", noFile},
        {cli, "-V", 0, version("kelvano-cli"), ""},
        {cli, "--version", 0, version("kelvano-cli"), ""},
        {sim, "-V", 0, version("kelvano-boxsim"), ""},
        {sim, "--version", 0, version("kelvano-boxsim"), ""},
        {win, "--version", 0, version("kelvano"), ""},
        {win, "--help", 0, "Usage: kelvano [options]\n*", ""},
        {win, "--bogus", 1, "", "kelvano: unknown option --bogus\n(see kelvano --help)\n"},
        {win, "--port", 1, "", "kelvano: --port needs a NAME\n(see kelvano --help)\n"},
        {win, "-platform offscreen --port=SIM -V", 0, version("kelvano"), ""},
    };
    // clang-format on
    auto expand = [&](QString s) {
        return s.replace("$PIC", pic)
            .replace("$DATA", KELVANO_TEST_DATA)
            .replace("$DIR", dir.path())
            .replace("$BOX", silent.pty);
    };
    auto matches = [&](QString got, const QString& pattern) {
        got.replace(QRegularExpression(R"("seconds":[0-9.]+)"), R"("seconds":T)");  // time taken
        const QString want = expand(pattern);
        return want.endsWith('*') ? got.startsWith(want.chopped(1)) : got == want;
    };
    for (const auto& r : rows) {
        SCOPED_TRACE((r.program + ' ' + r.args).toStdString());
        const CliRun run = runProgram(r.program, expand(r.args).split(' '), {}, kNoDisplay);
        EXPECT_EQ(run.code, r.code);
        EXPECT_TRUE(matches(run.out, r.out)) << run.out.toStdString();
        EXPECT_TRUE(matches(run.err, r.err)) << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(noLog) || QFile::exists(dir.filePath("x.hex")));
    EXPECT_TRUE(readAll(dir.filePath("out.s19")).startsWith("S0"));
}

// The exit status table of the help is the one of the manual page and the README, row by row.
TEST(CliStatuses, ExitStatusTableIsTheSameInHelpManualAndReadme) {
    const QString help = cli({"cards", "--help"}).out;
    const QString man =
        QString::fromUtf8(readAll(KELVANO_TEST_DATA "/../../packaging/man/kelvano-cli.1"));
    const QString readme = QString::fromUtf8(readAll(KELVANO_TEST_DATA "/../../README.md"));
    const QStringList rows =
        help.section("Exit status:\n", 1).trimmed().split(QRegularExpression("\n *"));
    EXPECT_EQ(rows.value(0), "0    done; compare: nothing differs");
    EXPECT_EQ(rows.value(4), "4    compare: the card could not be read (a failed read, no box)");
    EXPECT_EQ(rows.size(), 6);
    for (const QString& row : rows) {
        const QString status = row.section(' ', 0, 0), text = row.section(' ', 1).trimmed();
        EXPECT_TRUE(readme.contains("| " + status + " | " + text + " |")) << row.toStdString();
        EXPECT_TRUE(man.contains(".B " + status + "\n" + QString(text).replace("-", "\\-")))
            << row.toStdString();
    }
}

// A full disk fails the command; a reader that stops early ends it without a word.
TEST(CliStatuses, OutputThatCannotBeWrittenFailsTheCommand) {
    for (const QStringList& args :
         {QStringList{"cards"}, QStringList{"--card", "26", "dump"}, QStringList{"--version"}}) {
        const CliRun full = runProgram("kelvano-cli", args, "/dev/full");
        EXPECT_EQ(full.code, 1) << args.join(' ').toStdString();
        EXPECT_EQ(full.err,
                  "kelvano-cli: the standard output could not be written: No space left on "
                  "device\n");
    }
    QProcess shell;
    shell.start("bash", {"-c", "\"$0\" --card 26 dump | head -n 1; echo \"${PIPESTATUS[0]}\"",
                         KELVANO_BIN_DIR "/kelvano-cli"});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.readAllStandardOutput(), "[FLASH]\n141\n");  // ended by SIGPIPE
    EXPECT_EQ(shell.readAllStandardError(), "");
}

}  // namespace
