#include "tools/cli/Options.h"

#include <cmath>

namespace Cli {
namespace {

Command CommandOf(const QString& word) {
    if (word == QLatin1String("ports")) return Command::Ports;
    if (word == QLatin1String("read")) return Command::Read;
    if (word == QLatin1String("program")) return Command::Program;
    if (word == QLatin1String("verify")) return Command::Verify;
    if (word == QLatin1String("decode")) return Command::Decode;
    if (word == QLatin1String("backups")) return Command::Backups;
    return Command::None;
}

#ifdef _WIN32
const char kCommonOptions[] =
    "\nCommon options:\n"
    "  --port PORT          a COM port (COM5 or 5, mapped by the settings file's [Ports]) or a device\n"
    "                       name (\\\\.\\COM12)\n"
    "  --timeout SECONDS    give up when the beacon stays silent this long (default: wait)\n"
    "  --transcript FILE    keep both directions of the conversation with time stamps\n"
    "  --settings FILE      the settings file (default: the window's zbeacon.ini, next to the program or,\n"
    "                       installed, in %APPDATA%\\zbeacon)\n";
const char kPortHint[] = "a COM port such as COM5 or a device name";
#else
const char kCommonOptions[] =
    "\nCommon options:\n"
    "  --port PORT          a COM number (mapped by the settings file's [Ports]) or a device path\n"
    "  --timeout SECONDS    give up when the beacon stays silent this long (default: wait)\n"
    "  --transcript FILE    keep both directions of the conversation with time stamps\n"
    "  --settings FILE      the settings file (default: the window's zbeacon.ini, next to the program or,\n"
    "                       installed, in ~/.config/zbeacon)\n";
const char kPortHint[] = "a COM number or a device path";
#endif

bool TalksToBeacon(Command command) {
    return command == Command::Read || command == Command::Program || command == Command::Verify;
}

}  // namespace

bool ParseSlots(const QString& list, QVector<int>& wanted) {
    wanted.clear();
    if (list.trimmed().isEmpty()) return true;  // no slot at all
    for (const QString& item : list.split(QLatin1Char(','))) {
        bool ok = false;
        const int seconds = item.trimmed().toInt(&ok, 10);
        if (!ok || seconds < 0 || seconds > 115 || seconds % 5 != 0) return false;
        if (!wanted.contains(seconds / 5)) wanted.append(seconds / 5);
    }
    return true;
}

bool Parse(const QStringList& arguments, Options& options, QString& error) {
    options = Options();
    if (arguments.isEmpty()) {
        error = QStringLiteral("a command is needed: ports, read, program, verify, decode or backups");
        return false;
    }
    const QString& word = arguments.first();
    if (word == QLatin1String("--help") || word == QLatin1String("-h") || word == QLatin1String("help")) {
        options.help = true;
        return true;
    }
    if (word == QLatin1String("--version")) {
        options.version = true;
        return true;
    }
    options.command = CommandOf(word);
    if (options.command == Command::None) {
        error = QStringLiteral("unknown command '%1'").arg(word);
        return false;
    }
    QStringList positional;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString arg = arguments.at(i);
        QString value;
        bool inlineValue = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            value = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
            arg = arg.left(arg.indexOf(QLatin1Char('=')));
            inlineValue = true;
        }
        const auto takeValue = [&](QString& into) {
            if (inlineValue) {
                into = value;
                return true;
            }
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value").arg(arg);
                return false;
            }
            into = arguments.at(++i);
            return true;
        };
        const auto only = [&](bool allowed) {
            if (!allowed) error = QStringLiteral("%1 does not apply to '%2'").arg(arg, word);
            return allowed;
        };
        const Command c = options.command;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
        } else if (arg == QLatin1String("--port")) {
            if (!only(TalksToBeacon(c)) || !takeValue(options.port)) return false;
        } else if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (!only(c == Command::Read) || !takeValue(options.output)) return false;
        } else if (arg == QLatin1String("--from-backup")) {
            if (!only(c == Command::Program) || !takeValue(options.fromBackup)) return false;
            if (options.fromBackup.isEmpty()) {
                error = QStringLiteral("--from-backup wants 'latest' or a backup's file");
                return false;
            }
        } else if (arg == QLatin1String("--transcript")) {
            if (!only(TalksToBeacon(c)) || !takeValue(options.transcript)) return false;
        } else if (arg == QLatin1String("--settings")) {
            if (!takeValue(options.settings)) return false;
        } else if (arg == QLatin1String("--sync")) {
            if (!only(c != Command::Ports)) return false;
            if (inlineValue) {
                error = QStringLiteral("--sync takes no value");
                return false;
            }
            options.sync = true;
        } else if (arg == QLatin1String("--slots")) {
            QString list;
            if (!only(c == Command::Program || c == Command::Verify) || !takeValue(list)) return false;
            QVector<int> chosen;
            if (!ParseSlots(list, chosen)) {
                error = QStringLiteral(
                    "--slots wants seconds of the two-minute cycle, multiples of 5 from 0 "
                    "to 115, separated by commas (e.g. 0,25,60)");
                return false;
            }
            options.wantedSlots = chosen;
        } else if (arg == QLatin1String("--timeout")) {
            QString text;
            if (!only(TalksToBeacon(c)) || !takeValue(text)) return false;
            bool ok = false;
            options.timeout = text.toDouble(&ok);
            if (!ok || !std::isfinite(options.timeout) || options.timeout < 0 || options.timeout > 1e6) {
                error = QStringLiteral("--timeout wants a number of seconds (0 waits for ever)");
                return false;
            }
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            error = QStringLiteral("unknown option '%1'").arg(arg);
            return false;
        } else {
            positional << arguments.at(i);
        }
    }
    if (options.help) return true;
    const bool wantsFile = options.command == Command::Program || options.command == Command::Verify ||
                           options.command == Command::Decode;
    if (positional.size() > (wantsFile ? 1 : 0)) {
        error = QStringLiteral("unexpected argument '%1'").arg(positional.at(wantsFile ? 1 : 0));
        return false;
    }
    if (!options.fromBackup.isEmpty() && !positional.isEmpty()) {
        error = QStringLiteral("give either a command file or --from-backup, not both");
        return false;
    }
    if (wantsFile && options.fromBackup.isEmpty()) {
        if (positional.isEmpty()) {
            error = QStringLiteral("'%1' needs a command file").arg(word);
            return false;
        }
        options.file = positional.first();
    }
    if (TalksToBeacon(options.command) && options.port.isEmpty()) {
        error = QStringLiteral("'%1' needs --port PORT (%2)").arg(word, QLatin1String(kPortHint));
        return false;
    }
    return true;
}

