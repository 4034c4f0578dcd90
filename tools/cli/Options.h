#pragma once
// The command line of zbeacon-cli: one command word, then its options and arguments.

#include <QString>
#include <QStringList>
#include <QVector>
#include <optional>

namespace Cli {

enum class Command { None, Ports, Read, Program, Verify, Decode, Backups };

struct Options {
    Command command = Command::None;
    bool help = false;
    bool version = false;                     // --version
    QString port;                             // --port: a COM number or a device path
    QString file;                             // the command file (program, verify, decode)
    QString fromBackup;                       // --from-backup: "latest" or a backup's file (program)
    QString output;                           // -o: where read saves the command string
    QString transcript;                       // --transcript
    QString settings;                         // --settings; empty for the file next to the program
    std::optional<QVector<int>> wantedSlots;  // --slots, as slot numbers 0..23
    bool sync = false;                        // --sync
    double timeout = 0;                       // --timeout in seconds; 0 waits for ever
};

// Exit statuses.
constexpr int kDone = 0;
constexpr int kFailed = 1;  // verify failed, or the command string breaks a limit
constexpr int kUsage = 2;
constexpr int kPortError = 3;
constexpr int kTimedOut = 4;
constexpr int kBackupFailed = 5;  // the beacon's program could not be kept: nothing was sent
constexpr int kInterrupted = 130;

// Parses the arguments after the program's name. False with `error` set on a usage error.
bool Parse(const QStringList& arguments, Options& options, QString& error);

// Slots given as cycle offsets in seconds ("0,25,60": multiples of 5 from 0 to 115). False on a bad list.
bool ParseSlots(const QString& list, QVector<int>& wanted);

// The help text of a command (Command::None: the overview).
QString HelpText(Command command);

}  // namespace Cli
