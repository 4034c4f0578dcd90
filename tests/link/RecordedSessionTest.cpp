// Recorded beacon sessions (tests/link/sessions): what a beacon printed up to its first question, in
// the pieces the tool received it. Each is replayed through the simulated beacon set up as the recorded
// one, in the recorded pieces, to show for every one that the Program keeps the beacon's program
// before its first y, that the backup holds exactly the old message and slots, and that programming
// the backup leaves the beacon as it was.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "link/Backups.h"
#include "platform/TextFile.h"
#include "support/FakeBeaconHost.h"

namespace {

struct Session {
    zbsim::BeaconConfig config;
    std::string recorded;        // the beacon's text up to its first question
    std::vector<size_t> pieces;  // the sizes in which it was received
};

// "\r", "\n", "\xNN" and "\\" unescaped.
std::string Unescape(const QByteArray& text) {
    std::string bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != '\\' || i + 1 >= text.size()) {
            bytes += text.at(i);
            continue;
        }
        const char c = text.at(++i);
        if (c == 'r') {
            bytes += '\r';
        } else if (c == 'n') {
            bytes += '\n';
        } else if (c == 'x' && i + 2 < text.size()) {
            bytes += static_cast<char>(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            bytes += c;
        }
    }
    return bytes;
}

Session Load(const QString& path) {
    Session s;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QByteArray line = raw;
        if (line.startsWith("< ")) {
            const std::string piece = Unescape(line.mid(2));
            s.recorded += piece;
            s.pieces.push_back(piece.size());
        } else if (line.startsWith("kind ")) {
            s.config.synchronized = line.mid(5) == "synchronized";
        } else if (line.startsWith("slots ")) {
            s.config.slotTable = line.mid(6).toStdString();
        } else if (line.startsWith("noise")) {
            s.config.powerUpNoise = Unescape(line.mid(6));
        } else if (line.startsWith("line-end ")) {
            s.config.bareCr = line.mid(9) == "CR";
        }
    }
    // The stored program is the line after the noise.
    const std::string rest = s.recorded.substr(std::min(s.config.powerUpNoise.size(), s.recorded.size()));
    s.config.program = rest.substr(0, rest.find_first_of("\r\n"));
    return s;
}

class KeepingHost : public FakeBeaconHost {
public:
    using FakeBeaconHost::FakeBeaconHost;
    QString KeepBeaconProgram(const QByteArray& message) override {
        sentBeforeMessage = sent;
        return keeper.KeepProgram(message, synchronized);
    }
    QString KeepBeaconSlots(const QByteArray& table) override {
        sentBeforeSlots = sent;
        return keeper.KeepSlots(table);
    }
    Backups::Keeper keeper;
    std::string sentBeforeMessage = "-";
    std::string sentBeforeSlots = "-";
};

}  // namespace

TEST(RecordedSessions, BackupBeforeTheFirstAnswerAndRestoreLeavesTheBeaconAsItWas) {
    const QStringList names = QDir(QStringLiteral(ZB_SESSIONS_DIR)).entryList({QStringLiteral("*.session")});
    ASSERT_GE(names.size(), 3);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const Session session = Load(QDir(QStringLiteral(ZB_SESSIONS_DIR)).filePath(name));
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("backups"));

        KeepingHost host(session.config);
        // The simulated beacon says exactly what the recorded one did.
        host.beacon.SwitchOn();
        std::string printed;
        for (const zbsim::OutputPiece& piece : host.beacon.TakeOutput())
            printed += piece.text;
        ASSERT_EQ(printed, session.recorded);

        host.chunks = session.pieces;
        host.synchronized = session.config.synchronized;
        host.keeper.SetFolder(folder);
        host.command = "NEW vvv Z";
        host.ticks = "000000000001000000000000";
        ASSERT_TRUE(host.engine.Start(LinkMode::Program));
        host.beacon.SwitchOn();
        host.Run();
        ASSERT_EQ(host.beacon.StoredProgram(), "NEW vvv Z");
        EXPECT_EQ(host.sentBeforeMessage, "");

        const QList<Backups::Record> kept = Backups::List(folder);
        ASSERT_EQ(kept.size(), 1);
        const std::string backup = QFile::encodeName(kept[0].file).toStdString();
        EXPECT_EQ(LoadCommandFile(backup, 1 << 20), session.config.program);
        if (session.config.synchronized) {
            EXPECT_EQ(host.sentBeforeSlots, "yNEW vvv Zn");
            EXPECT_EQ(kept[0].slotTable.toStdString(), session.config.slotTable);
            EXPECT_EQ(host.beacon.Slots(), "000000000001000000000000");
        } else {
            EXPECT_TRUE(kept[0].slotTable.isEmpty());
        }

        // Restoring: the backup programmed as Open Backup or --from-backup leaves it, the slots with it.
        KeepingHost restore(session.config);
        restore.chunks = session.pieces;
        restore.beacon = host.beacon;
        restore.synchronized = session.config.synchronized;
        restore.keeper.SetFolder(folder);
        restore.command = QByteArray::fromStdString(LoadCommandFile(backup, 1 << 20));
        if (!kept[0].slotTable.isEmpty()) restore.ticks = kept[0].slotTable;
        ASSERT_TRUE(restore.engine.Start(LinkMode::Program));
        restore.beacon.SwitchOn();
        restore.Run();
        EXPECT_EQ(restore.beacon.StoredProgram(), session.config.program);
        EXPECT_EQ(restore.beacon.Slots(), session.config.slotTable);
        // The restore kept what it replaced.
        const QList<Backups::Record> after = Backups::List(folder);
        ASSERT_EQ(after.size(), 2);
        EXPECT_EQ(LoadCommandFile(QFile::encodeName(after[0].file).toStdString(), 1 << 20), "NEW vvv Z");
    }
}
