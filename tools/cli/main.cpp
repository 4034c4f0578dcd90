// zbeacon-cli: reads, programs and verifies the beacon from a terminal, and checks command files.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <map>
#include <optional>

#include "command/CommandTable.h"
#include "link/Backups.h"
#include "link/PortList.h"
#include "link/PortSettings.h"
#include "link/SlotListing.h"
#include "platform/Application.h"
#include "platform/FileNames.h"
#include "platform/Folders.h"
#include "platform/IniFile.h"
#include "platform/TextFile.h"
#include "platform/Thread.h"
#include "platform/serial/Serial.h"
#include "tools/cli/Console.h"
#include "tools/cli/Options.h"
#include "tools/cli/Session.h"

namespace {

constexpr size_t kCommandCapacity = 1024 * 1024;
constexpr int kPathPort = 1;  // the port number a device path given on the command line is opened as

void Error(const QString& text) {
    std::fprintf(stderr, "zbeacon-cli: %s\n", text.toLocal8Bit().constData());
}

int UsageError(const QString& text) {
    Error(text);
    std::fprintf(stderr, "Try 'zbeacon-cli --help'.\n");
    return Cli::kUsage;
}

// The COM number of PORT ("3", "COM3") after the settings' port map is in place, or kPathPort for a
// device path (absolute, or relative to the working folder; on Windows also a device name such as
// "\\.\COM12"); 0 when PORT is neither.
int PortNumber(const QString& port, const TIniFile& ini) {
    QString number = port.trimmed();
    if (number.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) number = number.mid(3);
    bool ok = false;
    const int n = number.toInt(&ok, 10);
    if (ok && n >= 1) {
        Serial::SetPortMap(ReadPortMap(ini));
        return n;
    }
#ifdef _WIN32
    // The system's own device names ("\\.\COM12", "\\.\CNCA0") are opened as they are.
    if (port.startsWith(QLatin1String("\\\\.\\"))) {
        Serial::SetPortMap({{kPathPort, FileNames::Native(port)}});
        return kPathPort;
    }
#endif
    if (port.contains(QLatin1Char('/')) || QFileInfo::exists(port)) {
        const QString path = QFileInfo(port).absoluteFilePath();
        Serial::SetPortMap({{kPathPort, QFile::encodeName(path).toStdString()}});
        return kPathPort;
    }
    return 0;
}

// The folder whose settings file the tool reads by default: the window's. Installed, that is the
// user's configuration folder; run from the build, the window's build folder.
QString ProgramFolder() {
    const QString here = QCoreApplication::applicationDirPath();
#if defined(ZB_CLI_BUILD_DIR) && defined(ZB_WINDOW_BUILD_DIR)
    if (QFileInfo(here) == QFileInfo(QStringLiteral(ZB_CLI_BUILD_DIR)))
        return QStringLiteral(ZB_WINDOW_BUILD_DIR);
#endif
    return here;
}

// The serial devices present, one a line as the window's Comm menu shows them, each with the port number
// that the settings' port map gives it, if any.
int ListPorts(const TIniFile& ini) {
    const std::map<int, std::string> map = ReadPortMap(ini);
    for (const TSerialDevice& device : PortList().Devices()) {
        QString com;
        for (const auto& [n, path] : map) {
            if (Serial::SameDevice(path, QFile::encodeName(device.Path).toStdString())) {
                com = QStringLiteral("COM%1").arg(n);
                break;
            }
        }
        std::printf("%s\t%s\n", com.toLatin1().constData(), DeviceCaption(device).toLocal8Bit().constData());
    }
    return Cli::kDone;
}

// Where a Program keeps the beacon's previous programs: installed, the user's data folder; else beside
// the settings file in use.
QString BackupsFolderFor(const QString& settings) {
    const TProgramFolders folders = ChooseProgramFolders(ProgramFolder());
    if (folders.IsInstalled()) return BackupsFolder(folders);
    return QDir(QFileInfo(settings).absolutePath()).filePath(QStringLiteral("backups"));
}

// The kept programs, newest first, one a line: time, port and device, kind, the message's start, file.
int ListBackups(const QString& folder) {
    for (const Backups::Record& r : Backups::List(folder)) {
        std::string bytes;
        QByteArray start;
        if (TextFile::ReadRegularFile(FileNames::Native(r.file), bytes, 1 << 20, false) ==
            TextFile::ReadResult::Ok) {
            for (char c : QByteArray::fromStdString(bytes)) {
                if (start.size() >= 40) break;
                const auto u = static_cast<unsigned char>(c);
                if (c == '\n' && start.endsWith(' ')) continue;  // one space for CR LF
                start += u < 32 ? ' ' : c;
            }
        }
        QString port = r.comNumber > 0 ? QStringLiteral("COM%1 ").arg(r.comNumber) : QString();
        port += r.stableName.isEmpty() ? r.device : r.stableName;
        std::printf("%s\t%s\t%s\t%s\t%s\n",
                    r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toLatin1().constData(),
                    port.toLocal8Bit().constData(), r.Kind().toLatin1().constData(), start.constData(),
                    r.file.toLocal8Bit().constData());
    }
    return Cli::kDone;
}

int Decode(const QByteArray& text, bool sync) {
    const int32_t limit = Commands::MaxCharFor(sync);
    const Commands::Decoded decoded = Commands::DecodeText(text, sync, limit);
    for (const QString& row : decoded.rows)
        std::printf("%s\n", row.toLatin1().constData());
    std::printf("%lld characters. Maximum = %d\n", static_cast<long long>(decoded.count), limit);
    if (decoded.tooLong) std::printf("Beacon Message too long!\n");
    if (decoded.incompatible) std::printf("Contains commands incompatible with Synchronized Beacon!\n");
    // A hint only: the listing stands and the exit status does not change.
    if (decoded.capitalCallsign) std::fprintf(stderr, "%s\n", Commands::kCapitalsHint);
    return decoded.tooLong || decoded.incompatible ? Cli::kFailed : Cli::kDone;
}

int Run(QCoreApplication& app) {
    Cli::Options options;
    QString error;
    if (!Cli::Parse(app.arguments().mid(1), options, error)) return UsageError(error);
    if (options.help) {
        std::printf("%s", Cli::HelpText(options.command).toLatin1().constData());
        return Cli::kDone;
    }
    if (options.version) {
        std::printf("zbeacon-cli %s\n", ZB_VERSION);
        return Cli::kDone;
    }
    // The window's settings file: beside the program, or in the user's configuration folder once installed.
    if (options.settings.isEmpty())
        options.settings =
            QDir(ChooseProgramFolders(ProgramFolder()).Data).filePath(QStringLiteral("zbeacon.ini"));
    const QString settings = options.settings;
    const TIniFile ini(FileNames::Native(settings));

    if (options.command == Cli::Command::Ports) return ListPorts(ini);
    const QString backups = BackupsFolderFor(settings);
    if (options.command == Cli::Command::Backups) return ListBackups(backups);
    // A kept program stands for the command file; with --sync its slot table for the wanted slots.
    std::optional<QByteArray> backupSlots;
    if (!options.fromBackup.isEmpty()) {
        if (options.fromBackup == QLatin1String("latest")) {
            const QList<Backups::Record> records = Backups::List(backups);
            if (records.isEmpty()) return UsageError(QStringLiteral("no backups in %1").arg(backups));
            options.file = records.first().file;
        } else {
            options.file = options.fromBackup;
        }
        if (const std::optional<Backups::Record> record = Backups::ReadRecord(options.file);
            record && record->slotTable.size() >= SlotListing::kSlotCount)
            backupSlots = record->slotTable;
    }
    // Without --sync the window's choice holds, as it does for the slots.
    if (!options.sync) options.sync = ini.ReadBool("Beacon", "Synchronized", false);

    QByteArray text;
    if (!options.file.isEmpty()) {
        try {
            text =
                QByteArray::fromStdString(LoadCommandFile(FileNames::Native(options.file), kCommandCapacity));
        } catch (const std::exception& e) {
            return UsageError(QString::fromLocal8Bit(e.what()));
        }
    }
    if (options.command == Cli::Command::Decode) return Decode(text, options.sync);

    QVector<int> wanted;
    if (options.wantedSlots) {
        wanted = *options.wantedSlots;
    } else if (backupSlots && options.sync) {
        for (int i = 0; i < SlotListing::kSlotCount; ++i) {
            if (backupSlots->at(i) == '1') wanted.append(i);
        }
    } else {
        const std::string mask = ini.ReadString("Beacon", "GPS", SlotListing::kDefaultTable);
        for (size_t i = 0; i < mask.size() && i < static_cast<size_t>(SlotListing::kSlotCount); ++i) {
            if (mask[i] == '1') wanted.append(static_cast<int>(i));
        }
    }
    const int port = PortNumber(options.port, ini);
    if (port == 0)
        return UsageError(
            QStringLiteral("PORT must be a COM number or a device path, not '%1'").arg(options.port));

    // The window programs a text past the limit after its alarm; so does the tool, after the same words.
    if (options.command == Cli::Command::Program) {
        const Commands::Decoded decoded =
            Commands::DecodeText(text, options.sync, Commands::MaxCharFor(options.sync));
        if (decoded.tooLong)
            Error(QStringLiteral("%1 characters. Maximum = %2. Beacon Message too long!")
                      .arg(decoded.count)
                      .arg(Commands::MaxCharFor(options.sync)));
        if (decoded.incompatible)
            Error(QStringLiteral("Contains commands incompatible with Synchronized Beacon!"));
    }
    Cli::Session session(options, text, wanted, stdout, stderr);
    session.SetBackupsFolder(backups);

    // Ctrl+C: nothing more is sent, the port is closed, and the tool ends with 130.
    int status = Cli::kDone;
    {
        Console::InterruptWatch interrupt([&] {
            // Until the beacon has received the whole new message, it keeps the one it had.
            QString message = QStringLiteral("interrupted");
            if (session.MessageIncomplete())
                message += QStringLiteral(": the beacon keeps its old message until a complete upload");
            session.Finish(Cli::kInterrupted, message);
        });
        if (!interrupt.Ready()) {
            Error(QStringLiteral("cannot create a pipe"));
            return Cli::kPortError;
        }
        if (session.Start(port)) {
            app.exec();
            session.Drain();
        }
        status = session.ExitStatus();
    }
    if (status == Cli::kDone && !options.output.isEmpty()) {
        std::fprintf(stderr, "Command string saved to %s\n",
                     QFileInfo(options.output).absoluteFilePath().toLocal8Bit().constData());
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Console::UseBinaryOutput();
    QCoreApplication app(argc, argv);
    // Once the loop ends, the port's watcher hands nothing more over.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { Application::SetTerminated(true); });
    const int status = Run(app);  // the session, and with it the port, is gone when it returns
    // A closed port's watcher ends on its own thread; let it finish before the process goes.
    TThread::WaitForFreeThreads();
    return status;
}