QString HelpText(Command command) {
    switch (command) {
        case Command::None:
            return QStringLiteral(
                "Usage: zbeacon-cli COMMAND [OPTIONS]\n"
                "Reads, programs and verifies a beacon keyer over a serial port, and checks command files.\n"
                "\n"
                "Commands:\n"
                "  ports                              list the serial devices present\n"
                "  read --port PORT [-o FILE]         read the beacon's command string\n"
                "  program --port PORT FILE           program the beacon with a command file\n"
                "  verify --port PORT FILE            check that the beacon holds a command file\n"
                "  decode FILE                        show a command file's listing and check its length\n"
                "  backups                            list the kept previous programs, newest first\n"
                "\n"
                "Run 'zbeacon-cli COMMAND --help' for a command's options, 'zbeacon-cli --version' for the\n"
                "version.\n"
                "Exit status: 0 done, 1 verify failed or limit passed, 2 usage, 3 port error,\n"
                "4 timed out waiting for the beacon, 5 the beacon's program could not be kept (nothing\n"
                "was sent), 130 interrupted.\n");
        case Command::Ports:
            return QStringLiteral(
                "Usage: zbeacon-cli ports [--settings FILE]\n"
                "Lists the serial devices present, one a line: the COM number the settings file maps\n"
                "to the device (empty if none), a tab, and the device as the window's Comm menu shows it\n"
                "(path, description, maker and serial number).\n");
        case Command::Read:
            return QStringLiteral(
                       "Usage: zbeacon-cli read --port PORT [-o FILE] [--sync] [common options]\n"
                       "Asks for the beacon to be switched off and on, answers its question with n, and "
                       "prints\n"
                       "the command string and its decoded listing (and, with --sync, the slot table).\n"
                       "  -o, --output FILE    also save the command string as a command file\n"
                       "  --sync               the beacon is a synchronized (GPS) beacon (default: the "
                       "settings\n"
                       "                       file's choice; a slot listing from the beacon also tells)\n") +
                   QString::fromLatin1(kCommonOptions);
        case Command::Program:
        case Command::Verify: {
            const bool program = command == Command::Program;
            return QStringLiteral(
                       "Usage: zbeacon-cli %1 --port PORT FILE [--sync] [--slots LIST] [common options]\n")
                       .arg(program ? QStringLiteral("program") : QStringLiteral("verify")) +
                   (program
                        ? QStringLiteral("Answers y to the beacon's question, sends the command file when "
                                         "the beacon asks for\nthe message, and with --sync sets the "
                                         "beacon's slots one at a time. Before its first\nanswer it keeps "
                                         "the beacon's program in the backups folder (see 'backups').\n"
                                         "  --from-backup latest|FILE  program a kept backup instead of "
                                         "FILE (with --sync also\n"
                                         "                       its slot table, unless --slots is given)\n")
                        : QStringLiteral("Looks for the command file's text in what the beacon prints; "
                                         "with --sync also\ncompares the slots. Exit status 1 when "
                                         "either differs.\n")) +
                   QStringLiteral(
                       "  --sync               the beacon is a synchronized (GPS) beacon (default: the "
                       "settings\n"
                       "                       file's choice; a slot listing from the beacon also tells)\n"
                       "  --slots LIST         wanted slots as seconds of the two-minute cycle, e.g. "
                       "0,25,60\n"
                       "                       (default: the GPS slots of the settings file)\n") +
                   QString::fromLatin1(kCommonOptions);
        }
        case Command::Backups:
            return QStringLiteral(
                "Usage: zbeacon-cli backups [--settings FILE]\n"
                "Lists the beacon programs kept before each Program, newest first, one a line: the time,\n"
                "the port and device, the beacon kind, the first 40 characters of the message and the\n"
                "backup's file. The newest 200 are kept, and always the newest of every beacon.\n");
        case Command::Decode:
            return QStringLiteral(
                "Usage: zbeacon-cli decode FILE [--sync]\n"
                "Prints the command file's listing, its length and the limit (127, or 99 with --sync).\n"
                "Exit status 1 when the limit is passed or, with --sync, a command is incompatible with\n"
                "the synchronized beacon.\n");
    }
    return {};
}

}  // namespace Cli
