#pragma once
// The beacon's previous programs, kept before every Program overwrites them.
//
// A backup is a command file holding the beacon's stored message exactly as the beacon printed it (less
// its prompt lines and line noise), so that opening it shows the old message; beside it a record file
// of the same name with ".record" added tells when and from which beacon it was taken, and the slot
// table of a synchronized beacon. Backups are named by their time, so that the newest sorts last.
// The folder keeps the newest kMaxBackups and, whatever their age, the newest backup of every beacon
// (by its stable device name).

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace Backups {

constexpr int kMaxBackups = 200;

struct Record {
    QString file;        // the backup's command file, full path
    QDateTime time;      // when it was taken
    int comNumber = 0;   // the port's COM number
    QString device;      // the port's device path
    QString stableName;  // the device's stable name, empty where it has none
    bool synchronized = false;
    QByteArray slotTable;  // '0'/'1' per slot; empty when the beacon's table is not known

    // The beacon the backup came from: its stable device name, or the device path.
    QString Beacon() const { return stableName.isEmpty() ? device : stableName; }
    QString Kind() const { return synchronized ? QStringLiteral("synchronized") : QStringLiteral("normal"); }
};

// The record file of a backup.
QString RecordFileOf(const QString& backupFile);

// Writes `message` as a new backup in `folder` (made when missing) with the record `record` (its file
// and time are filled in), then trims the folder. Returns the backup's path, or nothing with `error`
// set to "<path>: <reason>".
std::optional<QString> Write(const QString& folder, Record record, const QByteArray& message, QString& error);

// Adds the beacon's slot table to the record of the backup `backupFile`; the backup then counts as one
// of a synchronized beacon. False with `error` set to "<path>: <reason>".
bool AddSlotTable(const QString& backupFile, const QByteArray& table, QString& error);

// The record of a backup; nothing when its record file is missing or unreadable.
std::optional<Record> ReadRecord(const QString& backupFile);

// The backups in `folder`, newest first.
QList<Record> List(const QString& folder);

// Deletes the backups past the newest `keep`, except the newest one of each beacon.
void Trim(const QString& folder, int keep = kMaxBackups);

// What a Program keeps for one beacon: the message before the first answer, then the slot table.
class Keeper {
public:
    explicit Keeper(QString folder = QString()) : folder_(std::move(folder)) {}
    void SetFolder(const QString& folder) { folder_ = folder; }
    const QString& Folder() const { return folder_; }
    // The port of the next backups.
    void SetPort(int comNumber, const QString& device);

    // Empty when kept, else "<path>: <reason>".
    QString KeepProgram(const QByteArray& message, bool synchronized);
    QString KeepSlots(const QByteArray& table);
    // The backup written by the last KeepProgram; empty when none was.
    const QString& LastBackup() const { return last_; }
    void Forget() { last_.clear(); }

private:
    QString folder_;
    int comNumber_ = 0;
    QString device_;
    QString last_;
};

}  // namespace Backups
