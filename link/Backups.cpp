#include "link/Backups.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/FileNames.h"
#include "platform/TextFile.h"
#include "platform/serial/PortMap.h"

namespace Backups {
namespace {

const char kRecordSuffix[] = ".record";
constexpr std::size_t kRecordLimit = 64 * 1024;

std::string Native(const QString& path) {
    return FileNames::Native(path);
}

// The system's text for the failure of the last file call.
QString ErrnoText(int error) {
    return FileNames::FromNative(TextFile::ErrorText(error));
}

std::filesystem::path FolderPath(const QString& folder) {
#ifdef _WIN32
    return std::filesystem::path(folder.toStdWString());
#else
    return std::filesystem::path(Native(folder));
#endif
}

// The record as "key=value" lines; values never hold line breaks.
QByteArray RecordText(const Record& r) {
    QByteArray text;
    text += "time=" + r.time.toString(Qt::ISODateWithMs).toUtf8() + "\n";
    text += "com=" + QByteArray::number(r.comNumber) + "\n";
    text += "device=" + QFile::encodeName(r.device) + "\n";
    text += "stable=" + QFile::encodeName(r.stableName) + "\n";
    text += "kind=" + r.Kind().toUtf8() + "\n";
    text += "slots=" + r.slotTable + "\n";
    return text;
}

bool WriteRecord(const Record& r, QString& error) {
    const QString path = RecordFileOf(r.file);
    if (!TextFile::ReplaceFile(Native(path), RecordText(r).toStdString())) {
        error = path + QStringLiteral(": ") + ErrnoText(errno);
        return false;
    }
    return true;
}

// A name for a backup taken at `time` that no file in `folder` has yet.
QString FreshName(const QDir& folder, const QDateTime& time) {
    const QString stem = time.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz"));
    QString name = stem + QStringLiteral(".txt");
    for (int n = 2; QFileInfo::exists(folder.filePath(name)) ||
                    QFileInfo::exists(folder.filePath(name + QLatin1String(kRecordSuffix)));
         ++n)
        name = stem + QStringLiteral("_%1.txt").arg(n, 3, 10, QLatin1Char('0'));
    return name;
}

}  // namespace

QString RecordFileOf(const QString& backupFile) {
    return backupFile + QLatin1String(kRecordSuffix);
}

std::optional<QString> Write(const QString& folder, Record record, const QByteArray& message,
                             QString& error) {
    std::error_code made;
    std::filesystem::create_directories(FolderPath(folder), made);
    if (made) {
        error = folder + QStringLiteral(": ") + QString::fromLocal8Bit(made.message());
        return std::nullopt;
    }
    const QDir dir(folder);
    record.time = QDateTime::currentDateTime();
    record.file = dir.absoluteFilePath(FreshName(dir, record.time));
    // The record first: a backup whose record is missing would not be listed as the beacon's.
    if (!WriteRecord(record, error)) return std::nullopt;
    if (!TextFile::ReplaceFile(Native(record.file), message.toStdString())) {
        error = record.file + QStringLiteral(": ") + ErrnoText(errno);
        QFile::remove(RecordFileOf(record.file));
        return std::nullopt;
    }
    Trim(folder);
    return record.file;
}

bool AddSlotTable(const QString& backupFile, const QByteArray& table, QString& error) {
    std::optional<Record> record = ReadRecord(backupFile);
    if (!record) {
        error = RecordFileOf(backupFile) + QStringLiteral(": ") + ErrnoText(errno ? errno : ENOENT);
        return false;
    }
    record->slotTable = table;
    record->synchronized = true;
    return WriteRecord(*record, error);
}

std::optional<Record> ReadRecord(const QString& backupFile) {
    std::string bytes;
    if (TextFile::ReadRegularFile(Native(RecordFileOf(backupFile)), bytes, kRecordLimit, false) !=
        TextFile::ReadResult::Ok)
        return std::nullopt;
    Record r;
    r.file = QFileInfo(backupFile).absoluteFilePath();
    for (const QByteArray& line : QByteArray::fromStdString(bytes).split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq < 0) continue;
        const QByteArray key = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        if (key == "time") r.time = QDateTime::fromString(QString::fromUtf8(value), Qt::ISODateWithMs);
        if (key == "com") r.comNumber = value.toInt();
        if (key == "device") r.device = QFile::decodeName(value);
        if (key == "stable") r.stableName = QFile::decodeName(value);
        if (key == "kind") r.synchronized = value == "synchronized";
        if (key == "slots") {
            bool table = true;
            for (char c : value)
                table = table && (c == '0' || c == '1');
            if (table) r.slotTable = value;
        }
    }
    if (!r.time.isValid()) r.time = QFileInfo(backupFile).lastModified();
    return r;
}

QList<Record> List(const QString& folder) {
    QList<Record> records;
    const QDir dir(folder);
    // Names are times: the newest sorts first in reverse order.
    const QStringList names =
        dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& name : names) {
        if (std::optional<Record> r = ReadRecord(dir.absoluteFilePath(name))) records << *r;
    }
    return records;
}

void Trim(const QString& folder, int keep) {
    const QList<Record> records = List(folder);
    QSet<QString> beacons;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const bool newestOfBeacon = !beacons.contains(records.at(i).Beacon());
        beacons.insert(records.at(i).Beacon());
        if (i < keep || newestOfBeacon) continue;
        QFile::remove(records.at(i).file);
        QFile::remove(RecordFileOf(records.at(i).file));
    }
}

void Keeper::SetPort(int comNumber, const QString& device) {
    comNumber_ = comNumber;
    device_ = device;
}

QString Keeper::KeepProgram(const QByteArray& message, bool synchronized) {
    last_.clear();
    Record record;
    record.comNumber = comNumber_;
    record.device = device_;
    record.stableName = QFile::decodeName(QByteArray::fromStdString(Serial::StableName(Native(device_))));
    record.synchronized = synchronized;
    QString error;
    const std::optional<QString> file = Write(folder_, record, message, error);
    if (!file) return error;
    last_ = *file;
    return {};
}

QString Keeper::KeepSlots(const QByteArray& table) {
    if (last_.isEmpty()) return {};
    QString error;
    return AddSlotTable(last_, table, error) ? QString() : error;
}

}  // namespace Backups
