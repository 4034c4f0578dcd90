// zbeacon-cli run as a process against the simulated beacon on a pseudo-terminal: what the beacon
// stored and received, the exit status and the output.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "tools/sim/BeaconSimulator.h"

namespace {

constexpr int kTimeoutMs = 60000;

class Cli {
public:
    explicit Cli(QStringList arguments) {
        process_.setProgram(QStringLiteral(ZBEACON_CLI_PATH));
        process_.setArguments(arguments);
        process_.start();
    }
    ~Cli() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    // Waits until the error stream holds `text`.
    bool WaitForMessage(const QString& text) {
        return QTest::qWaitFor([&] { return Err().contains(text); }, kTimeoutMs);
    }
    // Waits for the end; the exit status, or -1 when it did not end normally.
    int Finish() {
        if (!QTest::qWaitFor([&] { return process_.state() == QProcess::NotRunning; }, kTimeoutMs)) return -2;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QString Out() {
        out_ += QString::fromLatin1(process_.readAllStandardOutput());
        return out_;
    }
    QString Err() {
        err_ += QString::fromLatin1(process_.readAllStandardError());
        return err_;
    }
    qint64 Pid() const { return process_.processId(); }

private:
    QProcess process_;
    QString out_, err_;
};

class CliBeacon : public ::testing::Test {
protected:
    void Begin(zbsim::BeaconOptions options) {
        sim = std::make_unique<zbsim::BeaconSimulator>(std::move(options));
        std::string error;
        ASSERT_TRUE(sim->Start(&error)) << error;
        port = QString::fromStdString(sim->DevicePath());
    }
    QString File(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }
    static QByteArray Contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    // Runs one operation: the beacon is switched on once the tool has asked for it. Without --settings
    // the test's own settings file is named, so that the backups a Program keeps stay in the test's folder.
    int Run(QStringList arguments, QString* out = nullptr, QString* err = nullptr) {
        arguments << QStringLiteral("--port") << port << QStringLiteral("--timeout") << QStringLiteral("30");
        if (!arguments.contains(QStringLiteral("--settings")))
            arguments << QStringLiteral("--settings") << dir.filePath(QStringLiteral("zbeacon.ini"));
        Cli cli(arguments);
        if (!cli.WaitForMessage(QStringLiteral("Check jumper. Turn beacon off and then on."))) return -3;
        const size_t before = sim->Received().size();
        sim->SwitchOn();
        const int status = cli.Finish();
        if (out) *out = cli.Out();
        if (err) *err = cli.Err();
        // Every run here ends with the beacon running; its last answer may still be on its way.
        if (!QTest::qWaitFor([&] { return sim->State() == "Beaconing"; }, kTimeoutMs)) return -4;
        received = sim->Received().substr(before);
        return status;
    }

