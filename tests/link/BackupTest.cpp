// Every Program keeps the beacon's previous program before it answers: the message before the first y,
// the slot table before the first slot is changed; a copy that cannot be kept stops the Program with
// nothing sent. And the backups folder's rule: the newest ones, and the newest of every beacon.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "link/Backups.h"
#include "platform/Folders.h"
#include "platform/TextFile.h"
#include "support/FakeBeaconHost.h"
#include "support/OrdinaryUser.h"

namespace {

zbsim::BeaconConfig Beacon(bool synchronized, std::string program, std::string noise = {},
                           std::string table = "100000000000100000000000") {
    zbsim::BeaconConfig config;
    config.slotTable = std::move(table);
    config.synchronized = synchronized;
    config.program = std::move(program);
    config.powerUpNoise = std::move(noise);
    return config;
}

// A host that keeps the beacon's program through a Keeper (or refuses with `refusal`), noting what had
// been sent when it was asked.
class KeepingHost : public FakeBeaconHost {
public:
    using FakeBeaconHost::FakeBeaconHost;
    QString KeepBeaconProgram(const QByteArray& message) override {
        messages << message;
        sentBeforeMessage = sent;
        if (!refusal.isEmpty()) return refusal;
        return keeper.KeepProgram(message, synchronized);
    }
    QString KeepBeaconSlots(const QByteArray& table) override {
        tables << table;
        sentBeforeSlots = sent;
        if (!slotRefusal.isEmpty()) return slotRefusal;
        return keeper.KeepSlots(table);
    }

    Backups::Keeper keeper;
    QString refusal;
    QString slotRefusal;
    QList<QByteArray> messages;
    QList<QByteArray> tables;
    std::string sentBeforeMessage = "-";
    std::string sentBeforeSlots = "-";
};

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

}  // namespace

// The message is kept before the first y, without the power-up noise and the prompt lines, whatever the
// chunking; the slot table of a synchronized beacon before the first set/clear answer; both in one
// backup whose command file holds exactly the old message.
TEST(BeaconBackup, KeptBeforeTheFirstAnswer) {
    for (size_t chunk : {0u, 1u, 3u, 7u}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        QTemporaryDir dir;
        KeepingHost host(
            Beacon(true, "OLD MSG vvv Z", std::string("\0\xFF\x01", 3), "001000000000000000000001"));
        host.keeper.SetFolder(dir.filePath(QStringLiteral("backups")));
        host.keeper.SetPort(3, QStringLiteral("/dev/ttyUSB7"));
        host.chunk = chunk;
        host.synchronized = true;
        host.ticks = "100000000000000000000000";
        host.command = "NEW Z";
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();

        EXPECT_EQ(host.beacon.StoredProgram(), "NEW Z");
        ASSERT_EQ(host.messages, QList<QByteArray>{"OLD MSG vvv Z"});
        EXPECT_EQ(host.sentBeforeMessage, "");
        ASSERT_EQ(host.tables, QList<QByteArray>{"001000000000000000000001"});
        EXPECT_EQ(host.sentBeforeSlots, "yNEW Zn");  // the slot question is still unanswered
        const QList<Backups::Record> records = Backups::List(host.keeper.Folder());
        ASSERT_EQ(records.size(), 1);
        EXPECT_EQ(records[0].file, host.keeper.LastBackup());
        EXPECT_EQ(FileBytes(records[0].file), "OLD MSG vvv Z");
        EXPECT_EQ(QByteArray::fromStdString(
                      LoadCommandFile(QFile::encodeName(records[0].file).toStdString(), 1 << 20)),
                  "OLD MSG vvv Z");
        EXPECT_EQ(records[0].slotTable, "001000000000000000000001");
        EXPECT_TRUE(records[0].synchronized);
        EXPECT_EQ(records[0].comNumber, 3);
        EXPECT_EQ(records[0].device, "/dev/ttyUSB7");
        EXPECT_TRUE(records[0].time.isValid());
    }
}

