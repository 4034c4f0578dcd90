// Command files: New, Open, Save, Save As, the save prompt and the window caption.
#include <QDir>
#include <QFileInfo>
#include <QListWidget>

#include "app/ZB.h"
#include "platform/FileNames.h"
#include "platform/TextFile.h"

namespace {
// The memo holds at most this much text; a beacon string is about a hundred characters.
constexpr size_t kMemoCapacity = 1024 * 1024;

// The file system's bytes of a path, exactly as they were read (names need not be UTF-8).
std::string NativePath(const QString& path) {
    return FileNames::ToBytes(path);
}
}  // namespace

void TForm1::ShowFileCaption() {
    setWindowTitle(QStringLiteral("Zindle Beacon: ") +
                   FileNames::ForDisplay(QFileInfo(CommandFileName).fileName()));
}

void TForm1::WriteMemo(const QString& path) {
    SaveCommandFile(NativePath(path), MemoText().toStdString());
}

void TForm1::LoadMemo(const QString& path) {
    SetMemoText(QByteArray::fromStdString(LoadCommandFile(NativePath(path), kMemoCapacity)));
}

void TForm1::TakeMemoAsUnchanged() {
    unchangedText_ = MemoText();
    Modified = false;
}

bool TForm1::InDefaultFile() const {
    return !folders_.Documents.isEmpty() && CommandFileName == folders_.DefaultCommandFile();
}

bool TForm1::SavePrompt() {
    if (!Modified) return true;
    switch (dialogs_.Warning(QStringLiteral("Warning"), QStringLiteral("Save changes?"))) {
        case IDialogs::TAnswer::Yes:
            WriteMemo(CommandFileName);
            TakeMemoAsUnchanged();
            return true;
        case IDialogs::TAnswer::No:
            return true;
        case IDialogs::TAnswer::Cancel:
            break;
    }
    return false;
}

// The empty memo of New is nobody's change: closing right after asks nothing.
void TForm1::new1Click(QObject*) {
    if (!SavePrompt()) return;
    ++programEdits_;
    ZBCommand->clear();
    --programEdits_;
    Sequence->clear();
    TakeMemoAsUnchanged();
}

void TForm1::Open1Click(QObject*) {
    if (!SavePrompt()) return;
    OpenDialog1.InitialDir = InDefaultFile()             ? folders_.Documents
                             : CommandFileName.isEmpty() ? QString()
                                                         : QFileInfo(CommandFileName).absolutePath();
    QString chosen;
    if (!dialogs_.OpenFile(OpenDialog1, chosen)) return;
    CommandFileName = QFileInfo(chosen).absoluteFilePath();
    LoadMemo(CommandFileName);
    TakeMemoAsUnchanged();
    UpdateSequence();
    ShowFileCaption();
}

// A kept previous program of the beacon: its message goes into the memo (as a change to the current
// file, which the backup does not become) and a synchronized beacon's slot table into the GPS menu.
// Programming it then restores the beacon, and keeps a backup of what it replaces.
void TForm1::OpenBackup1Click(QObject*) {
    if (!SavePrompt()) return;
    TFileDialogRequest request = OpenDialog1;
    request.InitialDir = BackupsFolderPath();
    // The newest backup is offered: the dialog lists by name, and the names are the backups' times.
    const QList<Backups::Record> kept = Backups::List(request.InitialDir);
    request.FileName = kept.isEmpty() ? QString() : QFileInfo(kept.first().file).fileName();
    QString chosen;
    if (!dialogs_.OpenFile(request, chosen)) return;
    const QString path = QFileInfo(chosen).absoluteFilePath();
    LoadMemo(path);
    if (const std::optional<Backups::Record> record = Backups::ReadRecord(path);
        record && record->slotTable.size() >= GPSSlots.size()) {
        for (int i = 0; i < GPSSlots.size(); ++i)
            SetSlotTicked(i, record->slotTable.at(i) == '1');
    }
    UpdateSequence();
    SetStatusText(QStringLiteral("Backup opened: ") + QFileInfo(path).fileName());
}

void TForm1::Save1Click(QObject*) {
    WriteMemo(CommandFileName);
    TakeMemoAsUnchanged();
}

void TForm1::SaveAs1Click(QObject*) {
    SaveDialog1.FileName = InDefaultFile()
                               ? QDir(folders_.Documents).filePath(QFileInfo(CommandFileName).fileName())
                               : CommandFileName;
    QString chosen;
    if (!dialogs_.SaveFile(SaveDialog1, chosen)) return;
    CommandFileName = QFileInfo(chosen).absoluteFilePath();
    WriteMemo(CommandFileName);
    TakeMemoAsUnchanged();
    ShowFileCaption();
}