    QTemporaryDir dir;
    std::unique_ptr<zbsim::BeaconSimulator> sim;
    QString port;
    std::string received;  // what the beacon received during the last Run
};

}  // namespace

// Read (saved to a file, with a transcript), Program and Verify of a normal beacon. Each command ends
// once its dialogue is complete, without waiting for the time-out.
TEST_F(CliBeacon, NormalBeaconReadProgramVerify) {
    Begin({});
    QString out, err;
    const QString saved = dir.filePath(QStringLiteral("read.txt"));
    const QString transcript = dir.filePath(QStringLiteral("transcript.log"));
    ASSERT_EQ(Run({"read", "-o", saved, "--transcript", transcript}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(received, "n");
    EXPECT_TRUE(out.startsWith("PSDvvvSQSZ\n\nP Activate PTT\nS Wait 1 second\nD Set speed to 21 wpm\nvvv\n"))
        << out.toStdString();
    EXPECT_TRUE(out.endsWith("Z End\n")) << out.toStdString();
    EXPECT_EQ(Contents(saved), "PSDvvvSQSZ");
    EXPECT_TRUE(err.endsWith("Command string saved to " + saved + "\n")) << err.toStdString();
    const QByteArray log = Contents(transcript);
    EXPECT_TRUE(log.contains(" < PSDvvvSQSZ") || log.contains(" < P")) << log.toStdString();
    EXPECT_TRUE(log.contains(" > n\n")) << log.toStdString();

    const QString file = File(QStringLiteral("new.txt"), "BKvv\r\nUZ\r\n");
    ASSERT_EQ(Run({"program", file}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(received, "yBKvvUZn");
    EXPECT_EQ(sim->StoredProgram(), "BKvvUZ");
    EXPECT_TRUE(err.contains("Programming Beacon")) << err.toStdString();
    EXPECT_TRUE(err.contains("Sent 6 characters")) << err.toStdString();
    EXPECT_EQ(sim->State(), "Beaconing");

    ASSERT_EQ(Run({"verify", file}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(received, "n");
    EXPECT_EQ(out, "Beacon Sequence OK\n");
    // A failed verify shows where: both texts, a caret under the first difference, its position.
    ASSERT_EQ(Run({"verify", File(QStringLiteral("other.txt"), "BKvwUZ")}, &out, &err), 1);
    EXPECT_EQ(out.toStdString(),
              "Sequence Verify Failed\n"
              "beacon: BKvvUZ\n"
              "file:   BKvwUZ\n"
              "           ^\n"
              "Differs at character 4: beacon 'Kvv', file 'Kvw'\n");
}

// The synchronized beacon: Program sets and clears slots one per exchange until the beacon's table is
// the wanted one; Verify and Read see the slots; slots default to the settings file's.
TEST_F(CliBeacon, SynchronizedBeaconProgramVerifyRead) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    options.slotTable = "100100000000100000000000";
    Begin(options);
    QString out, err;
    const QString file = File(QStringLiteral("gps.txt"), "BKvvvUZ");
    ASSERT_EQ(Run({"program", "--sync", "--slots", "0,30,60", file}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(received, "yBKvvvUZnyc15\rys30\rn");
    EXPECT_EQ(sim->Slots(), "100000100000100000000000");
    EXPECT_EQ(sim->StoredProgram(), "BKvvvUZ");
    EXPECT_TRUE(err.contains("Clear Slot 15") && err.contains("Set Slot 30")) << err.toStdString();
    EXPECT_TRUE(out.contains("GPS slots: 0,30,60")) << out.toStdString();

    ASSERT_EQ(Run({"verify", "--sync", "--slots", "0,30,60", file}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(received, "nn");
    EXPECT_EQ(out, "Beacon Sequence OK - GPS Verified\n");

    // Slots from the settings file: it wants only slot 0, so the verify fails on the slots.
    const QString settings =
        File(QStringLiteral("zbeacon.ini"), "[Beacon]\r\nGPS=100000000000000000000000\r\n");
    ASSERT_EQ(Run({"verify", "--sync", "--settings", settings, file}, &out, &err), 1);
    EXPECT_EQ(out.toStdString(),
              "Beacon Sequence OK - GPS Slot Error\n"
              "slot 30 s: beacon on, file off\n"
              "slot 60 s: beacon on, file off\n");

    ASSERT_EQ(Run({"read", "--sync"}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(received, "nn");
    EXPECT_TRUE(out.startsWith("BKvvvUZ\n\nB Set speed to 10 wpm\n")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("\nGPS slots: 0,30,60 (100000100000100000000000)\n")) << out.toStdString();
}

// Decode for scripts, usage errors, a port that cannot be opened, a beacon that never speaks, and
// Ctrl+C while waiting: each with its exit status, and nothing sent to the beacon.
TEST_F(CliBeacon, DecodeErrorsTimeOutAndInterrupt) {
    const auto run = [](const QStringList& arguments, QString* out = nullptr) {
        Cli cli(arguments);
        const int status = cli.Finish();
        if (out) *out = cli.Out();
        return status;
    };
    QString out;
    EXPECT_EQ(run({"decode", File("ok.txt", "PSDvvv\r\nSQSZ")}, &out), 0);
    EXPECT_EQ(out,
              "P Activate PTT\nS Wait 1 second\nD Set speed to 21 wpm\nvvv\nS Wait 1 second\n"
              "Q Release PTT\nS Wait 1 second\nZ End\n12 characters. Maximum = 127\n");
    EXPECT_EQ(run({"decode", File("long.txt", QByteArray(100, 'v'))}), 0);
    EXPECT_EQ(run({"decode", "--sync", File("long.txt", QByteArray(100, 'v'))}, &out), 1);
    EXPECT_TRUE(out.endsWith("100 characters. Maximum = 99\nBeacon Message too long!\n"))
        << out.toStdString();
    EXPECT_EQ(run({"decode", "--sync", File("qrss.txt", "RvvZ")}, &out), 1);
    EXPECT_TRUE(out.endsWith("Contains commands incompatible with Synchronized Beacon!\n"))
        << out.toStdString();

    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(run({"program", "--port", "/dev/null"}), 2);                                // no file
    EXPECT_EQ(run({"program", "--port", "3", "--slots", "0,7", File("a.txt", "Z")}), 2);  // not a slot
    EXPECT_EQ(run({"read"}), 2);                                                          // no port
    EXPECT_EQ(run({"read", "--port", "COMX"}), 2);
    EXPECT_EQ(run({"decode", dir.filePath("missing.txt")}), 2);
    EXPECT_EQ(run({"--version"}, &out), 0);
    EXPECT_TRUE(QRegularExpression("^zbeacon-cli [0-9]+\\.[0-9]+\n$").match(out).hasMatch())
        << out.toStdString();
    EXPECT_EQ(run({"read", "--help"}, &out), 0);
    EXPECT_TRUE(out.startsWith("Usage: zbeacon-cli read --port PORT")) << out.toStdString();
    EXPECT_EQ(run({"read", "--port", dir.filePath("no-such-device")}), 3);

    Begin({});
    EXPECT_EQ(run({"read", "--port", port, "--timeout", "0.3"}), 4);
    {
        Cli cli({"program", "--port", port, File("b.txt", "KZ")});
        ASSERT_TRUE(cli.WaitForMessage("Check jumper"));
        ::kill(static_cast<pid_t>(cli.Pid()), SIGINT);
        EXPECT_EQ(cli.Finish(), 130);
    }
    sim->SwitchOn();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->State() == "ChangeQuestion"; }, kTimeoutMs));
    EXPECT_EQ(sim->Received(), "");
}

// A synchronized beacon that puts noise on the line at power-up and ends its lines with a bare CR, run
// without --sync: the noise stays out of the command string, the status is told once, and the tool
// carries the slot exchange on as the window does once the slot listing shows what the beacon is.
TEST_F(CliBeacon, NoisyBareCrSynchronizedBeaconWithoutTheOption) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    options.slotTable = "100100000000100000000000";
    options.powerUpNoise = std::string("\0\0\0\xff", 4);
    options.bareCr = true;
    Begin(options);
    const QString settings = File(QStringLiteral("zbeacon.ini"), "[Beacon]\r\n");
    QString out, err;
    const QString saved = dir.filePath(QStringLiteral("read.txt"));
    ASSERT_EQ(Run({"read", "-o", saved, "--settings", settings}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(received, "nn");
    EXPECT_TRUE(out.startsWith("PSDvvvSQSZ\n\nP Activate PTT\n")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("\nGPS slots: 0,15,60 (100100000000100000000000)\n")) << out.toStdString();
    EXPECT_EQ(Contents(saved), "PSDvvvSQSZ");
    EXPECT_EQ(err.count(QStringLiteral("Reading")), 1) << err.toStdString();

    const QString file = File(QStringLiteral("gps.txt"), "BKvvvUZ");
    ASSERT_EQ(Run({"program", "--slots", "0,30,60", "--settings", settings, file}, &out, &err), 0)
        << err.toStdString();
    EXPECT_EQ(received, "yBKvvvUZnyc15\rys30\rn");
    EXPECT_EQ(sim->Slots(), "100000100000100000000000");
    EXPECT_TRUE(out.contains("GPS slots: 0,30,60")) << out.toStdString();

    ASSERT_EQ(Run({"verify", "--slots", "0", "--settings", settings, file}, &out, &err), 1);
    EXPECT_EQ(received, "nn");
    EXPECT_EQ(out,
              "Beacon Sequence OK - GPS Slot Error\nslot 30 s: beacon on, file off\nslot 60 s: beacon on, "
              "file off\n");

    // The settings file's choice stands in for --sync.
    const QString syncSettings = File(QStringLiteral("sync.ini"), "[Beacon]\r\nSynchronized=1\r\n");
    Cli decode(
        {"decode", "--settings", syncSettings, File(QStringLiteral("long.txt"), QByteArray(100, 'v'))});
    EXPECT_EQ(decode.Finish(), 1);
    EXPECT_TRUE(decode.Out().endsWith("100 characters. Maximum = 99\nBeacon Message too long!\n"))
        << decode.Out().toStdString();
}

// A dialogue that ends without an answer ends the tool at once: the beacon switched off and on after
// the upload asks its first question again, which belongs to the operator's next operation.
TEST_F(CliBeacon, ADialogueThatEndsQuietlyEndsTheTool) {
    Begin({});
    const QString settings = File(QStringLiteral("zbeacon.ini"), "[Beacon]\r\n");
    Cli cli(
        {"program", "--sync", "--port", port, "--settings", settings, File(QStringLiteral("k.txt"), "KZ")});
    ASSERT_TRUE(cli.WaitForMessage(QStringLiteral("Check jumper. Turn beacon off and then on.")));
    sim->SwitchOn();
    ASSERT_TRUE(cli.WaitForMessage(QStringLiteral("Sent 2 characters")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->State() == "Beaconing"; }, kTimeoutMs));
    sim->SwitchOn();
    EXPECT_EQ(cli.Finish(), 0) << cli.Err().toStdString();
    // No slot listing came to report.
    EXPECT_EQ(cli.Out().toStdString(),
              "Previous program kept: " + dir.filePath(QStringLiteral("backups")).toStdString() + "/" +
                  QDir(dir.filePath(QStringLiteral("backups")))
                      .entryList({QStringLiteral("*.txt")})
                      .value(0)
                      .toStdString() +
                  "\nBeacon programmed\n");
    EXPECT_EQ(sim->Received(), "yKZn");
}

// A port that cannot be opened is told in the tool's own terms: the device as given (a relative path is
// taken from the working folder), or the COM number with the device it stands for and the settings file
// that was read (run from the build, the window's), and where to look next.
TEST_F(CliBeacon, PortErrorsInTheToolsOwnTerms) {
    const auto error = [](const QStringList& arguments) {
        Cli cli(arguments);
        const int status = cli.Finish();
        return std::make_pair(status, cli.Err().toStdString());
    };
    const QString missing = dir.filePath(QStringLiteral("no-such-device"));
    EXPECT_EQ(error({"read", "--port", missing}),
              std::make_pair(3, "zbeacon-cli: cannot open " + missing.toStdString() +
                                    ": no such device; `zbeacon-cli ports` lists the devices present\n"));
    const QString settings =
        File(QStringLiteral("ports.ini"), "[Ports]\r\nCOM5=" + missing.toUtf8() + "\r\n");
    EXPECT_EQ(error({"read", "--port", "COM5", "--settings", settings}).second,
              "zbeacon-cli: cannot open COM5 (" + missing.toStdString() + ", as " + settings.toStdString() +
                  " maps it): not connected; `zbeacon-cli ports` lists the devices present\n");
    const std::string unmapped = error({"read", "--port", "77"}).second;
    EXPECT_NE(unmapped.find("COM77 (/dev/ttyS76: " ZB_WINDOW_BUILD_DIR "/zbeacon.ini maps no device to it)"),
              std::string::npos)
        << unmapped;

    Begin({});
    Cli cli({"read", "--port", QDir::current().relativeFilePath(port), "--settings", settings});
    ASSERT_TRUE(cli.WaitForMessage(QStringLiteral("Check jumper. Turn beacon off and then on.")));
    sim->SwitchOn();
    EXPECT_EQ(cli.Finish(), 0) << cli.Err().toStdString();
    EXPECT_TRUE(cli.Out().startsWith("PSDvvvSQSZ\n\n")) << cli.Out().toStdString();
}

// Ctrl+C in the middle of the upload: the tool says that the beacon keeps its old message, and the beacon,
// switched off and on, still holds it.
TEST_F(CliBeacon, InterruptedUploadLeavesTheOldMessage) {
    Begin({});
    Cli cli({"program", "--port", port, "--settings", dir.filePath(QStringLiteral("zbeacon.ini")),
             File("long.txt", QByteArray(60, 'v') + "Z")});
    ASSERT_TRUE(cli.WaitForMessage("Check jumper"));
    sim->SwitchOn();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->Received().size() >= 4; }, kTimeoutMs));  // y and "vvv"
    ::kill(static_cast<pid_t>(cli.Pid()), SIGINT);
    EXPECT_EQ(cli.Finish(), 130);
    EXPECT_TRUE(cli.Err().endsWith(
        "zbeacon-cli: interrupted: the beacon keeps its old message until a complete upload\n"))
        << cli.Err().toStdString();
    EXPECT_LT(sim->Received().size(), 62u);
    sim->SwitchOn();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->State() == "ChangeQuestion"; }, kTimeoutMs));
    EXPECT_EQ(sim->StoredProgram(), "PSDvvvSQSZ");
}

// A callsign in capitals is decoded as commands all the same; the hint goes to the error stream only, and
// the listing and the exit status stay as they are.
TEST_F(CliBeacon, DecodeHintsThatCapitalsAreCommands) {
    const auto decode = [&](const QByteArray& text, QString& out, QString& err) {
        Cli cli({"decode", File("call.txt", text)});
        const int status = cli.Finish();
        out = cli.Out();
        err = cli.Err();
        return status;
    };
    QString out, err;
    EXPECT_EQ(decode("PSD de XX1XXX", out, err), 0);
    EXPECT_EQ(err, "Capital letters are commands: write Morse text in lower case\n");
    EXPECT_TRUE(
        out.startsWith("P Activate PTT\nS Wait 1 second\nD Set speed to 21 wpm\n de \n"
                       "X Set Extra Low Power\nX Set Extra Low Power\n1\n"))
        << out.toStdString();
    EXPECT_EQ(decode("PSD de xx1xxx 599 73Z", out, err), 0);
    EXPECT_EQ(err, "");
}

// Every Program keeps the beacon's previous program beside the settings file, says where, and lists
// it; programming the latest backup restores the beacon's message and, with --sync, its slots. A
// backup that cannot be written ends the tool with status 5 before anything is sent.
TEST_F(CliBeacon, ProgramKeepsThePreviousProgramAndRestoresIt) {
    zbsim::BeaconOptions options;
    options.synchronized = true;
    options.program = "OLD vvv Z";
    options.slotTable = "100100000000100000000000";
    options.powerUpNoise = std::string("\0\xff", 2);
    Begin(options);
    const QString settings = File(QStringLiteral("zbeacon.ini"), "[Beacon]\r\n");
    const QString backups = dir.filePath(QStringLiteral("backups"));
    QString out, err;
    ASSERT_EQ(Run({"program", "--sync", "--slots", "0", "--settings", settings, File("new.txt", "NEW Z")},
                  &out, &err),
              0)
        << err.toStdString();
    EXPECT_EQ(sim->StoredProgram(), "NEW Z");
    const QStringList kept = QDir(backups).entryList({QStringLiteral("*.txt")});
    ASSERT_EQ(kept.size(), 1);
    const QString backup = QDir(backups).filePath(kept.first());
    EXPECT_TRUE(out.startsWith("Previous program kept: " + backup + "\n")) << out.toStdString();
    EXPECT_EQ(Contents(backup), "OLD vvv Z");

    Cli list({"backups", "--settings", settings});
    EXPECT_EQ(list.Finish(), 0);
    const QStringList columns = list.Out().trimmed().split(QLatin1Char('\t'));
    ASSERT_EQ(columns.size(), 5) << list.Out().toStdString();
    EXPECT_TRUE(columns[1].startsWith("COM1 ")) << columns[1].toStdString();
    EXPECT_EQ(columns[2], "synchronized");
    EXPECT_EQ(columns[3], "OLD vvv Z");
    EXPECT_EQ(columns[4], backup);

    ASSERT_EQ(Run({"program", "--sync", "--from-backup", "latest", "--settings", settings}, &out, &err), 0)
        << err.toStdString();
    EXPECT_EQ(sim->StoredProgram(), "OLD vvv Z");
    EXPECT_EQ(sim->Slots(), "100100000000100000000000");
    EXPECT_EQ(QDir(backups).entryList({QStringLiteral("*.txt")}).size(), 2);  // the restore kept "NEW Z"

    // No backups folder can be made where a file stands in its way.
    QDir(backups).removeRecursively();
    File(QStringLiteral("backups"), "in the way");
    const size_t before = sim->Received().size();
    Cli refused({"program", "--sync", "--settings", settings, "--port", port, File("third.txt", "THIRD Z")});
    ASSERT_TRUE(refused.WaitForMessage(QStringLiteral("Check jumper. Turn beacon off and then on.")));
    sim->SwitchOn();
    EXPECT_EQ(refused.Finish(), 5);
    EXPECT_EQ(sim->Received().substr(before), "");
    EXPECT_EQ(sim->StoredProgram(), "OLD vvv Z");
    EXPECT_TRUE(refused.Err().contains("Cannot keep the beacon's program: " + backups + ": "))
        << refused.Err().toStdString();
    EXPECT_TRUE(refused.Out().isEmpty()) << refused.Out().toStdString();
}