// A copy that cannot be kept stops the Program before its answer: nothing at all goes to the beacon,
// which keeps its program, and the strip says why in the alert look. The same when the slot table
// cannot be added: no slot is changed.
TEST(BeaconBackup, RefusedCopySendsNothing) {
    {
        KeepingHost host(Beacon(false, "OLD Z", std::string("\xFF", 1)));
        host.refusal = QStringLiteral("/nowhere/backups: Permission denied");
        host.command = "NEW Z";
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.sent, "");
        EXPECT_EQ(host.beacon.StoredProgram(), "OLD Z");
        EXPECT_EQ(host.engine.Mode(), LinkMode::Idle);
        EXPECT_FALSE(host.countdown);
        EXPECT_EQ(host.caption, "Cannot keep the beacon's program: /nowhere/backups: Permission denied");
        EXPECT_EQ(host.look, TellLook::Alert);
    }
    {
        KeepingHost host(Beacon(true, "OLD Z"));
        host.slotRefusal = QStringLiteral("/b/x.txt.record: No space left on device");
        host.synchronized = true;
        host.ticks = "111000000000000000000000";
        host.command = "NEW Z";
        QTemporaryDir dir;
        host.keeper.SetFolder(dir.path());
        const std::string before = host.beacon.Slots();
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
        EXPECT_EQ(host.sent, "yNEW Zn");
        EXPECT_EQ(host.beacon.Slots(), before);
        EXPECT_EQ(host.engine.Mode(), LinkMode::Idle);
        EXPECT_EQ(host.caption, "Cannot keep the beacon's program: /b/x.txt.record: No space left on device");
    }
}

// A backups folder that an ordinary user may not write: the Keeper says which path and why, and the
// Program sends nothing.
TEST(BeaconBackup, UnwritableFolderSendsNothing) {
    OrdinaryUser user;
    if (!user.Unavailable().empty()) GTEST_SKIP() << user.Unavailable();
    QTemporaryDir dir;
    // The checkout may sit in a folder only root may enter: the test's folder is opened to all.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
    KeepingHost host(Beacon(false, "OLD Z"));
    host.keeper.SetFolder(QDir(locked).filePath(QStringLiteral("backups")));
    host.command = "NEW Z";
    ASSERT_TRUE(user.Run([&] {
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
    }));
    EXPECT_EQ(host.sent, "");
    EXPECT_EQ(host.beacon.StoredProgram(), "OLD Z");
    EXPECT_EQ(host.caption.toStdString(),
              "Cannot keep the beacon's program: " + locked.toStdString() + "/backups: Permission denied");
    EXPECT_TRUE(QDir(locked).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
}

// The folder keeps the newest backups and, past them, the newest one of every beacon; listed newest
// first.
TEST(BeaconBackup, FolderKeepsTheNewestAndTheLastOfEveryBeacon) {
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("backups"));
    QString error;
    Backups::Record old;
    old.device = QStringLiteral("/dev/ttyUSB1");
    ASSERT_TRUE(Backups::Write(folder, old, "FIRST Z", error)) << error.toStdString();
    Backups::Record other;
    other.device = QStringLiteral("/dev/ttyUSB2");
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(Backups::Write(folder, other, "N" + QByteArray::number(i) + " Z", error));
    Backups::Trim(folder, 3);
    const QList<Backups::Record> records = Backups::List(folder);
    ASSERT_EQ(records.size(), 4);
    EXPECT_EQ(FileBytes(records[0].file), "N4 Z");
    EXPECT_EQ(FileBytes(records[1].file), "N3 Z");
    EXPECT_EQ(FileBytes(records[2].file), "N2 Z");
    EXPECT_EQ(FileBytes(records[3].file), "FIRST Z");          // the only one of its beacon
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 8);  // each with its record, no leftovers

    TProgramFolders portable = TProgramFolders::Portable(dir.path());
    EXPECT_EQ(BackupsFolder(portable), dir.filePath(QStringLiteral("backups")));
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toLocal8Bit());
    const TProgramFolders installed = TProgramFolders::ForInstalled(dir.path(), dir.filePath("config"), {});
    EXPECT_EQ(BackupsFolder(installed), dir.filePath(QStringLiteral("data/zbeacon/backups")));
    qunsetenv("XDG_DATA_HOME");
}
