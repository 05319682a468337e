// What scripts read from the programs: the exit status, standard output and standard error of
// every refusal, failure and answer that needs no box, one row each.
#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>

#include "CliRun.h"

namespace {

QString data(const char* name) {
    return QStringLiteral(KELVANO_TEST_DATA "/") + QLatin1String(name);
}

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
    QFile notes(notALog);
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly) && notes.write("serial,result\n") > 0);
    notes.close();
    ASSERT_TRUE(QDir(dir.path()).mkdir("logs"));
    const QString noDatabase = notALog + " is not a KELVANO log (file is not a database*";
    const QString noFile = "The log " + folderLog + " can't be opened: *";
    const QString badCard = usage("--card takes a card type code of 'cards', not \"99\"");
    const QString fileOrCard =
        usage("compare needs either --port NAME (the card) or SLOT=FILE (a file)");
    const struct {
        const char* program;
        QStringList args;
        int code;
        QString out, err;  // err ending in '*': its start
    } rows[] = {
        {"kelvano-cli", {"--card", "99", "dump"}, 2, "", badCard},
        {"kelvano-cli",
         {"--card", "99", "convert", "--load", "1=" + pic, "--save", "1=x"},
         2,
         "",
         badCard},
        {"kelvano-cli", {"compare", "--card", "99", "1=" + pic}, 2, "", badCard},
        {"kelvano-cli", {"--port", "SIM", "--card", "99", "read"}, 2, "", badCard},
        {"kelvano-cli",
         {"--port", "SIM", "--card", "30", "read"},
         2,
         "",
         usage("no action handles card type 30 (see 'cards')")},
        {"kelvano-cli",
         {"--card", "10", "dump", "--load", "3=" + pic},
         2,
         "",
         usage("--load 3=" + pic + ": card type 10 has no slot 3")},
        {"kelvano-cli",
         {"--card", "13", "convert", "--load", "1=" + pic, "--save", "3=out.hex"},
         2,
         "",
         usage("--save 3=out.hex: card type 13 has no slot 3")},
        {"kelvano-cli",
         {"--card", "10", "compare", "3=" + pic},
         2,
         "",
         usage("compare 3=" + pic + ": card type 10 has no slot 3")},
        {"kelvano-cli",
         {"--card", "10", "--memories", "eeprom", "compare", "1=" + pic},
         2,
         "",
         usage("--memories eeprom leaves nothing of slot 1 to compare")},
        {"kelvano-cli",
         {"--card", "10", "--memories", "config,data", "--load", "1=" + pic, "compare", "1=" + pic},
         0,
         "Data Memory: no differences in 64 addresses\n"
         "Configuration: no differences in 5 addresses\nNo differences.\n",
         ""},
        {"kelvano-cli",
         {"--card", "10", "--memories", "data", "compare", "1=" + pic, "--diff-format"},
         1,
         "data 0000-0008 9 FFFFFFFFFFFFFFFFFF 4B454C56414E4F00A5\n",
         ""},
        {"kelvano-cli", {"compare"}, 2, "", fileOrCard},
        {"kelvano-cli", {"--port", "SIM", "compare", "1=" + pic}, 2, "", fileOrCard},
        {"kelvano-cli",
         {"compare", "4=" + pic},
         2,
         "",
         usage("compare takes one SLOT=FILE with SLOT 1, 2 or 3")},
        {"kelvano-cli",
         {"compare", "1=/nonexistent/x.hex"},
         1,
         "",
         "I/O-Error #2\nNo such file or directory\nFile: /nonexistent/x.hex\n"},
        {"kelvano-cli",
         {"convert", "--load", "1=a.hex"},
         2,
         "",
         usage("convert needs --save SLOT=FILE")},
        {"kelvano-cli",
         {"convert", "--save", "1=a.hex"},
         2,
         "",
         usage("convert needs at least one --load SLOT=FILE")},
        {"kelvano-cli",
         {"convert", "--load", "1=a.hex", "--save", "1=b", "--type", "srec"},
         2,
         "",
         usage("--type takes hex or bin, not \"srec\"")},
        {"kelvano-cli",
         {"dump", "--save", "1=a.hex"},
         2,
         "",
         usage("--save is not an option of dump")},
        {"kelvano-cli", {"info"}, 2, "", usage("info needs --port NAME")},
        {"kelvano-cli",
         {"log", "summary"},
         2,
         "",
         usage("log summary needs --log LOG (or a job file)")},
        {"kelvano-cli",
         {"log", "summary", "--log", noLog},
         1,
         "",
         "The log " + noLog + " can't be opened: there is no such file.\n"},
        // clang-format off
        {"kelvano-cli", {"log", "summary", "--log", notALog}, 1, "", noDatabase},
        {"kelvano-cli", {"log", "export", "--csv", "x.csv", "--log", notALog}, 1, "", noDatabase},
        {"kelvano-cli", {"log", "settle", "1000", "spent", "--log", notALog}, 1, "", noDatabase},
        {"kelvano-cli", {"log", "summary", "--log", folderLog}, 1, "", noFile},
        {"kelvano-cli", {"log", "export", "--json", "x.json", "--log", folderLog}, 1, "", noFile},
        {"kelvano-cli", {"log", "settle", "1000", "void", "--log", folderLog}, 1, "", noFile},
        // clang-format on
        {"kelvano-cli", {"-V"}, 0, version("kelvano-cli"), ""},
        {"kelvano-cli", {"--version"}, 0, version("kelvano-cli"), ""},
        {"kelvano-boxsim", {"-V"}, 0, version("kelvano-boxsim"), ""},
        {"kelvano-boxsim", {"--version"}, 0, version("kelvano-boxsim"), ""},
        {"kelvano", {"-V"}, 0, version("kelvano"), ""},
        {"kelvano", {"--version"}, 0, version("kelvano"), ""},
        {"kelvano", {"--help"}, 0, "Usage: kelvano [options]\n*", ""},
        {"kelvano", {"--bogus"}, 1, "", "kelvano: unknown option --bogus\n(see kelvano --help)\n"},
        {"kelvano", {"--port"}, 1, "", "kelvano: --port needs a NAME\n(see kelvano --help)\n"},
        {"kelvano", {"-platform", "offscreen", "--port=SIM", "-V"}, 0, version("kelvano"), ""},
    };
    auto matches = [](const QString& got, const QString& want) {
        return want.endsWith('*') ? got.startsWith(want.chopped(1)) : got == want;
    };
    for (const auto& r : rows) {
        SCOPED_TRACE((QLatin1String(r.program) + ' ' + r.args.join(' ')).toStdString());
        const CliRun run = runProgram(r.program, r.args, {}, kNoDisplay);
        EXPECT_EQ(run.code, r.code);
        EXPECT_TRUE(matches(run.out, r.out)) << run.out.toStdString();
        EXPECT_TRUE(matches(run.err, r.err)) << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(noLog));
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

// A box that gave its identity and then no answer: not connected, and said so.
TEST(CliStatuses, InfoOnABoxThatFellSilentAfterItsIdentity) {
    QProcess box;
    box.start(KELVANO_BIN_DIR "/kelvano-boxsim",
              {"--model", "serial", "--fault", "reply=STRAVINEX QX200\rBOX\rSN-1\r.,on=prompt,at=2",
               "--fault", "noanswer,on=prompt,at=3,times=0"});
    ASSERT_TRUE(box.waitForReadyRead(10000));
    const QString pty = QString::fromLocal8Bit(box.readLine()).trimmed();
    const CliRun info = cli({"--port", pty, "info"});
    EXPECT_EQ(info.code, 1);
    EXPECT_EQ(info.out, "");
    EXPECT_EQ(info.err, "kelvano-cli: the box identified itself but did not answer afterwards\n");
    box.terminate();
    box.waitForFinished(5000);
}

}  // namespace
